// One address, every form: dotted text, the settings file's integer, the octets in memory
// (network order) and the number with the first octet most significant (host order).
#include "net/ipv4_address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/wire_bytes.h"

namespace corvane {
namespace {

TEST(Ipv4Address, EveryFormOfOneAddress) {
    struct Row {
        std::uint8_t octets[4];
        const char* text;
        std::int32_t settingsInteger;  // as the settings file holds it
        std::uint32_t hostOrder;       // as an IP-address field holds it
    };
    const Row rows[] = {
        {{192, 168, 0, 10}, "192.168.0.10", 167815360, 0xC0A8000Au},
        {{0, 0, 0, 0}, "0.0.0.0", 0, 0},
        {{10, 0, 0, 1}, "10.0.0.1", 16777226, 0x0A000001u},
        {{224, 0, 0, 1}, "224.0.0.1", 16777440, 0xE0000001u},
        {{10, 77, 64, 200}, "10.77.64.200", -935310070, 0x0A4D40C8u},  // last octet >= 128
        {{255, 255, 255, 255}, "255.255.255.255", -1, 0xFFFFFFFFu},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto address =
            Ipv4Address::fromOctets(row.octets[0], row.octets[1], row.octets[2], row.octets[3]);
        EXPECT_EQ(address.text(), row.text);
        EXPECT_EQ(Ipv4Address::parse(row.text), address);
        EXPECT_EQ(address.settingsInteger(), row.settingsInteger);
        EXPECT_EQ(Ipv4Address::fromSettingsInteger(row.settingsInteger), address);
        EXPECT_EQ(address.hostOrder(), row.hostOrder);
        EXPECT_EQ(Ipv4Address::fromHostOrder(row.hostOrder), address);
        // Network order is the octets as they lie in memory, on any host.
        const std::uint32_t network = address.networkOrder();
        EXPECT_EQ(std::memcmp(&network, row.octets, 4), 0);
        EXPECT_EQ(network,
                  test::packedIpv4(row.octets[0], row.octets[1], row.octets[2], row.octets[3]));
        EXPECT_EQ(Ipv4Address::fromNetworkOrder(network), address);
        EXPECT_EQ(address.isUnspecified(), row.hostOrder == 0);
        EXPECT_EQ(address.isMulticast(), row.octets[0] >= 224 && row.octets[0] <= 239);
    }
}

// Forms not taken: each would be some other address to a laxer reader, or none.
TEST(Ipv4Address, ParseRefusesWhatItDoesNotWrite) {
    const char* const refused[] = {
        "1.2.3.04",  "00.1.2.3",  "1.2.3.",   ".1.2.3",     "1.2.3.4.",   "1.2.3",
        "1",         "0x1.2.3.4", "1.2.3.-4", "1.2.3.4/24", "1.2.3.4:80", "256.0.0.0",
        "1.2.3.999", "1.2.3.4\n", "1,2,3,4",  "1. 2.3.4",   "one.2.3.4",  "",
    };
    for (const char* text : refused) {
        EXPECT_EQ(Ipv4Address::parse(text), std::nullopt) << '"' << text << '"';
    }
    // A NUL inside the text ends nothing early: the whole view must be an address.
    EXPECT_EQ(Ipv4Address::parse(std::string_view("1.2.3.4\0"
                                                  "5",
                                                  9)),
              std::nullopt);
}

TEST(Ipv4Address, OrdersAsDottedText) {
    std::vector<Ipv4Address> addresses = {
        Ipv4Address::fromOctets(10, 0, 0, 2), Ipv4Address::fromOctets(9, 255, 255, 255),
        Ipv4Address::fromOctets(10, 0, 1, 0), Ipv4Address::fromOctets(10, 0, 0, 10),
        Ipv4Address::fromOctets(192, 168, 0, 1)};
    std::sort(addresses.begin(), addresses.end());
    std::vector<std::string> texts;
    for (const Ipv4Address& address : addresses) {
        texts.push_back(address.text());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"9.255.255.255", "10.0.0.2", "10.0.0.10", "10.0.1.0",
                                               "192.168.0.1"}));
}

}  // namespace
}  // namespace corvane
