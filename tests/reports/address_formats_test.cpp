#include "reports/address_formats.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(AddressFormats, MacText) {
    const struct {
        MacAddress octets;
        const char* text;
    } rows[] = {
        {{0, 0, 0, 0, 0, 0}, ""},
        {{0, 0, 0, 0, 0, 1}, "00:00:00:00:00:01"},
        {{0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}, "0A:1B:2C:3D:4E:5F"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FF:FF:FF:FF:FF:FF"},
        {{0xA0, 0, 0, 0, 0, 0}, "A0:00:00:00:00:00"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(formatMacAddress(row.octets), row.text);
    }
}

TEST(AddressFormats, DeviceAddressValidity) {
    const struct {
        std::uint8_t octets[4];
        bool valid;
    } rows[] = {
        {{1, 0, 0, 1}, true},         {{0, 1, 2, 3}, false},         {{10, 0, 255, 1}, true},
        {{126, 255, 255, 254}, true}, {{127, 0, 0, 1}, false},       {{128, 0, 0, 1}, true},
        {{192, 168, 1, 0}, false},    {{192, 168, 1, 255}, false},   {{223, 255, 255, 254}, true},
        {{224, 0, 0, 1}, false},      {{255, 255, 255, 255}, false},
    };
    for (const auto& row : rows) {
        const auto address =
            Ipv4Address::fromOctets(row.octets[0], row.octets[1], row.octets[2], row.octets[3]);
        EXPECT_EQ(isValidDeviceAddress(address), row.valid) << address.text();
    }
}

}  // namespace
}  // namespace corvane
