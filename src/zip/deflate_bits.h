// Bit output of the compressor: bits are gathered in a 64-bit buffer and leave
// in whole bytes through the archive's I/O buffer to ZipWriteBytes.
#pragma once

#include "zip/deflate_state.h"

#include <cstdint>
#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the bit output stores words low byte first, as a little-endian machine does"
#endif

//--- bytes to the sink
void DeflateWriteOut(DeflateState* s);
void DeflateWindup(DeflateState* s);
void DeflateWriteStored(DeflateState* s, const uint8_t* input, uint32_t length);

//--- bits
// Stores 32 bits at out, the oldest first: one word-sized store.
inline void DeflatePutWord(uint8_t* out, uint32_t word) {
    memcpy(out, &word, sizeof word);
}

// Appends length (0-16) bits of value, least significant first. Whole 32-bit
// words move to the output buffer, which is written to the sink when fewer than
// 4 bytes of it are free.
inline void DeflateSendBits(DeflateState* s, uint32_t value, uint32_t length) {
    s->bitBuffer |= static_cast<uint64_t>(value) << s->bitCount;
    s->bitCount += length;
    if (s->bitCount >= 32) {
        if (s->outSize - s->outPos < 4) DeflateWriteOut(s);
        DeflatePutWord(s->outBuffer + s->outPos, static_cast<uint32_t>(s->bitBuffer));
        s->outPos += 4;
        s->bitBuffer >>= 32;
        s->bitCount -= 32;
    }
}
