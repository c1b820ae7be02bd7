// The match finder: turns an entry's bytes into literals and (length, distance)
// matches with a 32 KiB sliding window, hash chains over three-byte strings and
// lazy evaluation, and decides where blocks end. Always level 8.
#include "zip/deflate_match.h"

#include "zip/deflate_huffman.h"

#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the word-wise match comparison assumes a little-endian machine"
#endif

//--- tally

// Common tail of a tally entry: stores full flag bytes and tells whether the
// block should end here. Every 4,096 entries a rough cost estimate ends a block
// early when it holds few matches yet already compresses well, so that the next
// part of the input gets trees of its own.
static inline bool TallyDone(DeflateState* s, uint32_t strStart) {
    s->flagBit = static_cast<uint8_t>(s->flagBit << 1);
    if ((s->tallyCount & 7) == 0) {
        s->flagBuffer[s->flagCount++] = s->flagByte;
        s->flagByte = 0;
        s->flagBit = 1;
    }
    if ((s->tallyCount & 0xFFF) == 0) {
        uint32_t outBits = 8 * s->tallyCount;
        for (int code = 0; code < DEFLATE_DISTANCE_CODES; code++)
            outBits += s->distTree[code].fc * (5u + DEFLATE_EXTRA_DISTANCE_BITS[code]);
        const uint32_t input = static_cast<uint32_t>(static_cast<int32_t>(strStart) - s->blockStart);
        if (s->matchCount < s->tallyCount / 2 && outBits / 8 < input / 2) return true;
    }
    return s->tallyCount == DEFLATE_TALLY_CAPACITY - 1 || s->matchCount == DEFLATE_TALLY_CAPACITY;
}

static inline bool TallyLiteral(DeflateState* s, uint32_t literal, uint32_t strStart) {
    s->litBuffer[s->tallyCount++] = static_cast<uint8_t>(literal);
    s->litTree[literal].fc++;
    return TallyDone(s, strStart);
}

static inline bool TallyMatch(DeflateState* s, uint32_t distance, uint32_t lengthMinus3, uint32_t strStart) {
    s->litBuffer[s->tallyCount++] = static_cast<uint8_t>(lengthMinus3);
    s->litTree[s->lengthCode[lengthMinus3] + DEFLATE_END_OF_BLOCK + 1].fc++;
    const uint32_t distMinus1 = distance - 1;
    s->distBuffer[s->matchCount++] = static_cast<uint16_t>(distMinus1);
    s->distTree[DeflateDistanceCode(s, distMinus1)].fc++;
    s->flagByte |= s->flagBit;
    return TallyDone(s, strStart);
}

//--- window

// Keeps at least 262 bytes of input ahead of strStart while the source lasts.
// Once strStart is 65,274 the upper half moves down and every position drops by
// 32,768; positions that fall out of the window become 0, the empty position.
static void FillWindow(DeflateState* s) {
    do {
        uint32_t space = s->windowBufferSize - s->lookahead - s->strStart;
        if (s->strStart >= DEFLATE_SLIDE_AT) {
            memcpy(s->window, s->window + DEFLATE_WINDOW_SIZE, DEFLATE_WINDOW_SIZE);
            s->matchStart -= DEFLATE_WINDOW_SIZE;
            s->strStart -= DEFLATE_WINDOW_SIZE;
            s->blockStart -= static_cast<int32_t>(DEFLATE_WINDOW_SIZE);
            for (uint32_t n = 0; n < DEFLATE_HASH_SIZE; n++) {
                const uint32_t h = s->head[n];
                s->head[n] = static_cast<uint16_t>(h > DEFLATE_WINDOW_SIZE ? h - DEFLATE_WINDOW_SIZE : 0);
            }
            for (uint32_t n = 0; n < DEFLATE_WINDOW_SIZE; n++) {
                const uint32_t p = s->prev[n];
                s->prev[n] = static_cast<uint16_t>(p > DEFLATE_WINDOW_SIZE ? p - DEFLATE_WINDOW_SIZE : 0);
            }
            space += DEFLATE_WINDOW_SIZE;
        }
        if (s->endOfInput) return;
        // A read of 0 bytes is the end of the input, or a failure that has set archive->error.
        const uint32_t count = ZipReadSource(s->archive, s->window + s->strStart + s->lookahead, space);
        if (count == 0) {
            s->endOfInput = 1;
            return;
        }
        s->lookahead += count;
    } while (s->lookahead < DEFLATE_MIN_LOOKAHEAD);
}

