// The inflater, after RFC 1951. Codes are decoded through tables indexed by
// the next bits of the stream (a first lookup of 10 or 8 bits, and a second
// one for longer codes). Output goes into a window that keeps the last 32 KiB
// as history behind the new bytes; when it fills, the new bytes go to the
// caller and the history moves to the front.
#include "zip/inflate.h"

#include <cstring>

namespace {

// Table entries: bits 0-7 the code's length (for a link, the first lookup's
// index bits), bits 8-11 the extra bits after the code (for a link, the index
// bits of the second-level table), bits 12-15 the kind, bits 16-31 the value:
// literal byte, length or distance base, or the second-level table's offset.
// An entry of no kind stands for a code that the stream may not use.
constexpr uint32_t KIND_LITERAL = 0x1000;
constexpr uint32_t KIND_BASE = 0x2000;
constexpr uint32_t KIND_END = 0x4000;
constexpr uint32_t KIND_LINK = 0x8000;
constexpr uint32_t KINDS = 0xF000;

constexpr uint32_t MAX_CODE_BITS = 15;
constexpr uint32_t CODE_LENGTH_BITS = 7; // the longest code of the code lengths' code
constexpr uint32_t MAX_MATCH = 258;
// Matches are copied 8 bytes at a time and may write up to 7 bytes past their
// end; the fast loop keeps room for the longest one.
constexpr uint32_t FAST_ROOM = MAX_MATCH + 8;
constexpr uint32_t END_OF_BLOCK = 256;

// Lengths 257-285 and distances 0-29: base values and extra bits.
constexpr uint16_t lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t distanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                       33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                       1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code lengths' code lengths.
constexpr uint8_t codeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum Alphabet { LITERALS, DISTANCES, CODE_LENGTHS };

inline uint32_t Mask(uint32_t bits) {
    return (uint32_t(1) << bits) - 1;
}

uint32_t SymbolEntry(Alphabet alphabet, uint32_t symbol) {
    if (alphabet == CODE_LENGTHS) return KIND_LITERAL | symbol << 16;
    if (alphabet == DISTANCES)
        return KIND_BASE | uint32_t(distanceBase[symbol]) << 16 | distanceExtra[symbol] << 8;
    if (symbol < END_OF_BLOCK) return KIND_LITERAL | symbol << 16;
    if (symbol == END_OF_BLOCK) return KIND_END;
    return KIND_BASE | uint32_t(lengthBase[symbol - 257]) << 16 | lengthExtra[symbol - 257] << 8;
}

// Builds the decoding table of the canonical code with these code lengths
// (each at most 15). Symbols from valid on get codes but stand for nothing.
// Refuses an over-subscribed set, and an incomplete one except where the
// format allows it: no distance code at all, or a single code of one bit.
bool BuildTable(const uint8_t* lengths, uint32_t count, uint32_t valid, Alphabet alphabet, uint32_t indexBits,
                uint32_t* table, uint32_t capacity) {
    uint32_t counts[MAX_CODE_BITS + 1] = {};
    for (uint32_t s = 0; s < count; ++s)
        counts[lengths[s]] += 1;
    counts[0] = 0;
    int32_t left = 1; // unassigned codes at the current length
    uint32_t used = 0;
    for (uint32_t length = 1; length <= MAX_CODE_BITS; ++length) {
        left = left * 2 - int32_t(counts[length]);
        if (left < 0) return false;
        used += counts[length];
    }
    if (left > 0) {
        const bool singleBit = used == 1 && counts[1] == 1 && alphabet != CODE_LENGTHS;
        const bool noDistances = used == 0 && alphabet == DISTANCES;
        if (!singleBit && !noDistances) return false;
    }

    // Canonical codes, reversed: the stream sends a code's first bit first.
    uint32_t next[MAX_CODE_BITS + 1] = {};
    uint32_t code = 0;
    for (uint32_t length = 1; length <= MAX_CODE_BITS; ++length) {
        code = (code + counts[length - 1]) << 1;
        next[length] = code;
    }
    uint16_t reversed[288];
    uint8_t deepest[1u << INFLATE_LITERAL_BITS] = {}; // the longest code behind each first index
    const uint32_t first = 1u << indexBits;
    for (uint32_t s = 0; s < count; ++s) {
        const uint32_t length = lengths[s];
        if (length == 0) continue;
        uint32_t c = next[length]++, r = 0;
        for (uint32_t i = 0; i < length; ++i, c >>= 1)
            r = (r << 1) | (c & 1);
        reversed[s] = static_cast<uint16_t>(r);
        uint8_t& deep = deepest[r & (first - 1)];
        if (length > indexBits && length > deep) deep = static_cast<uint8_t>(length);
    }

    std::memset(table, 0, first * sizeof(uint32_t));
    uint32_t end = first;
    for (uint32_t i = 0; i < first; ++i) {
        if (deepest[i] == 0) continue;
        const uint32_t subBits = deepest[i] - indexBits;
        if (end + (1u << subBits) > capacity) return false;
        table[i] = KIND_LINK | end << 16 | subBits << 8 | indexBits;
        std::memset(table + end, 0, (size_t(1) << subBits) * sizeof(uint32_t));
        end += 1u << subBits;
    }
    for (uint32_t s = 0; s < count; ++s) {
        const uint32_t length = lengths[s];
        if (length == 0) continue;
        const uint32_t entry = (s < valid ? SymbolEntry(alphabet, s) : 0) | length;
        const uint32_t r = reversed[s];
        if (length <= indexBits) {
            for (uint32_t i = r; i < first; i += 1u << length)
                table[i] = entry;
        } else {
            const uint32_t link = table[r & (first - 1)];
            const uint32_t base = link >> 16, size = 1u << ((link >> 8) & 15);
            for (uint32_t i = r >> indexBits; i < size; i += 1u << (length - indexBits))
                table[base + i] = entry;
        }
    }
    return true;
}

bool BuildFixedTables(InflateWork* work) {
    uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    if (!BuildTable(lengths, 288, 286, LITERALS, INFLATE_LITERAL_BITS, work->fixedLiterals,
                    INFLATE_LITERAL_ENTRIES))
        return false;
    std::memset(lengths, 5, 32);
    return BuildTable(lengths, 32, 30, DISTANCES, INFLATE_DISTANCE_BITS, work->fixedDistances,
                      INFLATE_DISTANCE_ENTRIES);
}

//--- input: a bit buffer over the caller's chunks

struct Reader {
    InflateInput input;
    const uint8_t* next; // the current chunk's unread bytes
    const uint8_t* end;
    uint64_t bits;     // taken from the input, first bit lowest; zero above count
    uint32_t count;    // bits held
    uint32_t padding;  // zero bytes put in after the input ended
    uint64_t received; // bytes of all chunks so far
    bool ended;        // no more chunks
    bool stopped;      // the caller asked to stop
};

bool NextChunk(Reader& r) {
    if (r.ended) return false;
    const uint8_t* chunk = nullptr;
    const int32_t got = r.input.next(r.input.context, &chunk);
    if (got <= 0 || chunk == nullptr) {
        r.ended = true;
        r.stopped = got < 0;
        return false;
    }
    r.next = chunk;
    r.end = chunk + got;
    r.received += uint32_t(got);
    return true;
}

// Makes want bits (at most 32) available. After the end of the input zero
// bytes stand in, so that a code can be looked up; Overrun tells whether any
// of them was taken. False only when the caller stopped.
bool Need(Reader& r, uint32_t want) {
    while (r.count < want) {
        if (r.next == r.end && !NextChunk(r)) {
            if (r.stopped) return false;
            r.padding += 1;
        } else {
            r.bits |= uint64_t(*r.next++) << r.count;
        }
        r.count += 8;
    }
    return true;
}

bool Overrun(const Reader& r) {
    return r.count < 8 * r.padding;
}

uint32_t Take(Reader& r, uint32_t count) {
    const uint32_t value = uint32_t(r.bits & ((uint64_t(1) << count) - 1));
    r.bits >>= count;
    r.count -= count;
    return value;
}

int Bits(Reader& r, uint32_t count, uint32_t& value) {
    if (!Need(r, count)) return INFLATE_STOPPED;
    value = Take(r, count);
    return Overrun(r) ? INFLATE_TRUNCATED : INFLATE_OK;
}

int Symbol(Reader& r, const uint32_t* table, uint32_t indexBits, uint32_t& entry) {
    if (!Need(r, MAX_CODE_BITS)) return INFLATE_STOPPED;
    uint32_t e = table[r.bits & Mask(indexBits)];
    if (e & KIND_LINK) e = table[(e >> 16) + (uint32_t(r.bits >> indexBits) & Mask((e >> 8) & 15))];
    Take(r, e & 0xFF);
    entry = e;
    if (Overrun(r)) return INFLATE_TRUNCATED;
    return (e & KINDS) != 0 ? INFLATE_OK : INFLATE_INVALID;
}

inline uint64_t Load64(const uint8_t* at) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                  "the bit buffer is filled by little-endian loads");
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

