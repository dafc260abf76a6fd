// Where a stream lands: a multicast group (any-source, or source-specific when a
// source is named) or a unicast address of this computer, and a port. Written as
// "[SOURCE@]A.B.C.D:PORT".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/ipv4_address.h"

namespace corvane {

struct StreamDestination {
    Ipv4Address address;
    std::uint16_t port = 0;  // host order
    Ipv4Address source;      // unspecified: any source

    bool isMulticast() const;
    // "A.B.C.D:PORT"; sourceText() is "A.B.C.D" or empty.
    std::string text() const;
    std::string sourceText() const;
    bool operator==(const StreamDestination&) const = default;
};

// Parses "[SOURCE@]A.B.C.D:PORT"; on failure `error` says what is wrong.
std::optional<StreamDestination> parseStreamDestination(std::string_view text, std::string& error);

}  // namespace corvane
