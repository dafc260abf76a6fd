// Modules sharing an IP address: whichever of them a command to that address reaches is
// a matter of chance, so every front end points them out. The one rule they all use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "devices/device_record.h"
#include "net/wire_types.h"

namespace corvane {

// The positions, in order, of the other entries of `addresses` equal to the one at `index`.
std::vector<std::size_t> othersSharingAddress(const std::vector<Ipv4Address>& addresses,
                                              std::size_t index);

// The same over a device list's rows and over a search's records.
std::vector<std::size_t> othersSharingAddress(const DeviceList& devices, std::size_t row);
std::vector<std::size_t> othersSharingAddress(const std::vector<DeviceHello>& found,
                                              std::size_t index);

}  // namespace corvane