// A fresh matcher for every entry: nothing of one entry can be matched by the
// next, and the nice length lowered near the previous entry's end is restored.
static void InitMatcher(DeflateState* s, ZipEntry* entry) {
    s->sliding = 1;
    s->windowBufferSize = DEFLATE_WINDOW_BUFFER;
    memset(s->head, 0, sizeof s->head);
    s->maxChain = DEFLATE_MAX_CHAIN;
    s->maxLazy = DEFLATE_MAX_LAZY;
    s->goodLength = DEFLATE_GOOD_LENGTH;
    s->niceLength = DEFLATE_NICE_LENGTH;
    entry->flags |= 0x0002;

    s->strStart = 0;
    s->blockStart = 0;
    s->matchStart = 0;
    s->endOfInput = 0;
    s->lookahead = ZipReadSource(s->archive, s->window, s->windowBufferSize);
    if (s->lookahead == 0) return;
    if (s->lookahead < DEFLATE_MIN_LOOKAHEAD) FillWindow(s);
    s->insertHash = (static_cast<uint32_t>(s->window[0]) << DEFLATE_HASH_SHIFT) ^ s->window[1];
}

//--- matching

#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t MatchWord;
#else
typedef uint32_t MatchWord;
#endif

static inline uint32_t TrailingZeroBits(MatchWord word) {
    return static_cast<uint32_t>(sizeof word == 8 ? __builtin_ctzll(word)
                                                  : __builtin_ctz(static_cast<uint32_t>(word)));
}

