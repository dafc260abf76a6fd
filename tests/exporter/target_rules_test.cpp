// Which targets /probe sends to, and how long a probe waits under a scrape timeout.
#include <gtest/gtest.h>

#include "exporter/exporter_routes.h"
#include "exporter/listen_address.h"
#include "exporter/target_rules.h"
#include "reports/address_formats.h"

namespace corvane::exporter {
namespace {

TEST(TargetRules, WhichTargetsAreProbed) {
    // Sending from 10.77.0.1/16; this computer also has 192.168.5.20 and 10.77.0.9.
    const LocalAddress sending{Ipv4Address::fromOctets(10, 77, 0, 1),
                               Ipv4Address::fromOctets(255, 255, 0, 0), 0};
    const LocalAddress narrow{Ipv4Address::fromOctets(172, 31, 255, 1),
                              Ipv4Address::fromOctets(255, 255, 255, 128), 0};
    const std::vector<Ipv4Address> own = {sending.address, Ipv4Address::fromOctets(192, 168, 5, 20),
                                          Ipv4Address::fromOctets(10, 77, 0, 9), narrow.address};
    using V = TargetVerdict;
    struct Row {
        const char* text;
        const LocalAddress* from;
        bool allowAny;
        V verdict;
    };
    const Row rows[] = {
        {"10.77.64.11", &sending, false, V::accepted},
        {"10.77.255.254", &sending, false, V::accepted},
        {"10.77.0.1", &sending, true, V::ownAddress},
        {"10.77.0.9", &sending, false, V::ownAddress},
        {"192.168.5.20", &sending, true, V::ownAddress},
        // Another interface's subnet is not the sending one.
        {"192.168.5.9", &sending, false, V::outsideSubnet},
        {"192.168.6.9", &sending, false, V::outsideSubnet},
        {"10.78.0.5", &sending, false, V::outsideSubnet},
        {"10.78.0.5", &sending, true, V::accepted},
        {"8.8.8.8", &sending, true, V::accepted},
        // Network and broadcast of a subnet that is not a /24 or /16.
        {"172.31.255.127", &narrow, false, V::subnetNetworkOrBroadcast},
        {"172.31.255.127", &narrow, true, V::subnetNetworkOrBroadcast},
        {"172.31.255.126", &narrow, false, V::accepted},
        {"172.31.255.128", &narrow, false, V::outsideSubnet},
        {"10.77.0.0", &sending, false, V::notModuleAddress},
        {"", &sending, false, V::missing},
        {"10.77.64", &sending, false, V::notAnAddress},
        {"10.77.64.011", &sending, false, V::notAnAddress},
        {"10.77.64.11:9100", &sending, false, V::notAnAddress},
        {"module.example", &sending, false, V::notAnAddress},
        {" 10.77.64.11", &sending, false, V::notAnAddress},
        {"10.77.64.0", &sending, true, V::notModuleAddress},
        {"10.77.64.255", &sending, false, V::notModuleAddress},
        {"127.0.0.1", &sending, true, V::notModuleAddress},
        {"0.1.2.3", &sending, true, V::notModuleAddress},
        {"224.0.0.1", &sending, true, V::notModuleAddress},
        {"255.255.255.255", &sending, true, V::notModuleAddress},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const TargetCheck check = checkTarget(row.text, *row.from, own, row.allowAny);
        EXPECT_EQ(check.verdict, row.verdict);
        EXPECT_EQ(targetProblem(check, row.text).empty(), row.verdict == V::accepted);
        if (row.verdict == V::accepted) {
            EXPECT_EQ(check.ip.text(), row.text);
        }
    }
    // A /31 and a /32 have no network or broadcast address to refuse.
    const LocalAddress pair{Ipv4Address::fromOctets(10, 9, 9, 2),
                            Ipv4Address::fromOctets(255, 255, 255, 254), 0};
    EXPECT_EQ(checkModuleAddress(Ipv4Address::fromOctets(10, 9, 9, 3), pair, {}, false),
              V::accepted);
}

// Forged or stray search replies never become targets.
TEST(TargetRules, DiscoveryListsModuleAddressesOfTheSendingSubnet) {
    const LocalAddress sending{Ipv4Address::fromOctets(10, 77, 0, 1),
                               Ipv4Address::fromOctets(255, 255, 0, 0), 0};
    const std::vector<Ipv4Address> own = {sending.address,
                                          Ipv4Address::fromOctets(192, 168, 5, 20)};
    const std::pair<Ipv4Address, bool> replies[] = {
        {Ipv4Address::fromOctets(10, 77, 64, 11), true},
        {Ipv4Address::fromOctets(8, 8, 8, 8), false},
        {Ipv4Address::fromOctets(10, 77, 0, 1), false},
        {Ipv4Address::fromOctets(192, 168, 5, 9), false},
        {Ipv4Address::fromOctets(10, 77, 255, 255), false},
        {Ipv4Address::fromOctets(224, 0, 0, 1), false},
        {Ipv4Address::fromOctets(10, 77, 64, 12), true},
    };
    std::vector<DeviceHello> found;
    std::vector<Ipv4Address> expected;
    for (const auto& [ip, kept] : replies) {
        DeviceHello hello;
        hello.ipAddress = ip.networkOrder();
        hello.mac[5] = static_cast<std::uint8_t>(found.size());
        found.push_back(hello);
        if (kept) {
            expected.push_back(ip);
        }
    }
    std::vector<Ipv4Address> listed;
    for (const DeviceHello& hello : discoverableReplies(found, sending, own)) {
        listed.push_back(Ipv4Address::fromNetworkOrder(hello.ipAddress));
    }
    EXPECT_EQ(listed, expected);
}

TEST(TargetRules, ProbeWaitUnderAScrapeTimeout) {
    const std::pair<const char*, long long> rows[] = {
        {"", 3000},    {"10", 3000},  {"3.5", 3000}, {"3.4", 2900}, {"1", 500},
        {"0.55", 100}, {"0.5", 100},  {"0", 100},    {"-4", 100},   {"abc", 3000},
        {"2x", 3000},  {"inf", 3000}, {"nan", 3000}, {"1e0", 500},
    };
    for (const auto& [header, wait] : rows) {
        EXPECT_EQ(probeWait(header).count(), wait) << "'" << header << "'";
    }
}

TEST(TargetRules, ListenAddress) {
    struct Row {
        const char* text;
        bool valid;
        const char* host;
        int port;
    };
    const Row rows[] = {
        {"127.0.0.1:9730", true, "127.0.0.1", 9730},
        {":9730", true, "0.0.0.0", 9730},
        {"[::1]:8080", true, "::1", 8080},
        {"localhost:1", true, "localhost", 1},
        {"::1:8080", false, "", 0},
        {"127.0.0.1", false, "", 0},
        {"127.0.0.1:0", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = parseListenAddress(row.text);
        ASSERT_EQ(parsed.has_value(), row.valid);
        if (row.valid) {
            EXPECT_EQ(parsed->host, row.host);
            EXPECT_EQ(parsed->port, row.port);
        }
    }
}

}  // namespace
}  // namespace corvane::exporter
