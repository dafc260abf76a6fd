#include "reports/crc16_modbus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace corvane {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Crc16Modbus, KnownValues) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> input;
        std::uint16_t expected;
    };
    const Row rows[] = {
        {"check string", bytesOf("123456789"), 0x4B37},
        {"empty input keeps the initial value", {}, 0xFFFF},
        {"one zero byte", {0x00}, 0x40BF},
        {"read holding registers frame", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xCDC5},
        {"read holding registers, slave 17", {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x8776},
        {"all ones", {0xFF, 0xFF, 0xFF, 0xFF}, 0xB001},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(crc16Modbus(row.input), row.expected);
        EXPECT_EQ(crc16ModbusBitwise(row.input), row.expected);
    }
}

TEST(Crc16Modbus, TablesHoldThePublishedEntries) {
    // Entries of the 16-bit table for the reflected polynomial 0xA001.
    struct Row {
        int index;
        std::uint16_t entry;
    };
    const Row rows[] = {{0, 0x0000}, {1, 0xC0C1},   {2, 0xC181},
                        {3, 0x0140}, {128, 0xA001}, {255, 0x4040}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(kCrc16ModbusHighTable[row.index], row.entry >> 8);
        EXPECT_EQ(kCrc16ModbusLowTable[row.index], row.entry & 0xFF);
    }
}

TEST(Crc16Modbus, TableFormAgreesWithBitwiseForm) {
    std::vector<std::vector<std::uint8_t>> inputs;
    for (int value = 0; value < 256; ++value) {
        inputs.push_back({static_cast<std::uint8_t>(value)});
    }
    std::mt19937 random(20240131);
    std::uniform_int_distribution<int> length(0, 600);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> input(static_cast<std::size_t>(length(random)));
        for (auto& b : input) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        inputs.push_back(std::move(input));
    }
    for (const auto& input : inputs) {
        ASSERT_EQ(crc16Modbus(input), crc16ModbusBitwise(input)) << "length " << input.size();
    }
}

}  // namespace
}  // namespace corvane
