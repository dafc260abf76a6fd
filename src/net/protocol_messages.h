// The tagged datagrams spoken with the modules, as pure functions over bytes: no
// sockets here, so every layout can be checked against tables of byte strings.
//
// Every message starts with an 8-byte ASCII tag (no terminator, compared as raw
// bytes, case-sensitive); 16-bit numbers travel big-endian; MAC and IPv4 addresses
// travel in wire order and are copied unchanged between memory and message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/wire_types.h"

namespace corvane {

// Socket A talks from and to port 9100, socket B from and to port 9101.
inline constexpr std::uint16_t kDevicePortA = 9100;
inline constexpr std::uint16_t kDevicePortB = 9101;

inline constexpr std::size_t kTagLength = 8;
inline constexpr std::string_view kSearchRequestTag = "WiZnLiSt";
inline constexpr std::string_view kSearchReplyTag = "WiZnHeLo";
inline constexpr std::string_view kNetworkSettingsTag = "TiBbsEtA";
inline constexpr std::string_view kStatusRequestTag = "WiZnAsGt";
inline constexpr std::string_view kStatusReplyTag = "WiZnStAs";
inline constexpr std::string_view kSettingsRequestTag = "TiBbaSiC";
inline constexpr std::string_view kPassportRequestTag = "WiZnGpAs";
inline constexpr std::string_view kPassportReplyTag = "WiZnPaSs";

// Every request is 26 bytes except the settings request (30, the single form).
inline constexpr std::size_t kRequestLength = 26;
inline constexpr std::size_t kSettingsRequestLength = 30;
inline constexpr std::size_t kSearchReplyMinLength = sizeof(DeviceHello);  // 30
inline constexpr std::size_t kStatusReplyMinLength = kTagLength;           // 8
inline constexpr std::size_t kSingleFormLength = 30;
inline constexpr std::size_t kStreamEntryLength = 16;
inline constexpr std::size_t kPassportReplyMinLength = 290;

// The wire flag word carries flags bit 0 in bit 4 and flags bit 1 in bit 5.
inline constexpr std::uint16_t kFlagWordKeptBits = 0xFF0F;

using Request = std::array<std::uint8_t, kRequestLength>;
using SettingsRequest = std::array<std::uint8_t, kSettingsRequestLength>;

// True when `length` bytes hold at least a tag and their first 8 bytes are `tag`.
bool hasTag(const std::uint8_t* bytes, std::size_t length, std::string_view tag);

// "WiZnLiSt", searchClass big-endian, zeros.
Request buildSearchRequest(std::uint16_t searchClass);

// Accepts a datagram of at least 30 bytes tagged exactly "WiZnHeLo" and stores its
// first 30 bytes unchanged in `hello`; anything else leaves `hello` untouched.
bool decodeSearchReply(const std::uint8_t* bytes, std::size_t length, DeviceHello& hello);

// "TiBbsEtA", the module's MAC, then the new address, mask and gateway, octets in order.
Request buildNetworkSettingsRequest(const MacAddress& mac, Ipv4Address ip, Ipv4Address mask,
                                    Ipv4Address gateway);

// "WiZnAsGt" and "WiZnGpAs", each followed by 18 zero bytes.
Request buildStatusRequest();
Request buildPassportRequest();

// Zeroes `settings`, then decodes a "WiZnStAs" reply of `length` bytes: the entry-list
// form when length >= 24 and (length - 8) is a multiple of 16, otherwise the single
// form (bytes the reply lacks count as zero). False, with `settings` all zero, when
// the tag is wrong or the reply is shorter than the tag.
bool decodeStatusReply(const std::uint8_t* bytes, std::size_t length, StreamSettings& settings);

// The 30-byte single-form settings request "TiBbaSiC" built from `settings`.
SettingsRequest buildSettingsRequest(const StreamSettings& settings);

// Zeroes `data` and copies the first min(length, 418) bytes into it (so a reply with
// an unexpected tag is still there to look at). True when the reply has at least
// 290 bytes and the tag "WiZnPaSs".
bool decodePassportReply(const std::uint8_t* bytes, std::size_t length, PassportData& data);

}  // namespace corvane
