// Block checks of the XMODEM family: the 16-bit CRC (polynomial 0x1021,
// initial value 0, no reflection, no final XOR) and the 8-bit checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

// table[i] is the CRC of the single byte i.
const std::array<uint16_t, 256>& VaCrc16Table();

// One step of the table-driven CRC.
inline uint16_t VaCrc16Update(uint16_t crc, uint8_t b)
{
    return static_cast<uint16_t>(VaCrc16Table()[((crc >> 8) ^ b) & 0xFF] ^ (crc << 8));
}

uint16_t VaCrc16(const uint8_t* data, size_t count, uint16_t crc = 0);

// Low 8 bits of the sum of the bytes.
uint8_t VaChecksum(const uint8_t* data, size_t count);

}  // namespace kv
