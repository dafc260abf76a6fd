// Building byte strings for the message tables: a tag, then the listed bytes, padded
// with zeros to a given length.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "net/ipv4_address.h"

namespace corvane::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes taggedBytes(std::string_view tag, std::initializer_list<std::uint8_t> body,
                         std::size_t totalLength) {
    Bytes bytes(tag.begin(), tag.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    bytes.resize(totalLength, 0);
    return bytes;
}

// An address as the interfaces take it.
constexpr Ipv4Address ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return Ipv4Address::fromOctets(a, b, c, d);
}

// Network order, as the packed records hold an address: the first dotted octet at the
// lowest address. Made here byte by byte, not by Ipv4Address, so each checks the other.
inline std::uint32_t packedIpv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::array<std::uint8_t, 4> octets{a, b, c, d};
    std::uint32_t stored = 0;
    std::memcpy(&stored, octets.data(), octets.size());
    return stored;
}

}  // namespace corvane::test
