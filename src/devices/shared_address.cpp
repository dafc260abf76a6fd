#include "devices/shared_address.h"

namespace corvane {

std::vector<std::size_t> othersSharingAddress(const std::vector<Ipv4Address>& addresses,
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
    std::vector<Ipv4Address> addresses;
    addresses.reserve(devices.size());
    for (const DeviceRecord& record : devices) {
        addresses.push_back(record.ipAddress);
    }
    return othersSharingAddress(addresses, row);
}

std::vector<std::size_t> othersSharingAddress(const std::vector<DeviceHello>& found,
                                              std::size_t index) {
    std::vector<Ipv4Address> addresses;
    addresses.reserve(found.size());
    for (const DeviceHello& hello : found) {
        addresses.push_back(Ipv4Address::fromNetworkOrder(hello.ipAddress));
    }
    return othersSharingAddress(addresses, index);
}

}  // namespace corvane