//--- output: the window

struct Window {
    InflateOutput output;
    uint8_t* start;
    uint8_t* out;    // next byte to write
    uint8_t* handed; // first byte not yet handed to the caller
};

uint32_t Room(const Window& w) {
    return uint32_t(w.start + INFLATE_WINDOW - w.out);
}

bool Hand(Window& w) {
    if (w.out == w.handed) return true;
    const bool go = w.output.take(w.output.context, w.handed, uint32_t(w.out - w.handed));
    w.handed = w.out;
    return go;
}

// Keeps room for the longest match after out; false when the caller stopped.
bool MakeRoom(Window& w) {
    if (Room(w) >= FAST_ROOM) return true;
    if (!Hand(w)) return false;
    std::memmove(w.start, w.out - INFLATE_HISTORY, INFLATE_HISTORY);
    w.out = w.handed = w.start + INFLATE_HISTORY;
    return true;
}

// Copies length bytes from distance back (1 <= distance <= bytes before out);
// with a distance of 8 or more it may write up to 7 bytes past the end.
inline uint8_t* CopyMatch(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    uint8_t* const stop = out + length;
    if (distance >= 8) {
        do {
            std::memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < stop);
    } else if (distance == 1) {
        std::memset(out, out[-1], length);
    } else {
        do
            *out++ = *from++;
        while (out < stop);
    }
    return stop;
}

