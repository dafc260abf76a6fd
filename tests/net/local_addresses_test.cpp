// Which of the computer's addresses are offered as sources, and in which order.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/local_addresses.h"
#include "net/wire_bytes.h"

namespace corvane {
namespace {

using test::ipv4;

TEST(LocalAddresses, SelectionFromTheAddressTable) {
    const Ipv4Address mask8 = ipv4(255, 0, 0, 0);
    const Ipv4Address mask16 = ipv4(255, 255, 0, 0);
    const Ipv4Address mask24 = ipv4(255, 255, 255, 0);
    struct Row {
        const char* name;
        std::vector<AddressTableRow> table;
        std::vector<LocalAddress> expected;
    };
    const Row rows[] = {
        {"loopback, any and 255.x never; 128.0.0.1 and link-local listed",
         {{ipv4(127, 0, 0, 1), mask8},
          {ipv4(0, 0, 0, 0), {}},
          {ipv4(255, 1, 2, 3), mask8},
          {ipv4(169, 254, 10, 20), mask16},
          {ipv4(128, 0, 0, 1), mask8}},
         {{ipv4(128, 0, 0, 1), mask8, 0}, {ipv4(169, 254, 10, 20), mask16, 0}}},
        {"127.x other than 127.0.0.1 skipped too",
         {{ipv4(127, 1, 2, 3), mask8}, {ipv4(126, 255, 255, 254), mask8}},
         {{ipv4(126, 255, 255, 254), mask8, 0}}},
        {"an address on two interfaces keeps its first mask",
         {{ipv4(10, 0, 0, 5), mask24}, {ipv4(10, 0, 0, 5), mask16}},
         {{ipv4(10, 0, 0, 5), mask24, 0}}},
        {"ascending in dotted order, first octet most significant",
         {{ipv4(192, 168, 1, 2), mask24},
          {ipv4(10, 200, 0, 1), mask8},
          {ipv4(192, 168, 1, 1), mask24},
          {ipv4(10, 0, 0, 255), mask8},
          {ipv4(172, 16, 0, 1), mask16}},
         {{ipv4(10, 0, 0, 255), mask8, 0},
          {ipv4(10, 200, 0, 1), mask8, 0},
          {ipv4(172, 16, 0, 1), mask16, 0},
          {ipv4(192, 168, 1, 1), mask24, 0},
          {ipv4(192, 168, 1, 2), mask24, 0}}},
        {"only loopback", {{ipv4(127, 0, 0, 1), mask8}}, {}},
        {"empty table", {}, {}},
    };
    for (const Row& row : rows) {
        std::vector<LocalAddress> list{{ipv4(1, 1, 1, 1), {}, 0}};  // emptied first
        EXPECT_EQ(selectLocalAddresses(row.table, list), !row.expected.empty()) << row.name;
        EXPECT_EQ(list, row.expected) << row.name;
    }
}

// This machine's own table: whatever it holds, the rules hold for the result.
TEST(LocalAddresses, ListingThisMachineFollowsTheRules) {
    std::vector<LocalAddress> list{{ipv4(1, 1, 1, 1), {}, 0}};
    const bool any = listLocalAddresses(list);
    EXPECT_EQ(any, !list.empty());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_FALSE(list[i].address.isUnspecified());
        EXPECT_NE(list[i].address.octets()[0] & 0x7F, 0x7F);
        EXPECT_EQ(list[i].spare, 0u);
        EXPECT_NE(list[i].address, ipv4(1, 1, 1, 1)) << "the list was not emptied first";
    }
    std::vector<AddressTableRow> rows;
    for (const LocalAddress& entry : list) {
        rows.push_back({entry.address, entry.mask});
    }
    std::vector<LocalAddress> reselected;
    selectLocalAddresses(rows, reselected);
    EXPECT_EQ(reselected, list) << "sorted and free of duplicates";
}

}  // namespace
}  // namespace corvane
