#include "zip/crc32.h"

#include <array>

namespace {

constexpr uint32_t POLYNOMIAL = 0xEDB88320u;
constexpr int SLICES = 8;

// Row 0 is the CRC of each byte value. Row k advances a byte's CRC over k
// zero bytes more: the register is linear, so the CRC of eight bytes is the
// exclusive or of each byte's contribution from its distance to the end.
// Built at compile time so that no thread can see a half-filled table.
constexpr std::array<std::array<uint32_t, 256>, SLICES> MakeCrcTables() {
    std::array<std::array<uint32_t, 256>, SLICES> tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? POLYNOMIAL ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (int k = 1; k < SLICES; ++k)
        for (uint32_t n = 0; n < 256; ++n)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
    return tables;
}

constexpr std::array<std::array<uint32_t, 256>, SLICES> crcTables = MakeCrcTables();

inline uint32_t LoadLittle32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

} // namespace

// Eight bytes per step: the register takes in the first four, and every one
// of the eight is looked up in the row of its distance from the step's end.
uint32_t Crc32Update(uint32_t crc, const uint8_t* buffer, uint32_t length) {
    if (buffer == nullptr) return 0;
    const auto& t = crcTables;
    uint32_t c = ~crc;
    for (; length >= SLICES; buffer += SLICES, length -= SLICES) {
        const uint32_t low = c ^ LoadLittle32(buffer);
        const uint32_t high = LoadLittle32(buffer + 4);
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
            t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; length > 0; ++buffer, --length)
        c = t[0][(c ^ *buffer) & 0xFF] ^ (c >> 8);
    return ~c;
}