//--- blocks

int StoredBlock(Reader& r, Window& w) {
    Take(r, r.count & 7);
    uint32_t header = 0;
    int status = Bits(r, 32, header);
    if (status != INFLATE_OK) return status;
    uint32_t length = header & 0xFFFF;
    if ((header >> 16) != (~length & 0xFFFF)) return INFLATE_INVALID;
    while (length > 0) {
        if (!MakeRoom(w)) return INFLATE_STOPPED;
        if (r.count > 0) { // whole bytes left in the bit buffer
            *w.out++ = static_cast<uint8_t>(Take(r, 8));
            length -= 1;
            if (Overrun(r)) return INFLATE_TRUNCATED;
            continue;
        }
        if (r.next == r.end && !NextChunk(r)) return r.stopped ? INFLATE_STOPPED : INFLATE_TRUNCATED;
        uint32_t n = Room(w) < length ? Room(w) : length;
        if (n > uint32_t(r.end - r.next)) n = uint32_t(r.end - r.next);
        std::memcpy(w.out, r.next, n);
        w.out += n;
        r.next += n;
        length -= n;
    }
    return INFLATE_OK;
}

// Decodes literals and matches up to the end of the block.
int DecodeCodes(Reader& r, Window& w, const uint32_t* literals, const uint32_t* distances) {
    constexpr uint32_t L = INFLATE_LITERAL_BITS, D = INFLATE_DISTANCE_BITS;
    for (;;) {
        if (!MakeRoom(w)) return INFLATE_STOPPED;

        // The fast loop: while 8 input bytes remain in the chunk and room for
        // the longest match, each turn tops the bit buffer up to 56 bits or
        // more, enough for a length and a distance with their extra bits.
        int status = -1;
        {
            const uint8_t* in = r.next;
            const uint8_t* const inEnd = r.end;
            uint64_t bits = r.bits;
            uint32_t count = r.count;
            uint8_t* out = w.out;
            uint8_t* const outLimit = w.start + INFLATE_WINDOW - FAST_ROOM;
            const uint8_t* const window = w.start;
            while (inEnd - in >= 8 && out <= outLimit) {
                bits |= Load64(in) << count;
                in += (63 - count) >> 3;
                count |= 56;
                uint32_t e = literals[bits & Mask(L)];
                if (e & KIND_LINK) e = literals[(e >> 16) + (uint32_t(bits >> L) & Mask((e >> 8) & 15))];
                bits >>= e & 0xFF;
                count -= e & 0xFF;
                if (e & KIND_LITERAL) {
                    *out++ = static_cast<uint8_t>(e >> 16);
                    continue;
                }
                if (!(e & KIND_BASE)) {
                    status = (e & KIND_END) ? INFLATE_OK : INFLATE_INVALID;
                    break;
                }
                uint32_t extra = (e >> 8) & 15;
                const uint32_t length = (e >> 16) + (uint32_t(bits) & Mask(extra));
                bits >>= extra;
                count -= extra;
                e = distances[bits & Mask(D)];
                if (e & KIND_LINK) e = distances[(e >> 16) + (uint32_t(bits >> D) & Mask((e >> 8) & 15))];
                bits >>= e & 0xFF;
                count -= e & 0xFF;
                extra = (e >> 8) & 15;
                const uint32_t distance = (e >> 16) + (uint32_t(bits) & Mask(extra));
                bits >>= extra;
                count -= extra;
                if (!(e & KIND_BASE) || distance > uint32_t(out - window)) {
                    status = INFLATE_INVALID;
                    break;
                }
                out = CopyMatch(out, distance, length);
            }
            // Bits above count came with the last load and are read again.
            r.bits = bits & ((uint64_t(1) << count) - 1);
            r.count = count;
            r.next = in;
            w.out = out;
        }
        if (status >= 0) return status;
        if (Room(w) < FAST_ROOM) continue;

        // The input runs short: one code at a time, across chunks.
        uint32_t e = 0, extra = 0;
        status = Symbol(r, literals, L, e);
        if (status != INFLATE_OK) return status;
        if (e & KIND_LITERAL) {
            *w.out++ = static_cast<uint8_t>(e >> 16);
            continue;
        }
        if (e & KIND_END) return INFLATE_OK;
        status = Bits(r, (e >> 8) & 15, extra);
        if (status != INFLATE_OK) return status;
        const uint32_t length = (e >> 16) + extra;
        status = Symbol(r, distances, D, e);
        if (status == INFLATE_OK) status = Bits(r, (e >> 8) & 15, extra);
        if (status != INFLATE_OK) return status;
        const uint32_t distance = (e >> 16) + extra;
        if (!(e & KIND_BASE) || distance > uint32_t(w.out - w.start)) return INFLATE_INVALID;
        w.out = CopyMatch(w.out, distance, length);
    }
}

