#include "net/protocol_messages.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {

static_assert(kSearchRequestTag.size() == kTagLength && kSearchReplyTag.size() == kTagLength &&
              kNetworkSettingsTag.size() == kTagLength && kStatusRequestTag.size() == kTagLength &&
              kStatusReplyTag.size() == kTagLength && kSettingsRequestTag.size() == kTagLength &&
              kPassportRequestTag.size() == kTagLength && kPassportReplyTag.size() == kTagLength);

// Offsets of the single form, shared by the status reply and the settings request.
constexpr std::size_t kProtocolOffset = 8;
constexpr std::size_t kModeOffset = 9;
constexpr std::size_t kPortOffset = 10;
constexpr std::size_t kDestinationOffset = 12;
constexpr std::size_t kFlagWordOffset = 16;
constexpr std::size_t kAuxWord1Offset = 18;
constexpr std::size_t kAuxAddressOffset = 20;
constexpr std::size_t kAuxWord2Offset = 24;
constexpr std::size_t kAuxByte1Offset = 26;
constexpr std::size_t kAuxByte2Offset = 28;
constexpr std::size_t kAuxByte3Offset = 29;

// The smallest entry-list reply is the tag and one entry.
constexpr std::size_t kEntryListMinLength = kTagLength + kStreamEntryLength;
constexpr std::uint16_t kEntryKindMask = 0xF000;
constexpr std::uint16_t kOutputKind = 0x1000;
constexpr std::uint16_t kInputKind = 0x2000;
constexpr int kFlagsShift = 4;
constexpr std::uint8_t kFlagsMask = 0x03;

void writeTag(std::uint8_t* out, std::string_view tag) {
    std::memcpy(out, tag.data(), kTagLength);
}

void writeU16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value & 0xFF);
}

void writeAddress(std::uint8_t* out, Ipv4Address address) {
    const Ipv4Address::Octets octets = address.octets();
    std::memcpy(out, octets.data(), octets.size());
}

// Reads of a reply that may be shorter than the field: missing bytes count as zero.
class ReplyReader {
public:
    ReplyReader(const std::uint8_t* bytes, std::size_t length) : m_bytes(bytes), m_length(length) {}

    std::uint8_t u8(std::size_t offset) const {
        return offset < m_length ? m_bytes[offset] : std::uint8_t{0};
    }
    std::uint16_t u16(std::size_t offset) const {
        return static_cast<std::uint16_t>(u8(offset) << 8 | u8(offset + 1));
    }
    // An address field of a packed record: network order.
    std::uint32_t address(std::size_t offset) const {
        std::array<std::uint8_t, 4> octets{u8(offset), u8(offset + 1), u8(offset + 2),
                                           u8(offset + 3)};
        std::uint32_t stored = 0;
        std::memcpy(&stored, octets.data(), octets.size());
        return stored;
    }

private:
    const std::uint8_t* m_bytes;
    std::size_t m_length;
};

Request taggedRequest(std::string_view tag) {
    Request request{};
    writeTag(request.data(), tag);
    return request;
}

void decodeSingleForm(const ReplyReader& reply, StreamSettings& settings) {
    settings.protocol = reply.u8(kProtocolOffset);
    settings.mode = reply.u8(kModeOffset);
    settings.destinationPort = reply.u16(kPortOffset);
    settings.destinationIp = reply.address(kDestinationOffset);
    const std::uint16_t flagWord = reply.u16(kFlagWordOffset);
    settings.flagWord = flagWord & kFlagWordKeptBits;
    settings.flags = static_cast<std::uint8_t>((flagWord >> kFlagsShift) & kFlagsMask);
    settings.auxWord1 = reply.u16(kAuxWord1Offset);
    settings.auxAddress = reply.address(kAuxAddressOffset);
    settings.auxWord2 = reply.u16(kAuxWord2Offset);
    settings.auxByte1 = reply.u8(kAuxByte1Offset);
    // Byte 27 is not part of the record.
    settings.auxByte2 = reply.u8(kAuxByte2Offset);
    settings.auxByte3 = reply.u8(kAuxByte3Offset);
}

void decodeEntryList(const ReplyReader& reply, std::size_t length, StreamSettings& settings) {
    for (std::size_t o = kTagLength; o < length; o += kStreamEntryLength) {
        const std::uint16_t control = reply.u16(o);
        const std::uint16_t kind = control & kEntryKindMask;
        if (kind == kOutputKind && settings.outputCount < kMaxStreamEntries) {
            OutputEntry& entry = settings.outputs[settings.outputCount++];
            entry.control = control;
            entry.ip = reply.address(o + 2);
            entry.port = reply.u16(o + 6);
            entry.auxEntryWord = reply.u16(o + 8);
            entry.txParams = reply.u16(o + 10);
        } else if (kind == kInputKind && settings.inputCount < kMaxStreamEntries) {
            InputEntry& entry = settings.inputs[settings.inputCount++];
            entry.control = control;
            entry.ip = reply.address(o + 2);
            entry.port = reply.u16(o + 6);
        }
        // Other kinds, and entries of a kind whose 16 places are full, are skipped.
    }
}

}  // namespace

