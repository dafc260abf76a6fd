// Status, settings and passport messages against simulated modules: the settings
// request's exact bytes, status read back after it, the entry-list status form, and
// which passport lengths are accepted.
#include <algorithm>

#include "lab/lab_test_support.h"
#include "net/stream_settings_messages.h"
#include "packed_value.h"

namespace corvane::lab {
namespace {

const std::string kModuleMac = "02:00:00:00:05:01";

class StreamSettingsLab : public LabTest {};

StreamSettings singleForm(std::uint8_t protocol, std::uint8_t mode, std::uint16_t port,
                          const std::string& ip, std::uint8_t flags, std::uint16_t flagWord) {
    StreamSettings s;
    s.protocol = protocol;
    s.mode = mode;
    s.destinationPort = port;
    s.destinationIp = storedIpv4(ip);
    s.flags = flags;
    s.flagWord = flagWord;
    return s;
}

TEST_F(StreamSettingsLab, SettingsRequestBytesAndTheStatusReadBackAfterIt) {
    struct Row {
        const char* name;
        StreamSettings settings;
        Bytes afterTag;  // bytes 8 to 29 of the request
    };
    StreamSettings aux = singleForm(0, 0, 0, "0.0.0.0", 2, 0);
    aux.auxWord1 = 0xA1A2;
    aux.auxAddress = storedIpv4("1.2.3.4");
    aux.auxWord2 = 0xB1B2;
    aux.auxByte1 = 0xC1;
    aux.auxByte2 = 0xC2;
    aux.auxByte3 = 0xC3;
    const std::vector<Row> rows = {
        {"start UDP to a multicast group without stuffing",
         singleForm(2, 3, 1234, "224.0.0.1", 1, 0),
         concat({{0x02, 0x03, 0x04, 0xD2, 0xE0, 0x00, 0x00, 0x01, 0x00, 0x10}, zeros(12)})},
        {"flag word 0x1204 with flags 1 goes out as 0x1214",
         singleForm(0, 0, 0, "0.0.0.0", 1, 0x1204), concat({zeros(8), {0x12, 0x14}, zeros(12)})},
        {"carried fields in place, byte 27 zero", aux,
         concat(
             {zeros(8), {0x00, 0x20, 0xA1, 0xA2, 1, 2, 3, 4, 0xB1, 0xB2, 0xC1, 0x00, 0xC2, 0xC3}})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ModsimProcess modsim;
        // byte27 set: the module's own byte must not come back into the decoded record.
        startModsim(modsim, {}, "mac=" + kModuleMac + " ip=" + moduleText(1) + " byte27=0x5A\n");
        bool ok = false;
        const double ms =
            timedMs([&] { ok = setStreamSettings(local(), moduleIp(1), row.settings); });
        EXPECT_TRUE(ok);
        EXPECT_LE(ms, 100) << "a send-only exchange waits for nothing";
        auto sent = modsim.waitForLog([](const LoggedDatagram& d) { return isFrom(d, "TiBbaSiC"); },
                                      2, 1000);
        ASSERT_EQ(sent.size(), 2u);
        for (const auto& d : sent) {
            EXPECT_EQ(d.bytes, concat({tagBytes("TiBbaSiC"), row.afterTag}));
            EXPECT_EQ(d.destination, moduleText(1));
            EXPECT_EQ(d.sourcePort, packed(d.destinationPort));
        }
        EXPECT_NE(packed(sent[0].destinationPort), packed(sent[1].destinationPort));

        StreamSettings back;
        ASSERT_TRUE(getStreamSettings(local(), moduleIp(1), back));
        // Packed members are compared by value (unary +): a reference to one may be misaligned.
        const StreamSettings& s = row.settings;
        EXPECT_EQ(+back.mode, +s.mode);
        EXPECT_EQ(+back.protocol, +s.protocol);
        EXPECT_EQ(+packed(back.destinationPort), +packed(s.destinationPort));
        EXPECT_EQ(+packed(back.destinationIp), +packed(s.destinationIp));
        EXPECT_EQ(+back.flags, +s.flags & 3);
        EXPECT_EQ(+packed(back.flagWord), +packed(s.flagWord) & 0xFF0F);
        EXPECT_EQ(+packed(back.auxWord1), +packed(s.auxWord1));
        EXPECT_EQ(+packed(back.auxAddress), +packed(s.auxAddress));
        EXPECT_EQ(+packed(back.auxWord2), +packed(s.auxWord2));
        EXPECT_EQ(+back.auxByte1, +s.auxByte1);
        EXPECT_EQ(+back.auxByte2, +s.auxByte2);
        EXPECT_EQ(+back.auxByte3, +s.auxByte3);
        EXPECT_EQ(+back.outputCount, 0);
        EXPECT_EQ(+back.inputCount, 0);
    }
}

TEST_F(StreamSettingsLab, EntryListStatusOfAMultiStreamModule) {
    ModsimProcess modsim;
    startModsim(modsim, {},
                "mac=" + kModuleMac + " ip=" + moduleText(1) +
                    " out=0x1101,239.1.1.1,1234,0x1203,0xBEEF"
                    " entry=30000000000000000000000000000000"  // kind 3: skipped
                    " in=0x2100,10.1.1.1,5000"
                    " out=0x1000,239.1.1.2,1235,0x0200\n");
    StreamSettings s;
    ASSERT_TRUE(getStreamSettings(local(), moduleIp(1), s));
    ASSERT_EQ(+s.outputCount, 2);
    ASSERT_EQ(+s.inputCount, 1);
    EXPECT_EQ(+packed(s.outputs[0].control), 0x1101);
    EXPECT_EQ(+packed(s.outputs[0].ip), storedIpv4("239.1.1.1"));
    EXPECT_EQ(+packed(s.outputs[0].port), 1234);
    EXPECT_EQ(+packed(s.outputs[0].auxEntryWord), 0xBEEF);
    EXPECT_EQ(+packed(s.outputs[0].txParams), 0x1203);
    EXPECT_EQ(+packed(s.outputs[1].control), 0x1000);
    EXPECT_EQ(+packed(s.outputs[1].ip), storedIpv4("239.1.1.2"));
    EXPECT_EQ(+packed(s.outputs[1].port), 1235);
    EXPECT_EQ(+packed(s.inputs[0].control), 0x2100);
    EXPECT_EQ(+packed(s.inputs[0].ip), storedIpv4("10.1.1.1"));
    EXPECT_EQ(+packed(s.inputs[0].port), 5000);
    EXPECT_EQ(+s.mode, 0);
    EXPECT_EQ(+packed(s.destinationPort), 0);
}

TEST_F(StreamSettingsLab, PassportRepliesFrom290BytesAreAcceptedAndZeroFilled) {
    struct Row {
        std::size_t length;
        bool accepted;
        double minMs;
        double maxMs;
    };
    const std::vector<Row> rows = {
        {418, true, 0, 600},
        {300, true, 0, 600},
        {290, true, 0, 600},
        {250, false, 2900, 3600},  // too short: the exchange waits out its time
    };
    const Bytes head = concat({tagBytes("WiZnPaSs"), {0x02, 0x00, 0x00, 0x00, 0x05, 0x01}});
    for (const Row& row : rows) {
        SCOPED_TRACE("passport of " + std::to_string(row.length) + " bytes");
        ModsimProcess modsim;
        startModsim(modsim, {},
                    "mac=" + kModuleMac + " ip=" + moduleText(1) +
                        " passport-length=" + std::to_string(row.length) + "\n");
        PassportData data;
        data.fill(0xCC);
        bool ok = true;
        const double ms = timedMs([&] { ok = getPassportData(local(), moduleIp(1), data); });
        EXPECT_EQ(ok, row.accepted);
        EXPECT_GE(ms, row.minMs);
        EXPECT_LE(ms, row.maxMs);
        if (!row.accepted) {
            continue;
        }
        EXPECT_EQ(Bytes(data.begin(), data.begin() + head.size()), head);
        EXPECT_TRUE(std::all_of(data.begin() + static_cast<long>(row.length), data.end(),
                                [](std::uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::any_of(data.begin() + static_cast<long>(head.size()),
                                data.begin() + static_cast<long>(row.length),
                                [](std::uint8_t b) { return b != 0 && b != 0xCC; }));
    }
}

}  // namespace
}  // namespace corvane::lab
