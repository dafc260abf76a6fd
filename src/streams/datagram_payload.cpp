#include "streams/datagram_payload.h"

#include "streams/rtp_header.h"
#include "streams/ts_packet.h"

namespace corvane {

std::string_view encapsulationName(Encapsulation encapsulation) {
    return encapsulation == Encapsulation::rtp ? "rtp" : "udp";
}

std::optional<Encapsulation> expectedEncapsulation(StreamProtocol protocol) {
    switch (protocol) {
        case StreamProtocol::rtpPlus:
        case StreamProtocol::rtp:
            return Encapsulation::rtp;
        case StreamProtocol::udp:
            return Encapsulation::udp;
        case StreamProtocol::unknown:
            break;
    }
    return std::nullopt;
}

StreamProtocol streamProtocolFromIndex(int index) {
    return index >= 0 && index <= 2 ? static_cast<StreamProtocol>(index) : StreamProtocol::unknown;
}

DatagramPayload unwrapDatagram(const std::uint8_t* data, std::size_t length,
                               StreamProtocol protocol) {
    DatagramPayload payload;
    payload.packets = data;
    std::size_t bytes = length;
    if (length > 0 && data[0] != kTsSyncByte) {
        const auto rtp = decodeRtpHeader(data, length);
        if (rtp && (rtp->payloadType == kRtpPayloadTypeMp2t ||
                    expectedEncapsulation(protocol) == Encapsulation::rtp)) {
            payload.encapsulation = Encapsulation::rtp;
            payload.rtpSequence = rtp->sequence;
            payload.rtpPayloadType = rtp->payloadType;
            payload.packets = data + rtp->payloadOffset;
            bytes = rtp->payloadLength;
        }
    }
    payload.packetCount = bytes / kTsPacketSize;
    payload.leftoverBytes = bytes % kTsPacketSize;
    return payload;
}

}  // namespace corvane
