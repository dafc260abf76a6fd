// A whole measurement fed datagrams on a scripted clock: services from the PAT and
// PMT, bitrates in total, without stuffing and per PID, only stuffing, the longest
// gap, and what the snapshot says before anything arrived.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "streams/stream_measurement.h"
#include "ts_builder.h"

namespace corvane {
namespace {

using test::at;
using test::Packet;
using test::PacketFields;

const StreamDestination kDestination{Ipv4Address::fromOctets(239, 1, 1, 0), 1234, {}};

// Datagrams of seven packets every `stepMs`: one PAT and one PMT a datagram when
// `withTables`, `video` packets of PID 0x101, the rest null packets.
struct Feed {
    int datagrams;
    int stepMs;
    bool withTables;
    int video;
    StreamProtocol protocol = StreamProtocol::udp;
    bool rtp = false;
};

StreamSnapshot measure(const Feed& feed, int nowMs) {
    StreamMeasurementOptions options;
    options.protocol = feed.protocol;
    StreamMeasurement m(kDestination, at(0), options);
    const test::Bytes pat = test::patSection({{1, 0x100}});
    const test::Bytes pmt = test::pmtSection(1, 0x101, {{0x101, 0x1B}, {0x102, 0x0F}});
    std::uint8_t cc[3] = {};
    for (int d = 0; d < feed.datagrams; ++d) {
        std::vector<Packet> packets;
        if (feed.withTables) {
            packets.push_back(test::psiPacket(0, cc[0]++ & 0x0F, pat));
            packets.push_back(test::psiPacket(0x100, cc[1]++ & 0x0F, pmt));
        }
        for (int v = 0; v < feed.video; ++v) {
            packets.push_back(
                test::tsPacket(PacketFields{0x101, static_cast<std::uint8_t>(cc[2]++ & 0x0F)}));
        }
        while (packets.size() < 7) {
            packets.push_back(test::tsPacket(PacketFields{0x1FFF}));
        }
        const test::Bytes bytes = feed.rtp
                                      ? test::rtpDatagram(static_cast<std::uint16_t>(d), packets)
                                      : test::datagramOf(packets);
        m.datagram(bytes.data(), bytes.size(), at(d * feed.stepMs));
    }
    return m.snapshot(at(nowMs));
}

TEST(StreamMeasurementTest, RatesStuffingAndServices) {
    // 7 packets of 1504 bits every 10 ms: 1 052 800 bit/s.
    const double fullRate = 7 * 188 * 8 * 100.0;
    struct Row {
        std::string name;
        Feed feed;
        int nowMs;
        double bitrate;
        double netBitrate;
        bool onlyStuffing;
        std::size_t services;
        bool asSet;
    };
    const std::vector<Row> rows = {
        {"tables, 3 video, 2 null",
         {101, 10, true, 3},
         1000,
         fullRate,
         fullRate * 5 / 7,
         false,
         1,
         true},
        {"only null packets", {101, 10, false, 0}, 1000, fullRate, 0, true, 0, true},
        {"no stuffing at all", {101, 10, true, 5}, 1000, fullRate, fullRate, false, 1, true},
        {"half the rate over RTP",
         {51, 20, true, 3, StreamProtocol::rtp, true},
         1000,
         fullRate / 2,
         fullRate / 2 * 5 / 7,
         false,
         1,
         true},
        {"RTP arriving where UDP is set",
         {51, 20, true, 3, StreamProtocol::udp, true},
         1000,
         fullRate / 2,
         fullRate / 2 * 5 / 7,
         false,
         1,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const StreamSnapshot s = measure(row.feed, row.nowMs);
        EXPECT_TRUE(s.arrived);
        EXPECT_NEAR(s.bitrate, row.bitrate, 1e-6 * row.bitrate);
        EXPECT_NEAR(s.netBitrate, row.netBitrate, 1e-6 * row.bitrate);
        EXPECT_EQ(s.onlyStuffing, row.onlyStuffing);
        EXPECT_EQ(s.services.size(), row.services);
        EXPECT_EQ(s.encapsulationAsSet, row.asSet);
        EXPECT_EQ(s.packets, 7u * static_cast<unsigned>(row.feed.datagrams));
        double pidSum = 0;
        for (const PidReading& pid : s.pids) {
            pidSum += pid.bitrate;
        }
        EXPECT_NEAR(pidSum, s.bitrate, 1e-6 * row.bitrate);
        EXPECT_DOUBLE_EQ(s.maxGapMs, row.feed.stepMs);
        EXPECT_EQ(s.rtpLost, 0u);
    }
}

TEST(StreamMeasurementTest, ServicesFromPatAndPmt) {
    const StreamSnapshot s = measure({30, 10, true, 3}, 300);
    ASSERT_EQ(s.services.size(), 1u);
    EXPECT_EQ(s.services[0].program, 1);
    EXPECT_EQ(s.services[0].pmtPid, 0x100);
    EXPECT_EQ(s.services[0].pcrPid, std::optional<std::uint16_t>(0x101));
    const std::vector<ElementaryStream> streams = {{0x101, 0x1B}, {0x102, 0x0F}};
    EXPECT_EQ(s.services[0].streams, streams);
    // PID 0x102 is named but never sent: a PID error once a second has passed.
    EXPECT_EQ(s.errors.pidError, 0u);
    EXPECT_EQ(measure({30, 10, true, 3}, 1200).errors.pidError, 1u);
    EXPECT_EQ(s.errors.continuityCountError, 0u);
    std::vector<std::uint16_t> pids;
    for (const PidReading& p : s.pids) {
        pids.push_back(p.pid);
    }
    EXPECT_EQ(pids, (std::vector<std::uint16_t>{0x0, 0x100, 0x101, 0x1FFF}));
}

TEST(StreamMeasurementTest, RtpGapsLessTheSocketDrops) {
    struct Row {
        std::string name;
        std::vector<int> sequences;
        std::uint64_t socketDrops;
        std::uint64_t rtpLost;
    };
    const std::vector<Row> rows = {
        {"all on the network", {1, 2, 6, 7}, 0, 3},
        {"two of three dropped here", {1, 2, 6, 7}, 2, 1},
        {"all dropped here", {1, 2, 6, 7}, 3, 0},
        {"drops after the last datagram", {1, 2, 3}, 4, 0},
    };
    const std::vector<Packet> packets(7, test::tsPacket(PacketFields{0x1FFF}));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamMeasurement m(kDestination, at(0), {});
        int ms = 0;
        for (int sequence : row.sequences) {
            const test::Bytes d = test::rtpDatagram(static_cast<std::uint16_t>(sequence), packets);
            m.datagram(d.data(), d.size(), at(ms += 10));
        }
        m.socketDrops(row.socketDrops);
        const StreamSnapshot s = m.snapshot(at(1000));
        EXPECT_EQ(s.rtpLost, row.rtpLost);
        EXPECT_EQ(s.socketDrops, row.socketDrops);
    }
}

// A PMT too long for one packet: it continues in the next packet of its PID, whose
// pointer field then points past its end to the start of the next repetition.
TEST(StreamMeasurementTest, SectionsAcrossPackets) {
    std::vector<test::StreamSpec> streams;
    for (std::uint16_t pid = 0x200; pid < 0x228; ++pid) {
        streams.push_back({pid, 0x06});
    }
    const test::Bytes pmt = test::pmtSection(7, 0x200, streams);  // 221 bytes
    ASSERT_GT(pmt.size(), 183u);
    const test::Bytes head(pmt.begin(), pmt.begin() + 183);
    const test::Bytes tail(pmt.begin() + 183, pmt.end());
    test::Bytes second = {static_cast<std::uint8_t>(tail.size())};
    second.insert(second.end(), tail.begin(), tail.end());
    second.insert(second.end(), pmt.begin(), pmt.begin() + 100);  // the next one starts
    const std::vector<Packet> packets = {
        test::psiPacket(0, 0, test::patSection({{7, 0x300}})),
        test::tsPacket(PacketFields{0x300, 0, true, false, true},
                       [&] {
                           test::Bytes b = {0x00};
                           b.insert(b.end(), head.begin(), head.end());
                           return b;
                       }()),
        test::tsPacket(PacketFields{0x300, 1, true, false, true}, second),
    };
    struct Row {
        std::string name;
        std::size_t packetsFed;
        std::size_t streams;
    };
    const std::vector<Row> rows = {
        {"the first half alone names nothing", 2, 0},
        {"the rest completes it", 3, 40},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamMeasurement m(kDestination, at(0), {});
        for (std::size_t i = 0; i < row.packetsFed; ++i) {
            m.datagram(packets[i].data(), packets[i].size(), at(static_cast<int>(i)));
        }
        const StreamSnapshot s = m.snapshot(at(10));
        ASSERT_EQ(s.services.size(), 1u);
        EXPECT_EQ(s.services[0].pmtPid, 0x300);
        EXPECT_EQ(s.services[0].streams.size(), row.streams);
        EXPECT_EQ(s.services[0].pcrPid.has_value(), row.streams > 0);
    }
}

TEST(StreamMeasurementTest, NothingArrived) {
    StreamMeasurement m(kDestination, at(0), {});
    const StreamSnapshot s = m.snapshot(at(5000));
    EXPECT_FALSE(s.arrived);
    EXPECT_FALSE(s.encapsulation.has_value());
    EXPECT_FALSE(s.onlyStuffing);
    EXPECT_EQ(s.errors, IndicatorCounts{});  // no PAT error without a stream
    EXPECT_DOUBLE_EQ(s.seconds, 5.0);
    EXPECT_FALSE(s.healthy());
}

}  // namespace
}  // namespace corvane
