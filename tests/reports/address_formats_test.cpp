#include "reports/address_formats.h"

#include <gtest/gtest.h>

#include <cstring>

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

TEST(AddressFormats, IpTextFromStoredBytes) {
    const struct {
        std::uint8_t bytes[4];
        const char* text;
    } rows[] = {
        {{0xC0, 0xA8, 0x00, 0x0A}, "192.168.0.10"},
        {{0, 0, 0, 0}, "0.0.0.0"},
        {{0x0A, 0x00, 0x00, 0x01}, "10.0.0.1"},
        {{255, 255, 255, 255}, "255.255.255.255"},
    };
    for (const auto& row : rows) {
        std::uint32_t stored;
        std::memcpy(&stored, row.bytes, 4);
        EXPECT_EQ(formatIpAddress(stored), row.text);
        EXPECT_EQ(stored, ipFromOctets(row.bytes[0], row.bytes[1], row.bytes[2], row.bytes[3]));
    }
}

TEST(AddressFormats, FieldValueIsReversedAtTheBoundary) {
    // The field gives 192.168.0.10 with C0 most significant; stored, C0 comes first in memory.
    const std::uint32_t fieldValue = 0xC0A8000Au;
    const std::uint32_t stored = reverseAddressBytes(fieldValue);
    std::uint8_t bytes[4];
    std::memcpy(bytes, &stored, 4);
    EXPECT_EQ(bytes[0], 0xC0);
    EXPECT_EQ(bytes[1], 0xA8);
    EXPECT_EQ(bytes[2], 0x00);
    EXPECT_EQ(bytes[3], 0x0A);
    EXPECT_EQ(formatIpAddress(stored), "192.168.0.10");
    EXPECT_EQ(reverseAddressBytes(stored), fieldValue);
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
        const auto stored =
            ipFromOctets(row.octets[0], row.octets[1], row.octets[2], row.octets[3]);
        EXPECT_EQ(isValidDeviceAddress(stored), row.valid) << formatIpAddress(stored);
    }
}

}  // namespace
}  // namespace corvane
