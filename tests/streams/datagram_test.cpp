// Datagrams before the checks: bare UDP against RTP by the protocol setting, the RTP
// header's optional parts, losses from sequence numbers (late and repeated datagrams
// are not losses) and the destination text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "streams/datagram_payload.h"
#include "streams/rtp_loss.h"
#include "streams/stream_destination.h"
#include "ts_builder.h"

namespace corvane {
namespace {

using test::Bytes;

TEST(StreamDatagrams, EncapsulationByContentAndSetting) {
    const std::vector<test::Packet> seven(7, test::tsPacket({}));
    Bytes withCsrcAndExtension = test::rtpDatagram(5, seven);
    withCsrcAndExtension[0] = 0x92;  // extension bit and two CSRCs
    const Bytes extras = {0, 0, 0, 1, 0, 0, 0, 2, 0xBE, 0xDE, 0x00, 0x01, 9, 9, 9, 9};
    withCsrcAndExtension.insert(withCsrcAndExtension.begin() + 12, extras.begin(), extras.end());
    Bytes padded = test::rtpDatagram(6, seven);
    padded[0] |= 0x20;
    padded.insert(padded.end(), {0, 0, 3});
    Bytes cut = test::datagramOf(seven);
    cut.resize(cut.size() - 10);
    struct Row {
        std::string name;
        Bytes datagram;
        StreamProtocol setting;
        Encapsulation expected;
        std::size_t packets;
        std::size_t leftover;
        std::optional<std::uint16_t> sequence;
    };
    const std::vector<Row> rows = {
        {"bare packets, set UDP", test::datagramOf(seven), StreamProtocol::udp, Encapsulation::udp,
         7, 0, std::nullopt},
        {"bare packets, set RTP: what arrives counts", test::datagramOf(seven), StreamProtocol::rtp,
         Encapsulation::udp, 7, 0, std::nullopt},
        {"RTP type 33, set UDP", test::rtpDatagram(9, seven), StreamProtocol::udp,
         Encapsulation::rtp, 7, 0, 9},
        {"RTP with CSRCs and an extension", withCsrcAndExtension, StreamProtocol::rtpPlus,
         Encapsulation::rtp, 7, 0, 5},
        {"RTP with padding", padded, StreamProtocol::rtp, Encapsulation::rtp, 7, 0, 6},
        {"RTP type 96 when RTP is set", test::rtpDatagram(7, seven, 96), StreamProtocol::rtp,
         Encapsulation::rtp, 7, 0, 7},
        {"RTP type 96 when UDP is set: bare bytes", test::rtpDatagram(7, seven, 96),
         StreamProtocol::udp, Encapsulation::udp, 7, 12, std::nullopt},
        {"a cut datagram leaves bytes over", cut, StreamProtocol::unknown, Encapsulation::udp, 6,
         178, std::nullopt},
        {"shorter than an RTP header", Bytes{0x80, 33, 0}, StreamProtocol::rtp, Encapsulation::udp,
         0, 3, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const DatagramPayload p =
            unwrapDatagram(row.datagram.data(), row.datagram.size(), row.setting);
        EXPECT_EQ(p.encapsulation, row.expected);
        EXPECT_EQ(p.packetCount, row.packets);
        EXPECT_EQ(p.leftoverBytes, row.leftover);
        EXPECT_EQ(p.rtpSequence, row.sequence);
        if (p.packetCount > 0 && p.leftoverBytes == 0) {
            EXPECT_EQ(p.packets[0], 0x47);
        }
    }
}

TEST(StreamDatagrams, RtpLossesAreTheSumOfTheGaps) {
    struct Row {
        std::string name;
        std::vector<std::pair<int, int>> arrivals;  // sequence, ms
        int nowMs;
        std::uint64_t lost;
    };
    const std::vector<Row> rows = {
        {"in order through the wrap", {{65534, 0}, {65535, 1}, {0, 2}, {1, 3}}, 500, 0},
        {"one gap of three", {{10, 0}, {11, 1}, {15, 2}, {16, 3}}, 500, 3},
        {"gap across the wrap", {{65535, 0}, {2, 1}}, 500, 2},
        {"two gaps add up", {{1, 0}, {3, 1}, {10, 2}}, 500, 7},
        {"reordered: no loss", {{1, 0}, {3, 1}, {2, 2}, {4, 3}}, 500, 0},
        {"late one inside a gap of three", {{1, 0}, {5, 1}, {3, 2}}, 500, 2},
        {"repeated: no loss", {{1, 0}, {2, 1}, {2, 2}, {3, 3}}, 500, 0},
        {"a gap is counted only after the reordering window", {{1, 0}, {4, 10}}, 50, 0},
        {"much later than the window it stays lost", {{1, 0}, {3, 1}, {2, 400}}, 500, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RtpLossCounter counter;
        for (const auto& [sequence, ms] : row.arrivals) {
            counter.datagram(static_cast<std::uint16_t>(sequence), test::at(ms));
        }
        EXPECT_EQ(counter.lost(test::at(row.nowMs)), row.lost);
    }
}

TEST(StreamDatagrams, DestinationText) {
    struct Row {
        std::string text;
        bool valid;
        std::string destination;
        std::string source;
        bool multicast;
    };
    const std::vector<Row> rows = {
        {"239.10.1.1:1234", true, "239.10.1.1:1234", "", true},
        {"10.77.64.11@232.1.1.1:5004", true, "232.1.1.1:5004", "10.77.64.11", true},
        {"10.77.0.1:5000", true, "10.77.0.1:5000", "", false},
        {"10.0.0.1@10.77.0.1:5000", false, "", "", false},
        {"239.1.1.1", false, "", "", false},
        {"239.1.1.1:0", false, "", "", false},
        {"239.1.1.1:65536", false, "", "", false},
        {"239.1.1:1234", false, "", "", false},
        {"@239.1.1.1:1234", false, "", "", false},
        {"239.1.1.1:12x", false, "", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::string error;
        const auto parsed = parseStreamDestination(row.text, error);
        ASSERT_EQ(parsed.has_value(), row.valid) << error;
        if (parsed) {
            EXPECT_EQ(parsed->text(), row.destination);
            EXPECT_EQ(parsed->sourceText(), row.source);
            EXPECT_EQ(parsed->isMulticast(), row.multicast);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

}  // namespace
}  // namespace corvane
