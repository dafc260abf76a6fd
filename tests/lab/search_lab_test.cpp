// The search and the network-settings broadcast against simulated modules: the exact
// request bytes on the wire, which replies are kept, the collection time, the adapter
// a broadcast leaves through, and a search amid a junk flood or a thousand modules.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include "lab/lab_test_support.h"
#include "net/device_search.h"
#include "net/stream_settings_messages.h"
#include "packed_value.h"

namespace corvane::lab {
namespace {

constexpr double kSearchMinMs = 1900;
constexpr double kSearchMaxMs = 2600;

MacAddress mac(std::uint8_t a, std::uint8_t b) {
    return {0x02, 0x00, 0x00, 0x00, a, b};
}

Bytes expectedHello(const MacAddress& m, const std::string& ip, const std::string& mask,
                    const std::string& gateway, std::uint16_t deviceClass) {
    return concat(
        {tagBytes("WiZnHeLo"),
         macBytes(m),
         ipBytes(ip),
         ipBytes(mask),
         ipBytes(gateway),
         {0x01, 0x00},  // the simulator's fixed reserved pair
         {static_cast<std::uint8_t>(deviceClass >> 8), static_cast<std::uint8_t>(deviceClass)}});
}

const DeviceHello* findMac(const std::vector<DeviceHello>& found, const MacAddress& m) {
    for (const auto& hello : found) {
        if (hello.mac == m) {
            return &hello;
        }
    }
    return nullptr;
}

// Both sockets' copies of a broadcast request, one per port, each from the same port.
void expectBroadcastOnBothPorts(const std::vector<LoggedDatagram>& sent, const Bytes& request,
                                const std::string& programAddress) {
    ASSERT_EQ(sent.size(), 2u);
    std::set<int> ports;
    for (const auto& d : sent) {
        EXPECT_EQ(d.bytes, request);
        EXPECT_EQ(d.destination, "255.255.255.255");
        EXPECT_EQ(d.source, programAddress);
        EXPECT_EQ(d.sourcePort, packed(d.destinationPort));
        ports.insert(d.destinationPort);
    }
    EXPECT_EQ(ports, (std::set<int>{9100, 9101}));
}

class SearchLab : public LabTest {};

TEST_F(SearchLab, SearchRequestIsBroadcastOnBothPortsAndTheReplyStoredAsItArrived) {
    ModsimProcess modsim;
    const MacAddress m = mac(0x01, 0x01);
    startModsim(modsim, {},
                "mac=" + macText(m) + " ip=" + moduleText(1) +
                    " mask=255.255.0.0 gateway=" + moduleText(254) + " class=3\n");
    std::vector<DeviceHello> found;
    bool ok = false;
    const double ms = timedMs([&] { ok = searchDevices(local(), 3, found); });
    EXPECT_TRUE(ok);
    EXPECT_GE(ms, kSearchMinMs);
    EXPECT_LE(ms, kSearchMaxMs);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(helloBytes(found[0]),
              expectedHello(m, moduleText(1), "255.255.0.0", moduleText(254), 3));

    const Bytes request = concat({tagBytes("WiZnLiSt"), {0x00, 0x03}, zeros(16)});
    auto sent =
        modsim.waitForLog([](const LoggedDatagram& d) { return isFrom(d, "WiZnLiSt"); }, 2, 1000);
    expectBroadcastOnBothPorts(sent, request, segment().programAddress);
}

// One search over modules that each show one reply rule; every row says whether the
// module ends up listed.
TEST_F(SearchLab, KeepsTheFirstWellFormedHelloOfEachModule) {
    struct Row {
        MacAddress mac;
        std::string fields;
        bool listed;
        const char* why;
    };
    const std::vector<Row> rows = {
        {mac(1, 1), "ports=both", true, "answers on both ports, listed once"},
        {mac(1, 2), "ports=9100", true, "answers on 9100 only"},
        {mac(1, 3), "ports=9101", true, "answers on 9101 only"},
        {mac(1, 4), "delay=100", true, "first of two modules with one MAC"},
        {mac(1, 4), "delay=500 mask=255.255.255.0", false, "second with the same MAC"},
        {mac(1, 5), "short=29", false, "29-byte hello"},
        {mac(1, 6), "hello-length=40", true, "40-byte hello keeps its first 30 bytes"},
        {mac(1, 7), "wrong-tag=1", false, "tag differs in the case of one letter"},
        {mac(1, 8), "duplicate=1", true, "every reply twice, listed once"},
    };
    std::string config;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        config += "mac=" + macText(rows[i].mac) +
                  " ip=" + moduleText(static_cast<std::uint32_t>(i + 1)) + " mask=255.255.0.0 " +
                  rows[i].fields + "\n";
    }
    ModsimProcess modsim;
    startModsim(modsim, {}, config);
    std::vector<DeviceHello> found;
    ASSERT_TRUE(searchDevices(local(), 3, found));

