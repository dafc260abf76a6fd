// Which targets /probe sends to, and how long a probe waits under a scrape timeout.
#include <gtest/gtest.h>

#include "exporter/exporter_routes.h"
#include "exporter/listen_address.h"
#include "exporter/target_rules.h"
#include "reports/address_formats.h"

namespace corvane::exporter {
namespace {

TEST(TargetRules, WhichTargetsAreProbed) {
    const std::vector<LocalAddress> usable = {
        {ipFromOctets(10, 77, 0, 1), ipFromOctets(255, 255, 0, 0), 0},
        {ipFromOctets(192, 168, 5, 20), ipFromOctets(255, 255, 255, 0), 0},
    };
    using V = TargetVerdict;
    struct Row {
        const char* text;
        bool allowAny;
        V verdict;
    };
    const Row rows[] = {
        {"10.77.64.11", false, V::accepted},
        {"10.77.255.254", false, V::accepted},
        {"192.168.5.9", false, V::accepted},
        {"192.168.6.9", false, V::outsideSubnets},
        {"10.78.0.5", false, V::outsideSubnets},
        {"10.78.0.5", true, V::accepted},
        {"8.8.8.8", true, V::accepted},
        {"", false, V::missing},
        {"10.77.64", false, V::notAnAddress},
        {"10.77.64.011", false, V::notAnAddress},
        {"10.77.64.11:9100", false, V::notAnAddress},
        {"module.example", false, V::notAnAddress},
        {" 10.77.64.11", false, V::notAnAddress},
        {"10.77.64.0", true, V::notModuleAddress},
        {"10.77.64.255", false, V::notModuleAddress},
        {"127.0.0.1", true, V::notModuleAddress},
        {"0.1.2.3", true, V::notModuleAddress},
        {"224.0.0.1", true, V::notModuleAddress},
        {"255.255.255.255", true, V::notModuleAddress},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const TargetCheck check = checkTarget(row.text, usable, row.allowAny);
        EXPECT_EQ(check.verdict, row.verdict);
        EXPECT_EQ(targetProblem(check, row.text).empty(), row.verdict == V::accepted);
        if (row.verdict == V::accepted) {
            EXPECT_EQ(formatIpAddress(check.ip), row.text);
        }
    }
    // No usable address: nothing is in a local subnet.
    EXPECT_EQ(checkTarget("10.77.64.11", {}, false).verdict, V::outsideSubnets);
}

TEST(TargetRules, ProbeWaitUnderAScrapeTimeout) {
    const std::pair<const char*, long long> rows[] = {
        {"", 3000},     {"10", 3000},  {"3.5", 3000},  {"3.4", 2900}, {"1", 500},
        {"0.55", 100},  {"0.5", 100},  {"0", 100},     {"-4", 100},   {"abc", 3000},
        {"2x", 3000},   {"inf", 3000}, {"nan", 3000},  {"1e0", 500},
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
