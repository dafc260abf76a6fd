// Passports used across the passport tests: the reply tag, the MAC 00:11:22:33:44:55
// and then a fixed pattern, cut to the length the module sent and zero beyond it,
// as the passport read leaves it.
#pragma once

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "net/wire_types.h"

namespace corvane::test {

inline PassportData makePassport(std::size_t receivedLength = kPassportDataSize) {
    constexpr std::string_view kTag = "WiZnPaSs";
    constexpr std::uint8_t kMac[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    PassportData data{};
    for (std::size_t i = 0; i < receivedLength && i < data.size(); ++i) {
        if (i < kTag.size()) {
            data[i] = static_cast<std::uint8_t>(kTag[i]);
        } else if (i < 14) {
            data[i] = kMac[i - 8];
        } else {
            data[i] = static_cast<std::uint8_t>((i - 14) * 7 + 3);
        }
    }
    return data;
}

// A dotted address, read by the system's inet_pton rather than by Ipv4Address.
inline Ipv4Address storedAddress(const char* dotted) {
    in_addr address{};
    if (inet_pton(AF_INET, dotted, &address) != 1) {
        throw std::invalid_argument(dotted);
    }
    return Ipv4Address::fromNetworkOrder(address.s_addr);
}

}  // namespace corvane::test
