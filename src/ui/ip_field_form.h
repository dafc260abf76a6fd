#pragma once

#include <QtGlobal>
#include <array>
#include <bit>
#include <cstdint>

namespace corvane {

// Two forms of one IPv4 address. The stored form (device records, datagrams, the settings
// file) holds the octets in wire order in memory, so its first byte is the first dotted octet.
// The field form, what CIpAddressEdit takes and gives, has the first octet most significant.
// Converting is the host-to-network swap: a reversal of the four bytes on our little-endian
// hosts, the same function in both directions.

constexpr quint32 storedToField(std::uint32_t stored) {
    const auto octets = std::bit_cast<std::array<std::uint8_t, 4>>(stored);
    return (quint32{octets[0]} << 24) | (quint32{octets[1]} << 16) | (quint32{octets[2]} << 8) |
           quint32{octets[3]};
}

constexpr std::uint32_t fieldToStored(quint32 field) {
    const std::array<std::uint8_t, 4> octets = {
        static_cast<std::uint8_t>(field >> 24), static_cast<std::uint8_t>(field >> 16),
        static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field)};
    return std::bit_cast<std::uint32_t>(octets);
}

}  // namespace corvane
