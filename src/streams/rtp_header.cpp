#include "streams/rtp_header.h"

namespace corvane {

namespace {

constexpr std::size_t kFixedHeader = 12;
constexpr std::size_t kExtensionHeader = 4;

}  // namespace

std::optional<RtpHeader> decodeRtpHeader(const std::uint8_t* data, std::size_t length) {
    if (length < kFixedHeader || (data[0] >> 6) != 2) {
        return std::nullopt;
    }
    std::size_t offset = kFixedHeader + 4 * std::size_t{data[0] & 0x0Fu};
    if ((data[0] & 0x10) != 0) {
        if (length < offset + kExtensionHeader) {
            return std::nullopt;
        }
        const std::size_t words = std::size_t{data[offset + 2]} << 8 | data[offset + 3];
        offset += kExtensionHeader + 4 * words;
    }
    std::size_t end = length;
    if ((data[0] & 0x20) != 0) {
        const std::size_t padding = data[length - 1];
        if (padding == 0 || padding > end) {
            return std::nullopt;
        }
        end -= padding;
    }
    if (offset > end) {
        return std::nullopt;
    }
    RtpHeader header;
    header.sequence = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
    header.payloadType = data[1] & 0x7F;
    header.payloadOffset = offset;
    header.payloadLength = end - offset;
    return header;
}

}  // namespace corvane
