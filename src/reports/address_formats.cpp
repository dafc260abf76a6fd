#include "reports/address_formats.h"

#include <cstdio>
#include <cstring>

namespace corvane {

std::string formatMacAddress(const MacAddress& octets) {
    bool allZero = true;
    for (std::uint8_t octet : octets) {
        allZero = allZero && octet == 0;
    }
    if (allZero) {
        return {};
    }
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", octets[0], octets[1],
                  octets[2], octets[3], octets[4], octets[5]);
    return text;
}

std::string formatIpAddress(std::uint32_t storedAddress) {
    const auto octets = ipOctets(storedAddress);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

bool isValidDeviceAddress(std::uint32_t storedAddress) {
    const auto octets = ipOctets(storedAddress);
    const unsigned first = octets[0];
    const unsigned last = octets[3];
    if (first == 0 || first == 127 || first >= 224) {
        return false;
    }
    return last != 0 && last != 255;
}

std::uint32_t ipFromOctets(std::uint8_t first, std::uint8_t second, std::uint8_t third,
                           std::uint8_t fourth) {
    const std::uint8_t octets[4] = {first, second, third, fourth};
    std::uint32_t stored;
    std::memcpy(&stored, octets, sizeof stored);
    return stored;
}

std::array<std::uint8_t, 4> ipOctets(std::uint32_t storedAddress) {
    std::array<std::uint8_t, 4> octets;
    std::memcpy(octets.data(), &storedAddress, octets.size());
    return octets;
}

std::uint32_t reverseAddressBytes(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) |
           (value << 24);
}

}  // namespace corvane
