// Addresses typed on the command line: only the forms the program writes are taken.
#include <gtest/gtest.h>

#include "devices/address_input.h"
#include "reports/address_formats.h"

namespace corvane {
namespace {

TEST(AddressInput, StrictTextForms) {
    struct Row {
        const char* text;
        std::optional<Ipv4Address> ip;
        std::optional<Destination> destination;  // text + ":1234"
    };
    const Ipv4Address kA = Ipv4Address::fromOctets(10, 77, 64, 11);
    const Ipv4Address kAll = Ipv4Address::fromOctets(255, 255, 255, 255);
    const Row ipRows[] = {
        {"10.77.64.11", kA, Destination{kA, 1234}},
        {"0.0.0.0", Ipv4Address(), Destination{Ipv4Address(), 1234}},
        {"255.255.255.255", kAll, Destination{kAll, 1234}},
        {"10.77.64.256", {}, {}},
        {"10.77.64", {}, {}},
        {"10.77.64.11.1", {}, {}},
        {"10.077.64.11", {}, {}},  // a leading zero reads as octal elsewhere
        {"+10.77.64.11", {}, {}},
        {" 10.77.64.11", {}, {}},
        {"10.77.64.11 ", {}, {}},
        {"10..64.11", {}, {}},
        {"10.77.64.1000", {}, {}},
        {"", {}, {}},
    };
    for (const Row& row : ipRows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Ipv4Address::parse(row.text), row.ip);
        EXPECT_EQ(parseDestination(std::string(row.text) + ":1234"), row.destination);
    }
    struct PortRow {
        const char* text;
        std::optional<std::uint16_t> port;
    };
    const PortRow portRows[] = {{"1", 1},      {"65535", 65535}, {"0", {}},    {"65536", {}},
                                {"99999", {}}, {"-1", {}},       {"+80", {}},  {"", {}},
                                {"8O", {}},    {"123456", {}},   {"00080", 80}};
    for (const PortRow& row : portRows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parsePort(row.text), row.port);
        EXPECT_EQ(parseDestination(std::string("239.1.1.1:") + row.text).has_value(),
                  row.port.has_value());
    }
    EXPECT_FALSE(parseDestination("239.1.1.1"));
    EXPECT_FALSE(parseDestination("239.1.1.1:80:80"));

    const MacAddress mac{0x02, 0xC0, 0x7A, 0xDE, 0x00, 0x0F};
    struct MacRow {
        const char* text;
        std::optional<MacAddress> mac;
    };
    const MacRow macRows[] = {
        {"02:C0:7A:DE:00:0F", mac}, {"02:c0:7a:de:00:0f", mac}, {"02-C0-7A-DE-00-0F", mac},
        {"02:C0-7A:DE:00:0F", {}},  {"02:C0:7A:DE:00", {}},     {"02:C0:7A:DE:00:0F:11", {}},
        {"02:C0:7A:DE:00:0G", {}},  {"2:C0:7A:DE:00:0F", {}},   {"02C07ADE000F", {}},
        {"02:C0:7A:DE:00:0F ", {}},
    };
    for (const MacRow& row : macRows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseMac(row.text), row.mac);
    }
}

}  // namespace
}  // namespace corvane
