// Addresses as an operator types them on a command line, read strictly: only the forms
// the program itself writes are taken, so a typo is refused instead of being read as
// some other address ("010.1.1.1" is not silently octal, "10.1.1" not 10.0.1.1).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/wire_types.h"

namespace corvane {

// Four decimal octets 0 to 255 joined by dots: one to three digits each, no leading
// zero, no sign or blank. The stored form.
std::optional<std::uint32_t> parseIpv4(std::string_view text);

// Six pairs of hexadecimal digits, either case, joined by ':' or all by '-'.
std::optional<MacAddress> parseMac(std::string_view text);

// A UDP port, 1 to 65535, in decimal digits only.
std::optional<std::uint16_t> parsePort(std::string_view text);

struct Destination {
    std::uint32_t ip = 0;  // stored form
    std::uint16_t port = 0;

    friend bool operator==(const Destination&, const Destination&) = default;
};

// "A.B.C.D:PORT", each part as above.
std::optional<Destination> parseDestination(std::string_view text);

}  // namespace corvane
