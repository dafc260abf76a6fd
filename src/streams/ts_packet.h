// The fixed header of a 188-byte transport stream packet, read in place. Callers pass
// whole packets only; nothing here checks a length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

inline constexpr std::size_t kTsPacketSize = 188;
inline constexpr std::uint8_t kTsSyncByte = 0x47;
inline constexpr std::uint16_t kPatPid = 0x0000;
inline constexpr std::uint16_t kNullPid = 0x1FFF;
inline constexpr std::size_t kPidCount = 0x2000;

inline std::uint16_t tsPid(const std::uint8_t* packet) {
    return static_cast<std::uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}
inline bool tsUnitStart(const std::uint8_t* packet) {
    return (packet[1] & 0x40) != 0;
}
inline bool tsScrambled(const std::uint8_t* packet) {
    return (packet[3] & 0xC0) != 0;
}
inline bool tsHasPayload(const std::uint8_t* packet) {
    return (packet[3] & 0x10) != 0;
}
inline bool tsHasAdaptation(const std::uint8_t* packet) {
    return (packet[3] & 0x20) != 0;
}
inline std::uint8_t tsContinuity(const std::uint8_t* packet) {
    return packet[3] & 0x0F;
}
// The adaptation field's discontinuity indicator (false without an adaptation field).
inline bool tsDiscontinuity(const std::uint8_t* packet) {
    return tsHasAdaptation(packet) && packet[4] > 0 && (packet[5] & 0x80) != 0;
}
// Offset of the payload inside the packet, or kTsPacketSize when there is none or
// the adaptation field claims more room than the packet has.
inline std::size_t tsPayloadOffset(const std::uint8_t* packet) {
    if (!tsHasPayload(packet)) {
        return kTsPacketSize;
    }
    if (!tsHasAdaptation(packet)) {
        return 4;
    }
    const std::size_t offset = 5 + std::size_t{packet[4]};
    return offset < kTsPacketSize ? offset : kTsPacketSize;
}

}  // namespace corvane
