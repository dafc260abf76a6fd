#include "reports/passport_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "passport_test_data.h"
#include "reports/crc16_modbus.h"

namespace corvane {
namespace {

using test::makePassport;
using test::storedAddress;

TEST(PassportBlock, EncodesHeaderAddressCrcAndData) {
    struct Row {
        const char* address;
        std::size_t receivedLength;
        std::array<std::uint8_t, 4> addressBytes;
        std::uint16_t crc;  // worked out independently of this code
    };
    const Row rows[] = {
        {"192.168.1.10", 418, {0xC0, 0xA8, 0x01, 0x0A}, 0xA029},
        {"192.168.1.10", 300, {0xC0, 0xA8, 0x01, 0x0A}, 0x3DF2},
        {"10.0.0.1", 418, {0x0A, 0x00, 0x00, 0x01}, 0x3648},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.address) + " / " + std::to_string(row.receivedLength));
        const PassportData data = makePassport(row.receivedLength);
        const PassportBlockBytes bytes =
            encodePassportBlock(makePassportBlock(storedAddress(row.address), data));

        const std::array<std::uint8_t, 12> header = {1, 0, 0, 0, 62, 0, 0, 0, 0xA2, 0x01, 0, 0};
        EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
        EXPECT_TRUE(
            std::equal(row.addressBytes.begin(), row.addressBytes.end(), bytes.begin() + 12));
        EXPECT_EQ(bytes[16], row.crc & 0xFF);
        EXPECT_EQ(bytes[17], row.crc >> 8);
        EXPECT_TRUE(
            std::all_of(bytes.begin() + 18, bytes.begin() + 62, [](auto b) { return b == 0; }));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + 62));
        EXPECT_TRUE(std::all_of(bytes.begin() + 62 + static_cast<long>(row.receivedLength),
                                bytes.end(), [](auto b) { return b == 0; }));
        EXPECT_EQ(storedPassportBlockCrc(bytes), row.crc);
        EXPECT_EQ(computePassportBlockCrc(bytes), row.crc);
    }
}

TEST(PassportBlock, CrcCoversTheBlockWithItsOwnFieldZero) {
    PassportBlockBytes bytes =
        encodePassportBlock(makePassportBlock(storedAddress("172.16.5.200"), makePassport()));
    PassportBlockBytes zeroed = bytes;
    zeroed[16] = 0;
    zeroed[17] = 0;
    EXPECT_EQ(storedPassportBlockCrc(bytes), crc16ModbusBitwise(zeroed));

    // Whatever the field holds, the CRC that belongs to the block stays the same.
    const std::uint16_t expected = computePassportBlockCrc(bytes);
    bytes[16] ^= 0xA5;
    bytes[17] ^= 0x3C;
    EXPECT_EQ(computePassportBlockCrc(bytes), expected);
}

}  // namespace
}  // namespace corvane
