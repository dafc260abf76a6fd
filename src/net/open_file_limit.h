// A sweep keeps two sockets open per module in flight, and the exporter one more per
// connection; the usual soft limit of 1024 open files is far below what the hard limit
// allows. Front ends raise the soft limit to what they need before they open sockets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

// Raises the soft limit on open files to at least `wanted`, or to the hard limit where
// that is lower; never lowers it. Returns the soft limit in force afterwards, or
// nothing with `error` set when the limit cannot be read or changed.
std::optional<std::uint64_t> raiseOpenFileLimit(std::uint64_t wanted, std::string& error);

}  // namespace corvane