// Reads a dynamic block's code lengths and builds its tables.
int ReadDynamicTables(Reader& r, InflateWork* work) {
    uint32_t counts = 0;
    int status = Bits(r, 14, counts);
    if (status != INFLATE_OK) return status;
    const uint32_t literalCount = (counts & 31) + 257, distanceCount = ((counts >> 5) & 31) + 1;
    const uint32_t lengthCodes = (counts >> 10) + 4;
    if (literalCount > 286 || distanceCount > 30) return INFLATE_INVALID;

    uint8_t codeLengths[19] = {};
    for (uint32_t i = 0; i < lengthCodes; ++i) {
        uint32_t length = 0;
        status = Bits(r, 3, length);
        if (status != INFLATE_OK) return status;
        codeLengths[codeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    uint32_t table[1u << CODE_LENGTH_BITS];
    if (!BuildTable(codeLengths, 19, 19, CODE_LENGTHS, CODE_LENGTH_BITS, table, 1u << CODE_LENGTH_BITS))
        return INFLATE_INVALID;

    // One sequence: the literal/length code's lengths, then the distances'.
    uint8_t lengths[286 + 30];
    const uint32_t total = literalCount + distanceCount;
    for (uint32_t i = 0; i < total;) {
        uint32_t e = 0, repeat = 0;
        status = Symbol(r, table, CODE_LENGTH_BITS, e);
        if (status != INFLATE_OK) return status;
        const uint32_t symbol = e >> 16;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) return INFLATE_INVALID;
            value = lengths[i - 1];
            status = Bits(r, 2, repeat);
            repeat += 3;
        } else if (symbol == 17) {
            status = Bits(r, 3, repeat);
            repeat += 3;
        } else {
            status = Bits(r, 7, repeat);
            repeat += 11;
        }
        if (status != INFLATE_OK) return status;
        if (repeat > total - i) return INFLATE_INVALID;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    // A block that cannot end is no block.
    if (lengths[END_OF_BLOCK] == 0) return INFLATE_INVALID;
    if (!BuildTable(lengths, literalCount, literalCount, LITERALS, INFLATE_LITERAL_BITS, work->literals,
                    INFLATE_LITERAL_ENTRIES) ||
        !BuildTable(lengths + literalCount, distanceCount, distanceCount, DISTANCES, INFLATE_DISTANCE_BITS,
                    work->distances, INFLATE_DISTANCE_ENTRIES))
        return INFLATE_INVALID;
    return INFLATE_OK;
}

} // namespace

int InflateStream(InflateWork* work, const InflateInput& input, const InflateOutput& output,
                  uint64_t* consumed) {
    Reader r = {};
    r.input = input;
    Window w = {output, work->window, work->window, work->window};
    bool fixedBuilt = false;
    for (bool final = false; !final;) {
        uint32_t header = 0;
        int status = Bits(r, 3, header);
        if (status != INFLATE_OK) return status;
        final = (header & 1) != 0;
        const uint32_t type = header >> 1;
        if (type == 0) {
            status = StoredBlock(r, w);
        } else if (type == 1) {
            if (!fixedBuilt && !BuildFixedTables(work)) return INFLATE_INVALID;
            fixedBuilt = true;
            status = DecodeCodes(r, w, work->fixedLiterals, work->fixedDistances);
        } else if (type == 2) {
            status = ReadDynamicTables(r, work);
            if (status == INFLATE_OK) status = DecodeCodes(r, w, work->literals, work->distances);
        } else {
            status = INFLATE_INVALID;
        }
        if (status != INFLATE_OK) return status;
    }
    if (!Hand(w)) return INFLATE_STOPPED;
    if (consumed != nullptr) *consumed = r.received - uint64_t(r.end - r.next) + r.padding - r.count / 8;
    return INFLATE_OK;
}
