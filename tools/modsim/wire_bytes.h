// Byte helpers and the tags the simulated modules speak. These are written here from
// the wire tables on purpose, independently of the program's own message code, so
// that a mistake on one side shows up as a failing exchange with the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace corvane::modsim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kTagLength = 8;
inline constexpr std::string_view kSearchTag = "WiZnLiSt";
inline constexpr std::string_view kHelloTag = "WiZnHeLo";
inline constexpr std::string_view kNetworkSettingsTag = "TiBbsEtA";
inline constexpr std::string_view kStatusRequestTag = "WiZnAsGt";
inline constexpr std::string_view kStatusReplyTag = "WiZnStAs";
inline constexpr std::string_view kStreamSettingsTag = "TiBbaSiC";
inline constexpr std::string_view kPassportRequestTag = "WiZnGpAs";
inline constexpr std::string_view kPassportReplyTag = "WiZnPaSs";

// Shortest request of each kind that a module acts on; anything shorter is only logged.
inline constexpr std::size_t kShortRequestLength = 26;
inline constexpr std::size_t kStreamSettingsRequestLength = 30;

inline constexpr std::size_t kHelloLength = 30;
inline constexpr std::size_t kSingleStatusLength = 30;
inline constexpr std::size_t kStatusEntryLength = 16;
inline constexpr std::size_t kPassportMaxLength = 418;
inline constexpr std::size_t kMaxDatagram = 1500;

inline bool hasTag(const std::uint8_t* data, std::size_t length, std::string_view tag) {
    return length >= kTagLength && std::memcmp(data, tag.data(), kTagLength) == 0;
}

inline void putTag(Bytes& out, std::string_view tag) {
    out.insert(out.end(), tag.begin(), tag.begin() + kTagLength);
}

inline void putU16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

inline std::uint16_t getU16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// IPv4 addresses are kept in host order inside the simulator (so racks can count up)
// and written most significant octet first, which is the wire order.
inline void putIpv4(std::uint8_t* at, std::uint32_t hostOrder) {
    at[0] = static_cast<std::uint8_t>(hostOrder >> 24);
    at[1] = static_cast<std::uint8_t>(hostOrder >> 16);
    at[2] = static_cast<std::uint8_t>(hostOrder >> 8);
    at[3] = static_cast<std::uint8_t>(hostOrder);
}

inline std::uint32_t getIpv4(const std::uint8_t* at) {
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
           std::uint32_t{at[3]};
}

}  // namespace corvane::modsim