    std::set<MacAddress> listedMacs;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.why);
        if (!row.listed) {
            const DeviceHello* other = findMac(found, row.mac);
            if (other != nullptr) {  // only the same-MAC row has a listed twin
                EXPECT_NE(dottedIpv4(packed(other->ipAddress)),
                          moduleText(static_cast<std::uint32_t>(i + 1)));
            }
            continue;
        }
        listedMacs.insert(row.mac);
        const DeviceHello* hello = findMac(found, row.mac);
        ASSERT_NE(hello, nullptr);
        EXPECT_EQ(helloBytes(*hello),
                  expectedHello(row.mac, moduleText(static_cast<std::uint32_t>(i + 1)),
                                "255.255.0.0", "0.0.0.0", 3));
    }
    EXPECT_EQ(found.size(), listedMacs.size());
}

TEST_F(SearchLab, EmptySegmentGivesTrueAndNothingAfterTwoSeconds) {
    std::vector<DeviceHello> found(3);  // emptied by the search
    bool ok = false;
    const double ms = timedMs([&] { ok = searchDevices(local(), 3, found); });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(found.empty());
    EXPECT_GE(ms, kSearchMinMs);
    EXPECT_LE(ms, kSearchMaxMs);
}

TEST_F(SearchLab, NetworkSettingsMoveTheModuleWithThatMacOnly) {
    const MacAddress moved = mac(2, 1);
    const MacAddress stays = mac(2, 2);
    ModsimProcess modsim;
    startModsim(modsim, {},
                "mac=" + macText(moved) + " ip=" + moduleText(10) + " mask=255.255.0.0\n" +
                    "mac=" + macText(stays) + " ip=" + moduleText(11) + " mask=255.255.0.0\n");
    bool ok = false;
    const double ms = timedMs([&] {
        ok = setNetworkSettings(local(), moved, moduleIp(200), ipv4Of("255.255.192.0"),
                                moduleIp(254));
    });
    EXPECT_TRUE(ok);
    EXPECT_GE(ms, 190);
    EXPECT_LE(ms, 700);
    const Bytes request = concat({tagBytes("TiBbsEtA"), macBytes(moved), ipBytes(moduleText(200)),
                                  ipBytes("255.255.192.0"), ipBytes(moduleText(254))});
    auto sent =
        modsim.waitForLog([](const LoggedDatagram& d) { return isFrom(d, "TiBbsEtA"); }, 2, 1000);
    expectBroadcastOnBothPorts(sent, request, segment().programAddress);

    std::vector<DeviceHello> found;
    ASSERT_TRUE(searchDevices(local(), 3, found));
    ASSERT_EQ(found.size(), 2u);
    const DeviceHello* movedHello = findMac(found, moved);
    const DeviceHello* staysHello = findMac(found, stays);
    ASSERT_TRUE(movedHello != nullptr && staysHello != nullptr);
    EXPECT_EQ(helloBytes(*movedHello),
              expectedHello(moved, moduleText(200), "255.255.192.0", moduleText(254), 3));
    EXPECT_EQ(dottedIpv4(packed(staysHello->ipAddress)), moduleText(11));

    StreamSettings settings;
    EXPECT_TRUE(getStreamSettings(local(), moduleIp(200), settings))
        << "no status at the new address";
}

