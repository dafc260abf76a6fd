// Text forms of MAC and IPv4 addresses and the rule for addresses a module may take.
// Addresses are held as octets in wire order everywhere; see net/wire_types.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "net/wire_types.h"

namespace corvane {

// "0A:1B:2C:3D:4E:5F"; the empty text for six zero octets (a MAC never learned).
std::string formatMacAddress(const MacAddress& octets);

// Dotted decimal of a stored-form address ("192.168.0.10"); 0 gives "0.0.0.0".
std::string formatIpAddress(std::uint32_t storedAddress);

// Whether a module may be given this address: not 0.x, 127.x or 224 and above,
// and a last octet other than 0 and 255. No network mask is consulted.
bool isValidDeviceAddress(std::uint32_t storedAddress);

// Stored form from dotted octets, and back.
std::uint32_t ipFromOctets(std::uint8_t first, std::uint8_t second, std::uint8_t third,
                           std::uint8_t fourth);
std::array<std::uint8_t, 4> ipOctets(std::uint32_t storedAddress);

// An IP-address input field gives and takes the address with the first octet most
// significant; the stored form has it at the lowest address. Converting between the
// two is a reversal of the four bytes, the same in both directions.
std::uint32_t reverseAddressBytes(std::uint32_t value);

}  // namespace corvane
