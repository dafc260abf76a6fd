// One IPv4 address as a value. Every conversion to or from a 32-bit number names the
// byte order it uses, so no caller has to know how the value is kept, and the two text
// forms the program writes (dotted octets, and the settings file's integer) are made and
// read here only.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class Ipv4Address {
public:
    using Octets = std::array<std::uint8_t, 4>;

    constexpr Ipv4Address() = default;  // 0.0.0.0

    // The octets in dotted order.
    static constexpr Ipv4Address fromOctets(std::uint8_t first, std::uint8_t second,
                                            std::uint8_t third, std::uint8_t fourth) {
        return fromHostOrder(std::uint32_t{first} << 24 | std::uint32_t{second} << 16 |
                             std::uint32_t{third} << 8 | std::uint32_t{fourth});
    }
    static constexpr Ipv4Address fromOctets(const Octets& octets) {
        return fromOctets(octets[0], octets[1], octets[2], octets[3]);
    }
    // The first octet most significant: what ntohl gives and an IP-address field holds.
    static constexpr Ipv4Address fromHostOrder(std::uint32_t value) {
        Ipv4Address address;
        address.m_hostOrder = value;
        return address;
    }
    // The first octet at the lowest address in memory: sin_addr.s_addr, and the address
    // fields of the records exchanged with the modules.
    static Ipv4Address fromNetworkOrder(std::uint32_t value);
    // The settings file's number: the four octets read as a little-endian 32-bit integer
    // (the first octet least significant) and written as a signed decimal, as the file
    // has always held them.
    static constexpr Ipv4Address fromSettingsInteger(std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        return fromOctets(static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                          static_cast<std::uint8_t>(bits >> 16),
                          static_cast<std::uint8_t>(bits >> 24));
    }
    // Four decimal octets 0 to 255 joined by dots: one to three digits each, no leading
    // zero, no sign or blank. Stricter than inet_aton on purpose: a typo is refused
    // instead of being read as another address ("010.1.1.1" is not octal, "10.1.1" not
    // 10.1.0.1).
    static std::optional<Ipv4Address> parse(std::string_view text);

    constexpr Octets octets() const {
        return {static_cast<std::uint8_t>(m_hostOrder >> 24),
                static_cast<std::uint8_t>(m_hostOrder >> 16),
                static_cast<std::uint8_t>(m_hostOrder >> 8),
                static_cast<std::uint8_t>(m_hostOrder)};
    }
    constexpr std::uint32_t hostOrder() const { return m_hostOrder; }
    std::uint32_t networkOrder() const;
    constexpr std::int32_t settingsInteger() const {
        const Octets o = octets();
        return static_cast<std::int32_t>(std::uint32_t{o[0]} | std::uint32_t{o[1]} << 8 |
                                         std::uint32_t{o[2]} << 16 | std::uint32_t{o[3]} << 24);
    }
    // "192.168.0.10"; the unspecified address gives "0.0.0.0".
    std::string text() const;

    // 0.0.0.0: no address (an unset field, "any source", a local address never chosen).
    constexpr bool isUnspecified() const { return m_hostOrder == 0; }
    constexpr bool isMulticast() const { return (m_hostOrder >> 28) == 0xE; }

    // Dotted order: 9.0.0.1 before 10.0.0.0.
    friend constexpr auto operator<=>(const Ipv4Address&, const Ipv4Address&) = default;

private:
    std::uint32_t m_hostOrder = 0;
};

inline constexpr Ipv4Address kBroadcastAddress = Ipv4Address::fromHostOrder(0xFFFFFFFFu);

}  // namespace corvane

template <>
struct std::hash<corvane::Ipv4Address> {
    std::size_t operator()(corvane::Ipv4Address address) const noexcept {
        return std::hash<std::uint32_t>{}(address.hostOrder());
    }
};
