#include "zip/crc32.h"

#include <array>

namespace {

// Built at compile time so that no thread can see a half-filled table.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> crcTable = MakeCrcTable();

} // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* buffer, uint32_t length) {
    if (buffer == nullptr) return 0;
    uint32_t c = ~crc;
    for (uint32_t i = 0; i < length; ++i)
        c = crcTable[(c ^ buffer[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}