static inline uint32_t Load16(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Length of the common run of scan and match, whose first three bytes are known
// to be equal, up to 258. It compares a machine word at a time; the last word
// may look at scan[258] but never further, which stays inside the window
// because a search starts at 65,274 at the latest.
static inline uint32_t CommonLength(const uint8_t* scan, const uint8_t* match) {
    for (uint32_t i = DEFLATE_MIN_MATCH; i < DEFLATE_MAX_MATCH; i += sizeof(MatchWord)) {
        MatchWord a, b;
        memcpy(&a, scan + i, sizeof a);
        memcpy(&b, match + i, sizeof b);
        const MatchWord diff = a ^ b;
        if (diff != 0) {
            const uint32_t length = i + TrailingZeroBits(diff) / 8;
            return length < DEFLATE_MAX_MATCH ? length : DEFLATE_MAX_MATCH;
        }
    }
    return DEFLATE_MAX_MATCH;
}

// Walks the hash chain from candidate and returns the best length found, at
// least prevLength; *matchStart is set only when a longer match turns up. A
// candidate is examined only if its bytes at the current best length and the
// one before agree, which rejects most of them with one comparison; the third
// byte needs no test because equal hashes and equal first two bytes imply it.
static inline uint32_t LongestMatch(const uint8_t* window, const uint16_t* prev, uint32_t candidate,
                                    uint32_t strStart, uint32_t prevLength, uint32_t niceLength,
                                    uint32_t maxChain, uint32_t goodLength, uint32_t* matchStart) {
    const uint32_t limit = strStart > DEFLATE_MAX_DISTANCE ? strStart - DEFLATE_MAX_DISTANCE : 0;
    uint32_t chain = prevLength >= goodLength ? maxChain >> 2 : maxChain;
    uint32_t best = prevLength;
    const uint8_t* scan = window + strStart;
    const uint16_t scanStart = static_cast<uint16_t>(Load16(scan));
    uint16_t scanEnd = static_cast<uint16_t>(Load16(scan + best - 1));
    const uint8_t* windowEnd = window + best - 1;
    for (;;) {
        if (Load16(windowEnd + candidate) == scanEnd && Load16(window + candidate) == scanStart) {
            const uint32_t length = CommonLength(scan, window + candidate);
            if (length > best) {
                *matchStart = candidate;
                best = length;
                if (length >= niceLength) break;
                scanEnd = static_cast<uint16_t>(Load16(scan + best - 1));
                windowEnd = window + best - 1;
            }
        }
        candidate = prev[candidate & DEFLATE_HASH_MASK];
        if (candidate <= limit || --chain == 0) break;
    }
    return best;
}

// The lazy loop: a match found at one position is emitted only if the next
// position does not offer a longer one; otherwise the first byte goes out as a
// literal. The hot state lives in locals and is handed back to the state
// around the rare calls that need it (window fill, block flush).
static void LazyLoop(DeflateState* s) {
    uint8_t* const window = s->window;
    uint16_t* const head = s->head;
    uint16_t* const prev = s->prev;
    const uint32_t maxLazy = s->maxLazy;
    const uint32_t maxChain = s->maxChain;
    const uint32_t goodLength = s->goodLength;
    uint32_t niceLength = s->niceLength;
    uint32_t hash = s->insertHash;
    uint32_t strStart = s->strStart;
    uint32_t lookahead = s->lookahead;
    uint32_t matchStart = s->matchStart;
    uint32_t matchLength = DEFLATE_MIN_MATCH - 1;
    bool pending = false; // window[strStart - 1] is examined but not yet emitted

    auto insert = [&](uint32_t p) -> uint32_t {
        hash = ((hash << DEFLATE_HASH_SHIFT) ^ window[p + 2]) & DEFLATE_HASH_MASK;
        const uint32_t hashHead = head[hash];
        prev[p & DEFLATE_HASH_MASK] = static_cast<uint16_t>(hashHead);
        head[hash] = static_cast<uint16_t>(p);
        return hashHead;
    };
    auto save = [&]() {
        s->strStart = strStart;
        s->lookahead = lookahead;
        s->matchStart = matchStart;
        s->insertHash = hash;
        s->niceLength = niceLength;
    };
    auto flush = [&](bool final) -> bool {
        save();
        const uint8_t* input = s->blockStart >= 0 ? window + s->blockStart : nullptr;
        const uint32_t length = static_cast<uint32_t>(static_cast<int32_t>(strStart) - s->blockStart);
        DeflateFlushBlock(s, input, length, final);
        s->blockStart = static_cast<int32_t>(strStart);
        return s->archive->error == 0;
    };

    while (lookahead != 0) {
        uint32_t hashHead = 0;
        if (lookahead >= DEFLATE_MIN_MATCH) hashHead = insert(strStart);
        // The next position's head entry is fetched while this one is searched:
        // where chains are short (compressed input) that load is most of a
        // position's cost. window[strStart + 3] is input, as more than 3 bytes
        // are left. The 32-bit build targets processors without SSE, which
        // have no prefetch instruction; the compiler drops it there.
        if (lookahead > DEFLATE_MIN_MATCH)
            __builtin_prefetch(
                &head[((hash << DEFLATE_HASH_SHIFT) ^ window[strStart + 3]) & DEFLATE_HASH_MASK]);
        const uint32_t prevLength = matchLength;
        const uint32_t prevMatch = matchStart;
        matchLength = DEFLATE_MIN_MATCH - 1;

        if (hashHead != 0 && prevLength < maxLazy && strStart - hashHead <= DEFLATE_MAX_DISTANCE) {
            // Never look for more than is left: the result must not depend on
            // bytes past the end of the input.
            if (niceLength > lookahead) niceLength = lookahead;
            matchLength = LongestMatch(window, prev, hashHead, strStart, prevLength, niceLength, maxChain,
                                       goodLength, &matchStart);
            if (matchLength > lookahead) matchLength = lookahead;
            if (matchLength == DEFLATE_MIN_MATCH && strStart - matchStart > DEFLATE_FAR_LIMIT)
                matchLength = DEFLATE_MIN_MATCH - 1;
        }

        if (prevLength >= DEFLATE_MIN_MATCH && matchLength <= prevLength) {
            const bool blockEnd =
                TallyMatch(s, strStart - 1 - prevMatch, prevLength - DEFLATE_MIN_MATCH, strStart);
            const uint32_t insertLimit = strStart + lookahead - DEFLATE_MIN_MATCH;
            lookahead -= prevLength - 1;
            for (uint32_t n = prevLength - 2; n != 0; n--) {
                strStart++;
                if (strStart <= insertLimit) insert(strStart);
            }
            strStart++;
            pending = false;
            matchLength = DEFLATE_MIN_MATCH - 1;
            if (blockEnd && !flush(false)) return;
        } else if (pending) {
            if (TallyLiteral(s, window[strStart - 1], strStart) && !flush(false)) return;
            strStart++;
            lookahead--;
        } else {
            pending = true;
            strStart++;
            lookahead--;
        }

        if (lookahead < DEFLATE_MIN_LOOKAHEAD) {
            save();
            FillWindow(s);
            if (s->archive->error != 0) return;
            strStart = s->strStart;
            lookahead = s->lookahead;
            matchStart = s->matchStart;
        }
    }
    // A block end asked for by this last literal is the final flush anyway.
    if (pending) TallyLiteral(s, window[strStart - 1], strStart);
    flush(true);
}

//--- entry points

void DeflateEntry(ZipArchive* archive, ZipEntry* entry) {
    DeflateState* s = archive->deflate;
    if (s == nullptr) {
        s = static_cast<DeflateState*>(ZipAlloc(sizeof(DeflateState)));
        if (s == nullptr) {
            archive->error = ZIP_ERR_NOMEM;
            return;
        }
        archive->deflate = s;
        DeflateSetupDescriptors(s);
    }
    s->archive = archive;
    s->outBuffer = archive->ioBuffer;
    s->outSize = ZIP_IO_BUFFER_SIZE;
    s->bitBuffer = 0;
    s->bitCount = 0;
    s->outPos = 0;
    s->level = 8;
    DeflateInitTrees(s);
    InitMatcher(s, entry);
    if (archive->error == 0) LazyLoop(s);
}

void DeflateFree(DeflateState* state) {
    if (state != nullptr) ZipFree(state);
}
