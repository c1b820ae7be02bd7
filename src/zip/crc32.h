// CRC-32 of the zip format (reflected polynomial 0xEDB88320). Plain C++.
#pragma once

#include <cstdint>

// Continues crc over length bytes; a null buffer yields 0. Start with 0.
uint32_t Crc32Update(uint32_t crc, const uint8_t* buffer, uint32_t length);
