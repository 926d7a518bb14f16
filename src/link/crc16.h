#pragma once
// CRC-16 of Modbus RTU and the byte splitting used to build frames.

#include <cstdint>
#include <span>

namespace torvix {

// Initial 0xFFFF, reflected polynomial 0xA001, no final XOR; sent low byte first.
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// Byte n (0 = bits 0..7 ... 3 = bits 24..31) of the 32-bit two's-complement form of value.
constexpr std::uint8_t byteOf(std::int64_t value, int n) {
    if (n < 0 || n > 3) return 0;
    const auto bits = static_cast<std::uint32_t>(value);
    return static_cast<std::uint8_t>((bits >> (8 * n)) & 0xFFu);
}

}  // namespace torvix
