// The compressor's state: one heap block per archive, allocated at the first
// deflated entry and freed at closing. Plain C++, no platform headers.
#pragma once

#include "zip/zip_archive.h"

#include <cstdint>

//--- matcher constants
constexpr uint32_t DEFLATE_WINDOW_SIZE = 32768;   // half of the window buffer; the unit of a slide
constexpr uint32_t DEFLATE_WINDOW_BUFFER = 65536; // twice the window size
constexpr uint32_t DEFLATE_MIN_MATCH = 3;
constexpr uint32_t DEFLATE_MAX_MATCH = 258;
constexpr uint32_t DEFLATE_MIN_LOOKAHEAD = DEFLATE_MAX_MATCH + DEFLATE_MIN_MATCH + 1;  // 262
constexpr uint32_t DEFLATE_MAX_DISTANCE = DEFLATE_WINDOW_SIZE - DEFLATE_MIN_LOOKAHEAD; // 32,506
constexpr uint32_t DEFLATE_SLIDE_AT = DEFLATE_WINDOW_SIZE + DEFLATE_MAX_DISTANCE;      // 65,274
constexpr uint32_t DEFLATE_HASH_SIZE = 32768;
constexpr uint32_t DEFLATE_HASH_MASK = 0x7FFF;
constexpr uint32_t DEFLATE_HASH_SHIFT = 5;
constexpr uint32_t DEFLATE_FAR_LIMIT = 4096; // a 3-byte match farther back is not worth its distance
constexpr uint32_t DEFLATE_TALLY_CAPACITY = 32768;
constexpr uint32_t DEFLATE_FLAG_CAPACITY = DEFLATE_TALLY_CAPACITY / 8;

//--- Huffman constants
constexpr int DEFLATE_LITERAL_CODES = 286; // 0-255 literals, 256 end of block, 257-285 lengths
constexpr int DEFLATE_DISTANCE_CODES = 30;
constexpr int DEFLATE_BITLENGTH_CODES = 19;
constexpr int DEFLATE_FIXED_LITERAL_CODES = 288;
constexpr int DEFLATE_LENGTH_CODES = 29;
constexpr int DEFLATE_END_OF_BLOCK = 256;
constexpr int DEFLATE_HEAP_SIZE = 2 * DEFLATE_LITERAL_CODES + 1; // 573
constexpr int DEFLATE_MAX_BITS = 15;
constexpr int DEFLATE_MAX_BITLENGTH_BITS = 7;

//--- trees
struct DeflateNode {
    uint16_t fc; // frequency while the tree is built; afterwards the code, bit-reversed
    uint16_t dl; // parent node while the tree is built; afterwards the code length (0: unused)
};

struct DeflateTreeDesc {
    DeflateNode* tree;            // the dynamic tree, codes first, inner nodes after them
    const DeflateNode* fixedTree; // fixed code of the same alphabet, or null (bit-length tree)
    const uint8_t* extraBits;     // extra bits of the codes from extraBase on
    int extraBase;                // first code with an extra-bits entry
    int codes;                    // size of the alphabet
    int maxLength;                // no code may be longer
    int maxCode;                  // largest code with a non-zero frequency, set by the build
};

//--- the state
struct DeflateState {
    ZipArchive* archive; // whose source is read and whose sink is written (the current entry's)

