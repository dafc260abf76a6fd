// What one datagram carries: transport stream packets either straight after the UDP
// header or behind an RTP header. The module's protocol setting says which to expect;
// what actually arrives is reported, so a module sending the other form is seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

enum class Encapsulation : std::uint8_t { rtp, udp };

// A module's protocol setting, in the order of its stored index.
enum class StreamProtocol : std::uint8_t { rtpPlus = 0, rtp = 1, udp = 2, unknown = 0xFF };

// "rtp" or "udp".
std::string_view encapsulationName(Encapsulation encapsulation);
// RTP+ and RTP carry RTP; UDP bare packets; nothing for an unknown setting.
std::optional<Encapsulation> expectedEncapsulation(StreamProtocol protocol);
// The setting from its stored index (0 RTP+, 1 RTP, 2 UDP; anything else unknown).
StreamProtocol streamProtocolFromIndex(int index);

struct DatagramPayload {
    Encapsulation encapsulation = Encapsulation::udp;
    std::optional<std::uint16_t> rtpSequence;
    std::uint8_t rtpPayloadType = 0;
    const std::uint8_t* packets = nullptr;
    std::size_t packetCount = 0;
    std::size_t leftoverBytes = 0;  // bytes after the last whole 188-byte packet
};

// Splits a datagram. A datagram starting with the sync byte is bare UDP (an RTP
// version 2 header can never start with it); one with a valid RTP header is RTP when
// it says payload type 33 or RTP is expected; anything else is taken as bare packets,
// whose sync bytes the checks then find wrong.
DatagramPayload unwrapDatagram(const std::uint8_t* data, std::size_t length,
                               StreamProtocol protocol);

}  // namespace corvane
