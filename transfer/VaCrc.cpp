#include "transfer/VaCrc.h"

namespace kv {

namespace {

constexpr std::array<uint16_t, 256> MakeTable()
{
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : (c << 1));
        t[static_cast<size_t>(i)] = c;
    }
    return t;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

const std::array<uint16_t, 256>& VaCrc16Table()
{
    return kTable;
}

uint16_t VaCrc16(const uint8_t* data, size_t count, uint16_t crc)
{
    for (size_t i = 0; i < count; ++i)
        crc = VaCrc16Update(crc, data[i]);
    return crc;
}

uint8_t VaChecksum(const uint8_t* data, size_t count)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

}  // namespace kv
