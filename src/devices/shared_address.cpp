#include "devices/shared_address.h"

namespace corvane {

std::vector<std::size_t> othersSharingAddress(const std::vector<std::uint32_t>& addresses,
                                              std::size_t index) {
    std::vector<std::size_t> others;
    for (std::size_t other = 0; other < addresses.size(); ++other) {
        if (other != index && addresses[other] == addresses[index]) {
            others.push_back(other);
        }
    }
    return others;
}

std::vector<std::size_t> othersSharingAddress(const DeviceList& devices, std::size_t row) {
    std::vector<std::uint32_t> addresses;
    addresses.reserve(devices.size());
    for (const DeviceRecord& record : devices) {
        addresses.push_back(record.ipAddress);
    }
    return othersSharingAddress(addresses, row);
}

std::vector<std::size_t> othersSharingAddress(const std::vector<DeviceHello>& found,
                                              std::size_t index) {
    std::vector<std::uint32_t> addresses;
    addresses.reserve(found.size());
    for (const DeviceHello& hello : found) {
        // A copy: the record is packed, and push_back would bind a reference to a field
        // that need not be aligned.
        const std::uint32_t address = hello.ipAddress;
        addresses.push_back(address);
    }
    return othersSharingAddress(addresses, index);
}

}  // namespace corvane
