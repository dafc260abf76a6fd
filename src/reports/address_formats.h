// The text form of MAC addresses and the rule for addresses a module may take. An IPv4
// address's text forms belong to Ipv4Address (net/ipv4_address.h).
#pragma once

#include <string>

#include "net/ipv4_address.h"
#include "net/wire_types.h"

namespace corvane {

// "0A:1B:2C:3D:4E:5F"; the empty text for six zero octets (a MAC never learned).
std::string formatMacAddress(const MacAddress& octets);

// Whether a module may be given this address: not 0.x, 127.x or 224 and above,
// and a last octet other than 0 and 255. No network mask is consulted.
bool isValidDeviceAddress(Ipv4Address address);

}  // namespace corvane
