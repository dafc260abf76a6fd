// The modules a command is given, as operators name them: a position in the device
// list as `corvanectl list` shows it (1-based), a MAC looked up in that list, or a
// module address. Every target is resolved before anything is sent, so that one
// mistyped target costs nothing on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/device_record.h"

namespace CLI {
class Validator;
}

namespace corvane::cli {

struct ResolvedTarget {
    Ipv4Address ip;
    std::size_t position = 0;  // 1-based place in the device list; 0 when not from it
    std::string mac;           // as the list holds it; empty when not from it
};

// Text check for a TARGET argument: a position, six hex pairs or an address a module
// may have. Whether a position or a MAC is in the list is known only once it is read.
CLI::Validator targetForm();

// Whether `text` names its module through the device list (a position or a MAC).
bool needsDeviceList(const std::string& text);

// The module `text` names. Throws CommandError (usage) naming the target when a
// position is past the list's end, a MAC is not in the list (or more than once), or
// the listed module's address is not one a module may have.
ResolvedTarget resolveTarget(const std::string& text, const DeviceList& list);

class CliSession;

// Every one of `texts`, in order; the device list is read once, and only when a target
// needs it.
std::vector<ResolvedTarget> resolveTargets(const CliSession& session,
                                           const std::vector<std::string>& texts);

}  // namespace corvane::cli
