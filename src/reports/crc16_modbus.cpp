#include "reports/crc16_modbus.h"

namespace corvane {

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes) {
    std::uint8_t high = kCrc16ModbusInit >> 8;
    std::uint8_t low = kCrc16ModbusInit & 0xFF;
    for (std::uint8_t byte : bytes) {
        const std::uint8_t index = low ^ byte;
        low = high ^ kCrc16ModbusLowTable[index];
        high = kCrc16ModbusHighTable[index];
    }
    return static_cast<std::uint16_t>(high << 8 | low);
}

std::uint16_t crc16ModbusBitwise(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = kCrc16ModbusInit;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

}  // namespace corvane
