// What is accepted from the modules, and how it is decoded.
#include <gtest/gtest.h>

#include <cstring>

#include "net/protocol_messages.h"
#include "net/wire_bytes.h"
#include "packed_value.h"

namespace corvane {
namespace {

using test::Bytes;
using test::packedIpv4;
using test::taggedBytes;

Bytes helloBytes(std::string_view tag, std::size_t length) {
    Bytes bytes =
        taggedBytes(tag, {0x00, 0x08, 0xDC, 0xAA, 0xBB, 0xCC, 192, 168,  1,    20,   255,
                          255,  255,  0,    192,  168,  1,    1,   0x5A, 0xA5, 0x00, 0x03},
                    length);
    for (std::size_t i = 30; i < length; ++i) {
        bytes[i] = 0xEE;
    }
    return bytes;
}

TEST(ProtocolReplies, SearchReplyNeedsThirtyBytesAndTheExactTag) {
    struct Row {
        const char* name;
        Bytes datagram;
        bool accepted;
    };
    const Row rows[] = {
        {"29 bytes", helloBytes("WiZnHeLo", 29), false},
        {"30 bytes", helloBytes("WiZnHeLo", 30), true},
        {"40 bytes", helloBytes("WiZnHeLo", 40), true},
        {"one letter in other case", helloBytes("WiZnHelo", 30), false},
        {"another tag", helloBytes("WiZnStAs", 30), false},
        {"empty", Bytes{}, false},
    };
    for (const Row& row : rows) {
        DeviceHello hello;
        hello.deviceClass = {0x77, 0x77};
        ASSERT_EQ(decodeSearchReply(row.datagram.data(), row.datagram.size(), hello), row.accepted)
            << row.name;
        if (!row.accepted) {
            EXPECT_EQ(hello.deviceClassValue(), 0x7777) << row.name << ": record untouched";
            continue;
        }
        Bytes stored(sizeof hello);
        std::memcpy(stored.data(), &hello, sizeof hello);
        EXPECT_EQ(stored, Bytes(row.datagram.begin(), row.datagram.begin() + 30)) << row.name;
        EXPECT_EQ(packed(hello.ipAddress), packedIpv4(192, 168, 1, 20)) << row.name;
        EXPECT_EQ(packed(hello.networkMask), packedIpv4(255, 255, 255, 0)) << row.name;
        EXPECT_EQ(packed(hello.defaultGateway), packedIpv4(192, 168, 1, 1)) << row.name;
        EXPECT_EQ(hello.deviceClassValue(), 3) << row.name;
    }
}

Bytes statusWithFlagWord(std::size_t length) {
    return taggedBytes("WiZnStAs",
                       {0x02, 0x03, 0x04, 0xD2, 224, 0,    0,    1,    0x12, 0x34, 0xA1,
                        0xB2, 9,    8,    7,    6,   0xC3, 0xD4, 0x11, 0x99, 0x22, 0x33},
                       length);
}

TEST(ProtocolReplies, StatusReplySingleForm) {
    struct Row {
        const char* name;
        std::size_t length;
        std::uint16_t auxWord1;
        std::uint32_t auxAddress;
        std::uint8_t auxByte3;
    };
    const Row rows[] = {
        {"30 bytes, every field", 30, 0xA1B2, packedIpv4(9, 8, 7, 6), 0x33},
        {"20 bytes, auxAddress and later zero", 20, 0xA1B2, 0, 0},
        {"29 bytes, last byte missing", 29, 0xA1B2, packedIpv4(9, 8, 7, 6), 0},
        {"longer than 30, not an entry list", 31, 0xA1B2, packedIpv4(9, 8, 7, 6), 0x33},
    };
    for (const Row& row : rows) {
        const Bytes reply = statusWithFlagWord(row.length);
        StreamSettings settings;
        ASSERT_TRUE(decodeStatusReply(reply.data(), reply.size(), settings)) << row.name;
        EXPECT_EQ(settings.protocol, 2) << row.name;
        EXPECT_EQ(settings.mode, 3) << row.name;
        EXPECT_EQ(packed(settings.destinationPort), 1234) << row.name;
        EXPECT_EQ(packed(settings.destinationIp), packedIpv4(224, 0, 0, 1)) << row.name;
        EXPECT_EQ(packed(settings.flagWord), 0x1204) << row.name;
        EXPECT_EQ(settings.flags, 3) << row.name;
        EXPECT_EQ(packed(settings.auxWord1), packed(row.auxWord1)) << row.name;
        EXPECT_EQ(packed(settings.auxAddress), packed(row.auxAddress)) << row.name;
        EXPECT_EQ(settings.auxByte3, row.auxByte3) << row.name;
        EXPECT_EQ(settings.outputCount + settings.inputCount, 0) << row.name;
    }
    const Bytes full = statusWithFlagWord(30);
    StreamSettings settings;
    ASSERT_TRUE(decodeStatusReply(full.data(), full.size(), settings));
    EXPECT_EQ(packed(settings.auxWord2), 0xC3D4);
    EXPECT_EQ(settings.auxByte1, 0x11);
    EXPECT_EQ(settings.auxByte2, 0x22) << "byte 27 is skipped";
}

// One 16-byte entry of the list form.
Bytes entry(std::uint16_t control, std::uint8_t lastOctet, std::uint16_t port) {
    return Bytes{static_cast<std::uint8_t>(control >> 8),
                 static_cast<std::uint8_t>(control),
                 239,
                 1,
                 1,
                 lastOctet,
                 static_cast<std::uint8_t>(port >> 8),
                 static_cast<std::uint8_t>(port),
                 0xAB,
                 0xCD,
                 0x12,
                 0x07,
                 0xFF,
                 0xFF,
                 0xFF,
                 0xFF};
}

Bytes entryList(const std::vector<Bytes>& entries) {
    Bytes reply = taggedBytes("WiZnStAs", {}, 8);
    for (const Bytes& e : entries) {
        reply.insert(reply.end(), e.begin(), e.end());
    }
    return reply;
}

TEST(ProtocolReplies, StatusReplyEntryList) {
    std::vector<Bytes> seventeenOutputsThenInput(17, entry(0x1100, 1, 5000));
    seventeenOutputsThenInput[16] = entry(0x1000, 17, 5017);
    seventeenOutputsThenInput.push_back(entry(0x2100, 99, 6000));

    struct Row {
        const char* name;
        Bytes reply;
        int outputs;
        int inputs;
    };
    const Row rows[] = {
        {"24 bytes is one entry", entryList({entry(0x1100, 5, 5004)}), 1, 0},
        {"40 bytes is two entries, whatever their content", entryList({Bytes(16, 0), Bytes(16, 0)}),
         0, 0},
        {"output and input", entryList({entry(0x1100, 5, 5004), entry(0x2000, 6, 6000)}), 1, 1},
        {"kind 3 skipped", entryList({entry(0x3100, 5, 1), entry(0x2100, 6, 6000)}), 0, 1},
        {"17th output dropped, later input still read", entryList(seventeenOutputsThenInput), 16,
         1},
    };
    for (const Row& row : rows) {
        StreamSettings settings;
        ASSERT_TRUE(decodeStatusReply(row.reply.data(), row.reply.size(), settings)) << row.name;
        EXPECT_EQ(settings.outputCount, row.outputs) << row.name;
        EXPECT_EQ(settings.inputCount, row.inputs) << row.name;
        EXPECT_EQ(settings.mode, 0) << row.name << ": single-form fields stay zero";
        EXPECT_EQ(settings.protocol, 0) << row.name;
        EXPECT_EQ(packed(settings.destinationPort), 0) << row.name;
        EXPECT_EQ(packed(settings.flagWord), 0) << row.name;
    }

    StreamSettings settings;
    const Bytes& many = rows[4].reply;
    ASSERT_TRUE(decodeStatusReply(many.data(), many.size(), settings));
    EXPECT_EQ(packed(settings.outputs[15].ip), packedIpv4(239, 1, 1, 1))
        << "the 16th output is an earlier one";
    EXPECT_EQ(packed(settings.outputs[15].port), 5000);
    const OutputEntry& output = settings.outputs[0];
    EXPECT_EQ(packed(output.control), 0x1100);
    EXPECT_EQ(packed(output.auxEntryWord), 0xABCD);
    EXPECT_EQ(packed(output.txParams), 0x1207);
    const InputEntry& input = settings.inputs[0];
    EXPECT_EQ(packed(input.control), 0x2100);
    EXPECT_EQ(packed(input.ip), packedIpv4(239, 1, 1, 99));
    EXPECT_EQ(packed(input.port), 6000);
    EXPECT_EQ(input.spare, (std::array<std::uint8_t, 8>{})) << "ignored bytes are not copied";
}

TEST(ProtocolReplies, StatusReplyRejectedOrEmpty) {
    struct Row {
        const char* name;
        Bytes reply;
        bool accepted;
    };
    Bytes wrongTag = statusWithFlagWord(30);
    wrongTag[0] = 'X';
    const Row rows[] = {
        {"bare tag", taggedBytes("WiZnStAs", {}, 8), true},
        {"wrong tag", wrongTag, false},
        {"tag in other case", taggedBytes("WiZnSTAs", {0x02, 0x03}, 30), false},
        {"shorter than the tag", Bytes{'W', 'i', 'Z', 'n'}, false},
    };
    for (const Row& row : rows) {
        const Bytes& reply = row.reply;
        StreamSettings settings;
        settings.mode = 3;
        settings.outputCount = 4;
        EXPECT_EQ(decodeStatusReply(reply.data(), reply.size(), settings), row.accepted)
            << row.name;
        const StreamSettings zero{};
        EXPECT_EQ(std::memcmp(&settings, &zero, sizeof zero), 0) << row.name << ": all zero";
    }
}

TEST(ProtocolReplies, PassportReply) {
    struct Row {
        const char* name;
        Bytes reply;
        bool accepted;
    };
    Bytes over(500, 0x5A);
    std::memcpy(over.data(), "WiZnPaSs", 8);
    const Row rows[] = {
        {"300 bytes", taggedBytes("WiZnPaSs", {1, 2, 3, 4, 5, 6}, 300), true},
        {"290 bytes", taggedBytes("WiZnPaSs", {}, 290), true},
        {"250 bytes", taggedBytes("WiZnPaSs", {}, 250), false},
        {"other tag", taggedBytes("WiZnPaSS", {}, 300), false},
        {"longer than the block", over, true},
    };
    for (const Row& row : rows) {
        Bytes reply = row.reply;
        for (std::size_t i = 14; i < reply.size(); ++i) {
            reply[i] = 0x5A;
        }
        PassportData data;
        data.fill(0xEE);
        EXPECT_EQ(decodePassportReply(reply.data(), reply.size(), data), row.accepted) << row.name;
        const std::size_t kept = std::min<std::size_t>(reply.size(), kPassportDataSize);
        EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + kept, data.begin())) << row.name;
        EXPECT_TRUE(std::all_of(data.begin() + kept, data.end(), [](auto b) { return b == 0; }))
            << row.name << ": zero beyond the reply";
    }
}

}  // namespace
}  // namespace corvane
