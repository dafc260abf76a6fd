// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final
// exclusive-or. The passport block carries it so that a reader can tell a damaged
// file from a good one.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace corvane {

namespace detail {

// One byte's worth of shifts of the reflected register, starting from `index`.
constexpr std::uint16_t crc16ModbusTableEntry(std::uint8_t index) {
    std::uint16_t crc = index;
    for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                             : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

template <int Shift>
constexpr std::array<std::uint8_t, 256> makeCrc16ModbusByteTable() {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] =
            static_cast<std::uint8_t>(crc16ModbusTableEntry(static_cast<std::uint8_t>(i)) >> Shift);
    }
    return table;
}

}  // namespace detail

// The table form works on the two bytes of the register separately, one table per
// byte: for the register (high, low) and the next message byte b, with i = low ^ b,
// the new register is (kCrc16ModbusHighTable[i], high ^ kCrc16ModbusLowTable[i]).
inline constexpr std::array<std::uint8_t, 256> kCrc16ModbusHighTable =
    detail::makeCrc16ModbusByteTable<8>();
inline constexpr std::array<std::uint8_t, 256> kCrc16ModbusLowTable =
    detail::makeCrc16ModbusByteTable<0>();

inline constexpr std::uint16_t kCrc16ModbusInit = 0xFFFF;

// Table form, the one the passport writer uses.
std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes);

// Bitwise form: the definition itself, kept as the reference for the table form.
std::uint16_t crc16ModbusBitwise(std::span<const std::uint8_t> bytes);

}  // namespace corvane
