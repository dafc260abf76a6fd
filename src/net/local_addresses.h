// The computer's own IPv4 addresses, the sources that the operator can talk from.
#pragma once

#include <cstdint>
#include <vector>

#include "net/wire_types.h"

namespace corvane {

// One row of the system's address table.
struct AddressTableRow {
    Ipv4Address address;
    Ipv4Address mask;
};

// Empties `list` and fills it from `rows`: 0.0.0.0 and addresses whose first octet is
// 127 or 255 are skipped, an address is kept once with the mask of its first row,
// and the list is in ascending dotted order. Returns whether the list is non-empty.
bool selectLocalAddresses(const std::vector<AddressTableRow>& rows,
                          std::vector<LocalAddress>& list);

// The same over the IPv4 addresses of this computer's interfaces. A failing query
// gives an empty list and false.
bool listLocalAddresses(std::vector<LocalAddress>& list);

}  // namespace corvane
