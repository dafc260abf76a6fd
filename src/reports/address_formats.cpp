#include "reports/address_formats.h"

#include <cstdio>

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

bool isValidDeviceAddress(Ipv4Address address) {
    const auto octets = address.octets();
    const unsigned first = octets[0];
    const unsigned last = octets[3];
    if (first == 0 || first == 127 || first >= 224) {
        return false;
    }
    return last != 0 && last != 255;
}

}  // namespace corvane
