// Addresses as an operator types them on a command line, read strictly: only the forms
// the program itself writes are taken, so a typo is refused instead of being read as
// some other address. An IPv4 address alone is read by Ipv4Address::parse.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/ipv4_address.h"
#include "net/wire_types.h"

namespace corvane {

// Six pairs of hexadecimal digits, either case, joined by ':' or all by '-'.
std::optional<MacAddress> parseMac(std::string_view text);

// A UDP port, 1 to 65535, in decimal digits only.
std::optional<std::uint16_t> parsePort(std::string_view text);

struct Destination {
    Ipv4Address ip;
    std::uint16_t port = 0;

    friend bool operator==(const Destination&, const Destination&) = default;
};

// "A.B.C.D:PORT": the address as Ipv4Address::parse reads it, the port as above.
std::optional<Destination> parseDestination(std::string_view text);

}  // namespace corvane
