// Where a stream lands: a multicast group (any-source, or source-specific when a
// source is named) or a unicast address of this computer, and a port. Written as
// "[SOURCE@]A.B.C.D:PORT".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct StreamDestination {
    std::uint32_t address = 0;  // stored form (wire order in memory)
    std::uint16_t port = 0;     // host order
    std::uint32_t source = 0;   // stored form; 0: any source

    bool isMulticast() const;
    // "A.B.C.D:PORT"; sourceText() is "A.B.C.D" or empty.
    std::string text() const;
    std::string sourceText() const;
    bool operator==(const StreamDestination&) const = default;
};

// Parses "[SOURCE@]A.B.C.D:PORT"; on failure `error` says what is wrong.
std::optional<StreamDestination> parseStreamDestination(std::string_view text, std::string& error);

std::string storedIpv4Text(std::uint32_t stored);

}  // namespace corvane
