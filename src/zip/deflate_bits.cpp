// Bit output: the archive's 16,384-byte buffer collects the compressed bytes and
// is written when it fills, at each stored block and at the end of an entry.
#include "zip/deflate_bits.h"

// Writes what the output buffer holds. After a failed write the sink ignores
// everything else of the entry; the caller sees archive->error.
void DeflateWriteOut(DeflateState* s) {
    ZipWriteBytes(s->archive, s->outBuffer, s->outPos);
    s->outPos = 0;
}

// Pads the pending bits to a whole byte and empties the output buffer, so that
// the next bytes can go to the sink directly.
void DeflateWindup(DeflateState* s) {
    while (s->bitCount > 0) {
        if (s->outPos == s->outSize) DeflateWriteOut(s);
        s->outBuffer[s->outPos++] = static_cast<uint8_t>(s->bitBuffer);
        s->bitBuffer >>= 8;
        s->bitCount = s->bitCount > 8 ? s->bitCount - 8 : 0;
    }
    s->bitBuffer = 0;
    DeflateWriteOut(s);
}

// The stored block's header bits are already sent. Its length (below 65,536)
// and complement follow on a byte boundary, then the input straight from the
// window, without a copy.
void DeflateWriteStored(DeflateState* s, const uint8_t* input, uint32_t length) {
    DeflateWindup(s);
    uint8_t* out = s->outBuffer;
    out[0] = static_cast<uint8_t>(length);
    out[1] = static_cast<uint8_t>(length >> 8);
    out[2] = static_cast<uint8_t>(~length);
    out[3] = static_cast<uint8_t>(~length >> 8);
    s->outPos = 4;
    DeflateWriteOut(s);
    ZipWriteBytes(s->archive, input, length);
}
