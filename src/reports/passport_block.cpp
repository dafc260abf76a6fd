#include "reports/passport_block.h"

#include <algorithm>
#include <cstring>

#include "reports/crc16_modbus.h"

namespace corvane {
namespace {

void putLe16(PassportBlockBytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(PassportBlockBytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

PassportBlock makePassportBlock(Ipv4Address ipAddress, const PassportData& data) {
    PassportBlock block;
    block.ipAddress = ipAddress.networkOrder();
    block.data = data;
    block.crc = computePassportBlockCrc(encodePassportBlock(block));
    return block;
}

PassportBlockBytes encodePassportBlock(const PassportBlock& block) {
    PassportBlockBytes bytes{};
    putLe32(bytes, 0, block.version);
    putLe32(bytes, 4, block.dataOffset);
    putLe32(bytes, 8, block.dataLength);
    // The address is in network order in memory, so its bytes go as they lie.
    std::memcpy(bytes.data() + kPassportBlockIpOffset, &block.ipAddress, sizeof block.ipAddress);
    putLe16(bytes, kPassportBlockCrcOffset, block.crc);
    std::copy(block.reserved.begin(), block.reserved.end(), bytes.begin() + 18);
    std::copy(block.data.begin(), block.data.end(), bytes.begin() + kPassportBlockDataOffset);
    return bytes;
}

std::uint16_t computePassportBlockCrc(const PassportBlockBytes& bytes) {
    PassportBlockBytes zeroed = bytes;
    putLe16(zeroed, kPassportBlockCrcOffset, 0);
    return crc16Modbus(zeroed);
}

std::uint16_t storedPassportBlockCrc(const PassportBlockBytes& bytes) {
    return static_cast<std::uint16_t>(bytes[kPassportBlockCrcOffset] |
                                      bytes[kPassportBlockCrcOffset + 1] << 8);
}

}  // namespace corvane