TEST_F(SearchLab, SearchFromOneAdapterReachesOnlyItsOwnSegment) {
    if (m_lab.segments.size() < 2) {
        GTEST_SKIP() << "the lab has one adapter (run lab-run --adapters 2)";
    }
    const MacAddress first = mac(3, 1);
    const MacAddress second = mac(3, 2);
    ModsimProcess modsim1;
    ModsimProcess modsim2;
    startModsim(modsim1, {}, "mac=" + macText(first) + " ip=" + moduleText(1, 0) + "\n", 0);
    startModsim(modsim2, {}, "mac=" + macText(second) + " ip=" + moduleText(1, 1) + "\n", 1);
    for (std::size_t adapter : {0u, 1u}) {
        SCOPED_TRACE("adapter " + segment(adapter).programAddress);
        std::vector<DeviceHello> found;
        ASSERT_TRUE(searchDevices(local(adapter), 3, found));
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].mac, adapter == 0 ? first : second);
    }
    // The first search must not have left through the second adapter, nor the reverse.
    for (std::size_t adapter : {0u, 1u}) {
        const auto& log = (adapter == 0 ? modsim1 : modsim2).log();
        for (const auto& d : log) {
            EXPECT_EQ(d.source, segment(adapter).programAddress);
        }
        EXPECT_EQ(log.size(), 2u);
    }
}

// Counts datagrams reaching the program side's port 9100 for a moment, to show that a
// flood really runs before a test relies on it.
int countArriving(const std::string& address, int ms) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return -1;
    }
    int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(9100);
    bound.sin_addr.s_addr = storedIpv4(address);
    timeval wait{0, 20000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    int count = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) == 0) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::uint8_t buffer[2048];
        while (std::chrono::steady_clock::now() < end) {
            if (recv(fd, buffer, sizeof buffer, 0) >= 0) {
                ++count;
            }
        }
    } else {
        count = -1;
    }
    close(fd);
    return count;
}

std::vector<std::string> floodArguments(const LabSegment& s, int rate) {
    return {"--flood",        std::to_string(rate), "--flood-target",
            s.programAddress, "--flood-source",     s.modulesSideAddress};
}

TEST_F(SearchLab, JunkFloodNeitherDelaysTheSearchNorHidesAModule) {
    constexpr int kModules = 16;
    ModsimProcess modsim;
    auto arguments = floodArguments(segment(), 5000);
    arguments.insert(arguments.end(), {"--modules", std::to_string(kModules), "--base-ip",
                                       moduleText(1), "--mac-prefix", "02:fd"});
    startModsim(modsim, arguments, "");
    // Only that junk arrives at all: a loaded machine or a sanitizer build sends less of it.
    ASSERT_GT(countArriving(segment().programAddress, 200), 40) << "the flood is not arriving";

    std::vector<DeviceHello> found;
    bool ok = false;
    const double ms = timedMs([&] { ok = searchDevices(local(), 3, found); });
    EXPECT_TRUE(ok);
    EXPECT_GE(ms, kSearchMinMs);
    EXPECT_LE(ms, kSearchMaxMs);
    std::set<std::string> ips;
    for (const auto& hello : found) {
        ips.insert(dottedIpv4(hello.ipAddress));
    }
    EXPECT_EQ(found.size(), static_cast<std::size_t>(kModules));
    EXPECT_EQ(ips.size(), static_cast<std::size_t>(kModules));
}

TEST_F(SearchLab, OneSearchFindsAThousandModules) {
    constexpr int kModules = 1000;
    for (const char* ports : {"both", "9100"}) {
        SCOPED_TRACE(std::string("ports ") + ports);
        ModsimProcess modsim;
        // Real modules answer at scattered moments; a rack answering in one burst would
        // only measure the kernel's queue lengths.
        startModsim(modsim,
                    {"--modules", std::to_string(kModules), "--base-ip", moduleText(1), "--ports",
                     ports, "--delay-spread", "1500"},
                    "");
        std::vector<DeviceHello> found;
        bool ok = false;
        const double ms = timedMs([&] { ok = searchDevices(local(), 3, found); });
        EXPECT_TRUE(ok);
        EXPECT_LE(ms, kSearchMaxMs);
        std::set<MacAddress> macs;
        for (const auto& hello : found) {
            macs.insert(hello.mac);
        }
        EXPECT_EQ(found.size(), static_cast<std::size_t>(kModules));
        EXPECT_EQ(macs.size(), static_cast<std::size_t>(kModules));
    }
}

}  // namespace
}  // namespace corvane::lab
