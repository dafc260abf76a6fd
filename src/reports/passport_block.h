// The passport block: the module's passport data wrapped with a small header that
// says where the data lies, which module it came from, and a CRC over the whole
// block. The passport file is this block in hexadecimal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "net/wire_types.h"

namespace corvane {

inline constexpr std::size_t kPassportBlockSize = 480;
inline constexpr std::uint32_t kPassportBlockVersion = 1;
inline constexpr std::size_t kPassportBlockIpOffset = 12;
inline constexpr std::size_t kPassportBlockCrcOffset = 16;
inline constexpr std::size_t kPassportBlockDataOffset = 62;

// The block's bytes as they go into the file.
using PassportBlockBytes = std::array<std::uint8_t, kPassportBlockSize>;

#pragma pack(push, 1)

// The block's fields; numbers are little-endian in the encoded bytes.
struct PassportBlock {
    std::uint32_t version = kPassportBlockVersion;
    std::uint32_t dataOffset = kPassportBlockDataOffset;
    std::uint32_t dataLength = kPassportDataSize;
    std::uint32_t ipAddress = 0;  // network order: encoded first octet first
    std::uint16_t crc = 0;        // CRC-16/MODBUS of the encoded block with this field 0
    std::array<std::uint8_t, 44> reserved{};
    PassportData data{};  // exactly as the module sent it, zero beyond the reply
};

#pragma pack(pop)

static_assert(sizeof(PassportBlock) == kPassportBlockSize);
static_assert(offsetof(PassportBlock, dataOffset) == 4);
static_assert(offsetof(PassportBlock, dataLength) == 8);
static_assert(offsetof(PassportBlock, ipAddress) == kPassportBlockIpOffset);
static_assert(offsetof(PassportBlock, crc) == kPassportBlockCrcOffset);
static_assert(offsetof(PassportBlock, reserved) == 18);
static_assert(offsetof(PassportBlock, data) == kPassportBlockDataOffset);

// The block for a module at `ipAddress` with its CRC filled in.
PassportBlock makePassportBlock(Ipv4Address ipAddress, const PassportData& data);

// The 480 bytes of `block`, field by field, the CRC as it stands in `block`.
PassportBlockBytes encodePassportBlock(const PassportBlock& block);

// The CRC that belongs to `bytes`: computed over all of them with the CRC field
// taken as zero, whatever it holds.
std::uint16_t computePassportBlockCrc(const PassportBlockBytes& bytes);

// The CRC stored in `bytes` (low byte first).
std::uint16_t storedPassportBlockCrc(const PassportBlockBytes& bytes);

}  // namespace corvane