    // Matcher. Invariant: strStart + lookahead <= windowBufferSize, and strStart <= 65,274
    // whenever a match is searched, so a comparison of 258 bytes stays inside the window.
    uint8_t window[DEFLATE_WINDOW_BUFFER]; // input; the lower half is history once a slide has happened
    // Positions are below 65,536, so the two chain tables hold 16 bits each: half the cache they
    // would take with 32-bit entries, on the path that dominates the running time.
    uint16_t prev[DEFLATE_WINDOW_SIZE]; // by position & 0x7FFF: earlier position of the same hash, 0 none
    uint16_t head[DEFLATE_HASH_SIZE];   // by hash: latest position with that hash, 0 none
    uint32_t windowBufferSize;          // always 65,536
    int32_t blockStart;                 // window position of the current block's input; < 0 after a slide
    uint32_t insertHash;                // hash of the three bytes at the last inserted position
    uint32_t strStart;                  // current window position
    uint32_t matchStart;                // where the best match found so far begins
    uint32_t lookahead;                 // valid input bytes from strStart on
    uint32_t maxChain;                  // candidates examined per search (1,024)
    uint32_t maxLazy;                   // no search once the previous match is this long (128)
    uint32_t goodLength;                // a previous match this long quarters the chain (32)
    uint32_t niceLength;                // a match this long ends the search; never above the lookahead
    uint8_t endOfInput;                 // the source returned 0 bytes; no more reads for this entry
    uint8_t sliding;                    // always 1
    uint8_t level;                      // always 8

    // Tally: the current block's symbols, waiting to be coded.
    uint8_t litBuffer[DEFLATE_TALLY_CAPACITY];   // per entry: literal byte or match length - 3
    uint16_t distBuffer[DEFLATE_TALLY_CAPACITY]; // per match: distance - 1
    uint8_t flagBuffer[DEFLATE_FLAG_CAPACITY];   // per entry one bit, LSB first, set for a match
    uint32_t tallyCount;                         // entries so far; below 32,768
    uint32_t matchCount;                         // matches so far; at most tallyCount
    uint32_t flagCount;                          // complete flag bytes stored == tallyCount / 8
    uint8_t flagByte;                            // flags of the entries since the last stored byte
    uint8_t flagBit;                             // bit of the next entry in flagByte

    // Huffman trees: frequencies of the current block until it is flushed.
    DeflateNode litTree[DEFLATE_HEAP_SIZE];
    DeflateNode distTree[2 * DEFLATE_DISTANCE_CODES + 1];
    DeflateNode bitLengthTree[2 * DEFLATE_BITLENGTH_CODES + 1];
    DeflateNode fixedLitTree[DEFLATE_FIXED_LITERAL_CODES]; // built once; lengths and codes
    DeflateNode fixedDistTree[DEFLATE_DISTANCE_CODES];     // built once; dl[0] == 0 until then
    DeflateTreeDesc litDesc, distDesc, bitLengthDesc;      // set up when the state is allocated
    uint8_t lengthCode[256];                               // length - 3 -> length code 0-28
    uint8_t distanceCode[512];                             // see DeflateDistanceCode
    uint16_t baseLength[DEFLATE_LENGTH_CODES];             // first length - 3 of each code
    uint16_t baseDistance[DEFLATE_DISTANCE_CODES];         // first distance - 1 of each code
    uint16_t lengthCounts[DEFLATE_MAX_BITS + 1];           // codes of each length, while building
    int heap[DEFLATE_HEAP_SIZE]; // heap in [1, heapLength]; sorted nodes from heapMax on
    int heapLength;
    int heapMax;
    uint8_t depth[DEFLATE_HEAP_SIZE]; // subtree height, breaks frequency ties toward shallow nodes

    // Block accounting.
    uint32_t optimalLength;   // bits of the block with dynamic codes, header excluded
    uint32_t fixedLength;     // bits of the block with the fixed codes, header excluded
    uint64_t compressedBytes; // whole bytes of the entry's output so far
    uint32_t compressedBits;  // leftover bits (0-7) beyond compressedBytes

    // Bit output: bits leave least significant first; the buffer is the archive's I/O buffer.
    uint64_t bitBuffer; // pending bits, the oldest in bit 0; only the low bitCount bits are set
    uint32_t bitCount;  // below 32 between calls
    uint8_t* outBuffer; // archive->ioBuffer
    uint32_t outSize;   // 16,384
    uint32_t outPos;    // bytes waiting in outBuffer
};

// Distance code of distance - 1 (below 32,768).
inline uint32_t DeflateDistanceCode(const DeflateState* s, uint32_t distMinus1) {
    return distMinus1 < 256 ? s->distanceCode[distMinus1] : s->distanceCode[256 + (distMinus1 >> 7)];
}
