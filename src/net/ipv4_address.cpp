#include "net/ipv4_address.h"

#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

constexpr std::size_t kMaxOctetDigits = 3;

// One dotted part: 0 to 255 in one to three decimal digits, without a leading zero
// (other readers take "010" as octal 8).
std::optional<std::uint8_t> parseOctet(std::string_view part) {
    if (part.empty() || part.size() > kMaxOctetDigits || (part.size() > 1 && part[0] == '0')) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

Ipv4Address Ipv4Address::fromNetworkOrder(std::uint32_t value) {
    Octets octets;
    std::memcpy(octets.data(), &value, octets.size());
    return fromOctets(octets);
}

std::uint32_t Ipv4Address::networkOrder() const {
    const Octets bytes = octets();
    std::uint32_t value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

std::optional<Ipv4Address> Ipv4Address::parse(std::string_view text) {
    Octets octets{};
    for (std::size_t i = 0; i < octets.size(); ++i) {
        const bool last = i + 1 == octets.size();
        const std::size_t end = last ? text.size() : text.find('.');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const auto octet = parseOctet(text.substr(0, end));
        if (!octet) {
            return std::nullopt;
        }
        octets[i] = *octet;
        text.remove_prefix(last ? end : end + 1);
    }
    return fromOctets(octets);
}

std::string Ipv4Address::text() const {
    const Octets o = octets();
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
    return text;
}

}  // namespace corvane