bool hasTag(const std::uint8_t* bytes, std::size_t length, std::string_view tag) {
    return length >= kTagLength && tag.size() == kTagLength &&
           std::memcmp(bytes, tag.data(), kTagLength) == 0;
}

Request buildSearchRequest(std::uint16_t searchClass) {
    Request request = taggedRequest(kSearchRequestTag);
    writeU16(request.data() + kTagLength, searchClass);
    return request;
}

bool decodeSearchReply(const std::uint8_t* bytes, std::size_t length, DeviceHello& hello) {
    if (length < kSearchReplyMinLength || !hasTag(bytes, length, kSearchReplyTag)) {
        return false;
    }
    DeviceHello decoded;
    std::memcpy(decoded.tag.data(), bytes, kTagLength);
    std::memcpy(decoded.mac.data(), bytes + 8, decoded.mac.size());
    std::memcpy(&decoded.ipAddress, bytes + 14, 4);
    std::memcpy(&decoded.networkMask, bytes + 18, 4);
    std::memcpy(&decoded.defaultGateway, bytes + 22, 4);
    std::memcpy(decoded.reserved.data(), bytes + 26, decoded.reserved.size());
    std::memcpy(decoded.deviceClass.data(), bytes + 28, decoded.deviceClass.size());
    hello = decoded;
    return true;
}

Request buildNetworkSettingsRequest(const MacAddress& mac, Ipv4Address ip, Ipv4Address mask,
                                    Ipv4Address gateway) {
    Request request = taggedRequest(kNetworkSettingsTag);
    std::memcpy(request.data() + 8, mac.data(), mac.size());
    writeAddress(request.data() + 14, ip);
    writeAddress(request.data() + 18, mask);
    writeAddress(request.data() + 22, gateway);
    return request;
}

Request buildStatusRequest() {
    return taggedRequest(kStatusRequestTag);
}

Request buildPassportRequest() {
    return taggedRequest(kPassportRequestTag);
}

bool decodeStatusReply(const std::uint8_t* bytes, std::size_t length, StreamSettings& settings) {
    settings = StreamSettings{};
    if (!hasTag(bytes, length, kStatusReplyTag)) {
        return false;
    }
    const ReplyReader reply(bytes, length);
    if (length >= kEntryListMinLength && (length - kTagLength) % kStreamEntryLength == 0) {
        decodeEntryList(reply, length, settings);
    } else {
        decodeSingleForm(reply, settings);
    }
    return true;
}

SettingsRequest buildSettingsRequest(const StreamSettings& settings) {
    SettingsRequest request{};
    writeTag(request.data(), kSettingsRequestTag);
    request[kProtocolOffset] = settings.protocol;
    request[kModeOffset] = settings.mode;
    writeU16(request.data() + kPortOffset, settings.destinationPort);
    writeAddress(request.data() + kDestinationOffset,
                 Ipv4Address::fromNetworkOrder(settings.destinationIp));
    const auto flagWord = static_cast<std::uint16_t>(
        (settings.flagWord & kFlagWordKeptBits) | ((settings.flags & kFlagsMask) << kFlagsShift));
    writeU16(request.data() + kFlagWordOffset, flagWord);
    writeU16(request.data() + kAuxWord1Offset, settings.auxWord1);
    writeAddress(request.data() + kAuxAddressOffset,
                 Ipv4Address::fromNetworkOrder(settings.auxAddress));
    writeU16(request.data() + kAuxWord2Offset, settings.auxWord2);
    request[kAuxByte1Offset] = settings.auxByte1;
    // Byte 27 stays zero.
    request[kAuxByte2Offset] = settings.auxByte2;
    request[kAuxByte3Offset] = settings.auxByte3;
    return request;
}

bool decodePassportReply(const std::uint8_t* bytes, std::size_t length, PassportData& data) {
    data.fill(0);
    const std::size_t kept = std::min(length, data.size());
    if (kept > 0) {
        std::memcpy(data.data(), bytes, kept);
    }
    return length >= kPassportReplyMinLength && hasTag(bytes, length, kPassportReplyTag);
}

}  // namespace corvane
