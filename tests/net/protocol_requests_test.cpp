// The bytes that go on the wire for every request.
#include <gtest/gtest.h>

#include "net/protocol_messages.h"
#include "net/wire_bytes.h"

namespace corvane {
namespace {

using test::Bytes;
using test::ipv4;
using test::packedIpv4;
using test::taggedBytes;

template <std::size_t N>
Bytes asBytes(const std::array<std::uint8_t, N>& message) {
    return Bytes(message.begin(), message.end());
}

TEST(ProtocolRequests, TwentySixByteRequestsCarryTagAndFields) {
    const MacAddress mac{0x00, 0x08, 0xDC, 0x12, 0x34, 0x56};
    struct Row {
        const char* name;
        Bytes actual;
        Bytes expected;
    };
    const Row rows[] = {
        {"search class 3", asBytes(buildSearchRequest(3)), taggedBytes("WiZnLiSt", {0, 3}, 26)},
        {"search class 0x1234", asBytes(buildSearchRequest(0x1234)),
         taggedBytes("WiZnLiSt", {0x12, 0x34}, 26)},
        {"network settings",
         asBytes(buildNetworkSettingsRequest(mac, ipv4(192, 168, 1, 50), ipv4(255, 255, 255, 0),
                                             ipv4(192, 168, 1, 1))),
         taggedBytes("TiBbsEtA",
                     {0x00, 0x08, 0xDC, 0x12, 0x34, 0x56, 192, 168, 1, 50, 255, 255, 255, 0, 192,
                      168, 1, 1},
                     26)},
        {"status", asBytes(buildStatusRequest()), taggedBytes("WiZnAsGt", {}, 26)},
        {"passport", asBytes(buildPassportRequest()), taggedBytes("WiZnGpAs", {}, 26)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.actual, row.expected) << row.name;
    }
}

StreamSettings singleForm(std::uint8_t protocol, std::uint8_t mode, std::uint16_t port,
                          std::uint32_t destination, std::uint16_t flagWord, std::uint8_t flags) {
    StreamSettings settings;
    settings.protocol = protocol;
    settings.mode = mode;
    settings.destinationPort = port;
    settings.destinationIp = destination;
    settings.flagWord = flagWord;
    settings.flags = flags;
    return settings;
}

TEST(ProtocolRequests, SettingsRequestIsTheThirtyByteSingleForm) {
    StreamSettings carried = singleForm(1, 0, 0x0102, packedIpv4(10, 0, 0, 9), 0xFFFF, 0xFF);
    carried.auxWord1 = 0xA1B2;
    carried.auxAddress = packedIpv4(1, 2, 3, 4);
    carried.auxWord2 = 0xC3D4;
    carried.auxByte1 = 0x11;
    carried.auxByte2 = 0x22;
    carried.auxByte3 = 0x33;
    carried.spare0 = 0x77;  // never sent

    struct Row {
        const char* name;
        StreamSettings settings;
        Bytes expected;
    };
    const Row rows[] = {
        {"protocol 2, mode 3, port 1234, 224.0.0.1, no stuffing",
         singleForm(2, 3, 1234, packedIpv4(224, 0, 0, 1), 0, 1),
         taggedBytes("TiBbaSiC", {0x02, 0x03, 0x04, 0xD2, 0xE0, 0x00, 0x00, 0x01, 0x00, 0x10}, 30)},
        {"flag word 0x1204 with flags 1 goes out as 0x1214", singleForm(0, 0, 0, 0, 0x1204, 1),
         taggedBytes("TiBbaSiC", {0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x14}, 30)},
        {"bits 4 and 5 of flagWord and flags above bit 1 never leak",
         singleForm(0, 0, 0, 0, 0x0030, 0xFC), taggedBytes("TiBbaSiC", {}, 30)},
        {"carried fields unchanged, bits 6-7 of flagWord dropped, byte 27 zero", carried,
         taggedBytes("TiBbaSiC", {0x01, 0x00, 0x01, 0x02, 10, 0,    0,    9,    0xFF, 0x3F, 0xA1,
                                  0xB2, 1,    2,    3,    4,  0xC3, 0xD4, 0x11, 0x00, 0x22, 0x33},
                     30)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(asBytes(buildSettingsRequest(row.settings)), row.expected) << row.name;
    }
}

}  // namespace
}  // namespace corvane
