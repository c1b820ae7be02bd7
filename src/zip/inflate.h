// The inflater: decodes a raw deflate stream (stored, fixed and dynamic
// blocks) with bounded memory. The caller hands the input over in chunks and
// takes the output in chunks, so that streams of any length are decoded
// without holding them. Plain C++.
#pragma once

#include <cstdint>

//--- results
enum InflateResult : int {
    INFLATE_OK = 0,        // the final block ended
    INFLATE_TRUNCATED = 1, // the input ended before the final block did
    INFLATE_INVALID = 2,   // the stream breaks the format
    INFLATE_STOPPED = 3,   // a callback asked to stop
};

//--- the caller's side
struct InflateInput {
    void* context;
    // Points *chunk at the next bytes of the stream and returns their count:
    // 0 at the end of the input, -1 to stop. The bytes stay valid until the
    // next call.
    int32_t (*next)(void* context, const uint8_t** chunk);
};

struct InflateOutput {
    void* context;
    // Takes count decoded bytes (count > 0); false stops decoding.
    bool (*take)(void* context, const uint8_t* bytes, uint32_t count);
};

//--- work area (about 155 KiB; the caller allocates it, contents need no setting up)
constexpr uint32_t INFLATE_HISTORY = 32768;                  // the farthest distance a match reaches
constexpr uint32_t INFLATE_WINDOW = INFLATE_HISTORY + 98304; // history and room for new output
constexpr uint32_t INFLATE_LITERAL_BITS = 10;                // index bits of the first lookup
constexpr uint32_t INFLATE_DISTANCE_BITS = 8;
// A complete code of S symbols up to 15 bits long needs at most S * 2^k / (k + 1)
// second-level entries with k = 15 - index bits: every second-level table of
// 2^j entries holds at least j + 1 codes.
constexpr uint32_t INFLATE_LITERAL_ENTRIES = (1u << INFLATE_LITERAL_BITS) + (288u * 32 + 5) / 6;
constexpr uint32_t INFLATE_DISTANCE_ENTRIES = (1u << INFLATE_DISTANCE_BITS) + (32u * 128 + 7) / 8;

struct InflateWork {
    uint32_t literals[INFLATE_LITERAL_ENTRIES]; // the current block's tables
    uint32_t distances[INFLATE_DISTANCE_ENTRIES];
    uint32_t fixedLiterals[INFLATE_LITERAL_ENTRIES]; // the fixed code's, built at its first use
    uint32_t fixedDistances[INFLATE_DISTANCE_ENTRIES];
    uint8_t window[INFLATE_WINDOW];
};

// Decodes one stream. On INFLATE_OK *consumed is the number of input bytes up
// to the end of the final block (its last byte included); what follows is the
// caller's. Hostile input never makes it read or write out of bounds.
int InflateStream(InflateWork* work, const InflateInput& input, const InflateOutput& output,
                  uint64_t* consumed);
