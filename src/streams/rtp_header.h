// The RTP fixed header (version 2) in front of a datagram's transport stream packets:
// CSRCs and a header extension are skipped, padding is taken off the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvane {

inline constexpr std::uint8_t kRtpPayloadTypeMp2t = 33;

struct RtpHeader {
    std::uint16_t sequence = 0;
    std::uint8_t payloadType = 0;
    std::size_t payloadOffset = 0;  // first byte after the header, CSRCs and extension
    std::size_t payloadLength = 0;  // without padding
};

// The header of `data`, or nothing when it is not a whole RTP version 2 header.
std::optional<RtpHeader> decodeRtpHeader(const std::uint8_t* data, std::size_t length);

}  // namespace corvane
