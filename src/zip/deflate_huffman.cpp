// Huffman coding of one block of the tally (RFC 1951): trees from the block's
// frequencies, limited to 15 bits (7 for the bit-length code), the cheapest of
// a stored, fixed or dynamic block, and the bit output of the symbols.
#include "zip/deflate_huffman.h"

#include "zip/deflate_bits.h"

const uint8_t DEFLATE_EXTRA_LENGTH_BITS[DEFLATE_LENGTH_CODES] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint8_t DEFLATE_EXTRA_DISTANCE_BITS[DEFLATE_DISTANCE_CODES] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const uint8_t EXTRA_BITLENGTH_BITS[DEFLATE_BITLENGTH_CODES] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                      0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the bit-length code lengths are sent: the likely ones first.
static const uint8_t BITLENGTH_ORDER[DEFLATE_BITLENGTH_CODES] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                 11, 4,  12, 3, 13, 2, 14, 1, 15};

constexpr int REPEAT_3_6 = 16;   // repeat the previous length 3-6 times, 2 extra bits
constexpr int ZEROS_3_10 = 17;   // 3-10 zero lengths, 3 extra bits
constexpr int ZEROS_11_138 = 18; // 11-138 zero lengths, 7 extra bits

static uint32_t ReverseBits(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; i++) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

// Canonical codes from the counts of each length, each reversed because bits
// leave least significant first.
static void AssignCodes(DeflateNode* tree, int maxCode, const uint16_t* lengthCounts) {
    uint32_t next[DEFLATE_MAX_BITS + 1];
    uint32_t code = 0;
    for (int bits = 1; bits <= DEFLATE_MAX_BITS; bits++) {
        code = (code + lengthCounts[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int n = 0; n <= maxCode; n++) {
        const int length = tree[n].dl;
        if (length != 0) tree[n].fc = static_cast<uint16_t>(ReverseBits(next[length]++, length));
    }
}

void DeflateSetupDescriptors(DeflateState* s) {
    s->litDesc = {s->litTree,
                  s->fixedLitTree,
                  DEFLATE_EXTRA_LENGTH_BITS,
                  DEFLATE_END_OF_BLOCK + 1,
                  DEFLATE_LITERAL_CODES,
                  DEFLATE_MAX_BITS,
                  0};
    s->distDesc = {s->distTree,
                   s->fixedDistTree,
                   DEFLATE_EXTRA_DISTANCE_BITS,
                   0,
                   DEFLATE_DISTANCE_CODES,
                   DEFLATE_MAX_BITS,
                   0};
    s->bitLengthDesc = {s->bitLengthTree,           nullptr, EXTRA_BITLENGTH_BITS, 0, DEFLATE_BITLENGTH_CODES,
                        DEFLATE_MAX_BITLENGTH_BITS, 0};
}

// The length and distance code tables and the fixed trees, built once per state.
static void BuildFixedTables(DeflateState* s) {
    uint32_t length = 0;
    for (int code = 0; code < DEFLATE_LENGTH_CODES - 1; code++) {
        s->baseLength[code] = static_cast<uint16_t>(length);
        for (uint32_t n = 0; n < (1u << DEFLATE_EXTRA_LENGTH_BITS[code]); n++)
            s->lengthCode[length++] = static_cast<uint8_t>(code);
    }
    // Length 258 has a code of its own although code 27 could express it.
    s->lengthCode[255] = DEFLATE_LENGTH_CODES - 1;
    s->baseLength[DEFLATE_LENGTH_CODES - 1] = 255;

    uint32_t dist = 0;
    for (int code = 0; code < 16; code++) {
        s->baseDistance[code] = static_cast<uint16_t>(dist);
        for (uint32_t n = 0; n < (1u << DEFLATE_EXTRA_DISTANCE_BITS[code]); n++)
            s->distanceCode[dist++] = static_cast<uint8_t>(code);
    }
    dist >>= 7;
    for (int code = 16; code < DEFLATE_DISTANCE_CODES; code++) {
        s->baseDistance[code] = static_cast<uint16_t>(dist << 7);
        for (uint32_t n = 0; n < (1u << (DEFLATE_EXTRA_DISTANCE_BITS[code] - 7)); n++)
            s->distanceCode[256 + dist++] = static_cast<uint8_t>(code);
    }

    uint16_t counts[DEFLATE_MAX_BITS + 1] = {};
    for (int n = 0; n < DEFLATE_FIXED_LITERAL_CODES; n++) {
        const int bits = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
        s->fixedLitTree[n].dl = static_cast<uint16_t>(bits);
        counts[bits]++;
    }
    AssignCodes(s->fixedLitTree, DEFLATE_FIXED_LITERAL_CODES - 1, counts);
    for (int n = 0; n < DEFLATE_DISTANCE_CODES; n++) {
        s->fixedDistTree[n].dl = 5;
        s->fixedDistTree[n].fc = static_cast<uint16_t>(ReverseBits(n, 5));
    }
}

void DeflateStartBlock(DeflateState* s) {
    for (int n = 0; n < DEFLATE_LITERAL_CODES; n++)
        s->litTree[n].fc = 0;
    for (int n = 0; n < DEFLATE_DISTANCE_CODES; n++)
        s->distTree[n].fc = 0;
    for (int n = 0; n < DEFLATE_BITLENGTH_CODES; n++)
        s->bitLengthTree[n].fc = 0;
    s->litTree[DEFLATE_END_OF_BLOCK].fc = 1;
    s->optimalLength = 0;
    s->fixedLength = 0;
    s->tallyCount = 0;
    s->matchCount = 0;
    s->flagCount = 0;
    s->flagByte = 0;
    s->flagBit = 1;
}

// Every entry starts with a fresh block: an entry that failed half-way leaves
// frequencies behind, and counting them in the next entry's first block would
// make its recorded size disagree with the bytes written.
void DeflateInitTrees(DeflateState* s) {
    s->compressedBytes = 0;
    s->compressedBits = 0;
    if (s->fixedDistTree[0].dl == 0) BuildFixedTables(s);
    DeflateStartBlock(s);
}

//--- tree building

// Node n sorts before node m: smaller frequency, or equal and not deeper.
static inline bool Smaller(const DeflateNode* tree, const uint8_t* depth, int n, int m) {
    return tree[n].fc < tree[m].fc || (tree[n].fc == tree[m].fc && depth[n] <= depth[m]);
}

static void SiftDown(DeflateState* s, const DeflateNode* tree, int k) {
    int* heap = s->heap;
    const int v = heap[k];
    int j = k << 1;
    while (j <= s->heapLength) {
        if (j < s->heapLength && Smaller(tree, s->depth, heap[j + 1], heap[j])) j++;
        if (Smaller(tree, s->depth, v, heap[j])) break;
        heap[k] = heap[j];
        k = j;
        j <<= 1;
    }
    heap[k] = v;
}

// Code lengths from the finished tree, cut to the descriptor's maximum. Nodes
// pushed past it are paid for by lengthening shorter codes until the lengths
// form a complete code again; the lengths are then handed out anew, longest to
// the least frequent, and the block's cost is corrected.
static void ComputeLengths(DeflateState* s, const DeflateTreeDesc* desc) {
    DeflateNode* tree = desc->tree;
    const DeflateNode* fixed = desc->fixedTree;
    const int maxLength = desc->maxLength;
    const int maxCode = desc->maxCode;
    uint16_t* counts = s->lengthCounts;
    for (int bits = 0; bits <= DEFLATE_MAX_BITS; bits++)
        counts[bits] = 0;

    tree[s->heap[s->heapMax]].dl = 0;
    int overflow = 0;
    for (int h = s->heapMax + 1; h < DEFLATE_HEAP_SIZE; h++) {
        const int n = s->heap[h];
        int bits = tree[tree[n].dl].dl + 1;
        if (bits > maxLength) {
            bits = maxLength;
            overflow++;
        }
        tree[n].dl = static_cast<uint16_t>(bits);
        if (n > maxCode) continue;
        counts[bits]++;
        const uint32_t extra = n >= desc->extraBase ? desc->extraBits[n - desc->extraBase] : 0;
        const uint32_t freq = tree[n].fc;
        s->optimalLength += freq * (bits + extra);
        if (fixed) s->fixedLength += freq * (fixed[n].dl + extra);
    }
    if (overflow == 0) return;

    do {
        int bits = maxLength - 1;
        while (counts[bits] == 0)
            bits--;
        counts[bits]--;
        counts[bits + 1] += 2;
        counts[maxLength]--;
        overflow -= 2;
    } while (overflow > 0);

    int h = DEFLATE_HEAP_SIZE;
    for (int bits = maxLength; bits != 0; bits--) {
        int n = counts[bits];
        while (n != 0) {
            const int m = s->heap[--h];
            if (m > maxCode) continue;
            if (tree[m].dl != bits) {
                s->optimalLength += static_cast<uint32_t>((bits - tree[m].dl) * static_cast<int>(tree[m].fc));
                tree[m].dl = static_cast<uint16_t>(bits);
            }
            n--;
        }
    }
}

void DeflateBuildTree(DeflateState* s, DeflateTreeDesc* desc) {
    DeflateNode* tree = desc->tree;
    const DeflateNode* fixed = desc->fixedTree;
    int* heap = s->heap;
    int maxCode = -1;

    s->heapLength = 0;
    s->heapMax = DEFLATE_HEAP_SIZE;
    for (int n = 0; n < desc->codes; n++) {
        if (tree[n].fc != 0) {
            heap[++s->heapLength] = maxCode = n;
            s->depth[n] = 0;
        } else {
            tree[n].dl = 0;
        }
    }
    // A code needs two symbols; the forced one is never sent, so it costs nothing.
    while (s->heapLength < 2) {
        const int node = maxCode < 2 ? ++maxCode : 0;
        heap[++s->heapLength] = node;
        tree[node].fc = 1;
        s->depth[node] = 0;
        s->optimalLength--;
        if (fixed) s->fixedLength -= fixed[node].dl;
    }
    desc->maxCode = maxCode;

    for (int n = s->heapLength / 2; n >= 1; n--)
        SiftDown(s, tree, n);

    int node = desc->codes;
    do {
        const int n = heap[1];
        heap[1] = heap[s->heapLength--];
        SiftDown(s, tree, 1);
        const int m = heap[1];
        heap[--s->heapMax] = n;
        heap[--s->heapMax] = m;
        tree[node].fc = static_cast<uint16_t>(tree[n].fc + tree[m].fc);
        s->depth[node] = static_cast<uint8_t>((s->depth[n] >= s->depth[m] ? s->depth[n] : s->depth[m]) + 1);
        tree[n].dl = tree[m].dl = static_cast<uint16_t>(node);
        heap[1] = node++;
        SiftDown(s, tree, 1);
    } while (s->heapLength >= 2);
    heap[--s->heapMax] = heap[1];

    ComputeLengths(s, desc);
    AssignCodes(tree, maxCode, s->lengthCounts);
}

//--- run-length coding of code lengths

// Walks the lengths of codes 0..maxCode as the dynamic header sends them and
// calls emit(symbol, extraValue, extraBits) for each bit-length symbol. Counting
// and sending share this walk so that they cannot disagree.
template <class Emit> static void WalkLengths(const DeflateNode* tree, int maxCode, Emit emit) {
    int prevLength = -1;
    int nextLength = tree[0].dl;
    int count = 0;
    int maxCount = nextLength == 0 ? 138 : 7;
    int minCount = nextLength == 0 ? 3 : 4;
    for (int n = 0; n <= maxCode; n++) {
        const int length = nextLength;
        nextLength = n < maxCode ? tree[n + 1].dl : -1;
        if (++count < maxCount && length == nextLength) continue;
        if (count < minCount) {
            for (int i = 0; i < count; i++)
                emit(length, 0, 0);
        } else if (length != 0) {
            if (length != prevLength) {
                emit(length, 0, 0);
                count--;
            }
            emit(REPEAT_3_6, count - 3, 2);
        } else if (count <= 10) {
            emit(ZEROS_3_10, count - 3, 3);
        } else {
            emit(ZEROS_11_138, count - 11, 7);
        }
        count = 0;
        prevLength = length;
        if (nextLength == 0) {
            maxCount = 138;
            minCount = 3;
        } else if (length == nextLength) {
            maxCount = 6;
            minCount = 3;
        } else {
            maxCount = 7;
            minCount = 4;
        }
    }
}

// Builds the bit-length tree and returns the index in BITLENGTH_ORDER of the
// last length to send (at least 3, so that at least 4 are sent).
static int BuildBitLengthTree(DeflateState* s) {
    DeflateNode* blTree = s->bitLengthTree;
    auto count = [blTree](int symbol, int, int) { blTree[symbol].fc++; };
    WalkLengths(s->litTree, s->litDesc.maxCode, count);
    WalkLengths(s->distTree, s->distDesc.maxCode, count);
    DeflateBuildTree(s, &s->bitLengthDesc);
    int last = DEFLATE_BITLENGTH_CODES - 1;
    while (last >= 3 && blTree[BITLENGTH_ORDER[last]].dl == 0)
        last--;
    s->optimalLength += 3 * (last + 1) + 5 + 5 + 4;
    return last;
}

static void SendTrees(DeflateState* s, int lastBitLength) {
    const int litCodes = s->litDesc.maxCode + 1;
    const int distCodes = s->distDesc.maxCode + 1;
    DeflateSendBits(s, litCodes - 257, 5);
    DeflateSendBits(s, distCodes - 1, 5);
    DeflateSendBits(s, lastBitLength + 1 - 4, 4);
    for (int rank = 0; rank <= lastBitLength; rank++)
        DeflateSendBits(s, s->bitLengthTree[BITLENGTH_ORDER[rank]].dl, 3);
    const DeflateNode* blTree = s->bitLengthTree;
    auto send = [s, blTree](int symbol, int extra, int extraBits) {
        DeflateSendBits(s, blTree[symbol].fc, blTree[symbol].dl);
        if (extraBits) DeflateSendBits(s, extra, extraBits);
    };
    WalkLengths(s->litTree, s->litDesc.maxCode, send);
    WalkLengths(s->distTree, s->distDesc.maxCode, send);
}

// Moves 32 pending bits to the output, low byte first, once that many wait.
static inline void FlushWord(uint64_t& bits, uint32_t& count, uint8_t* out, uint32_t& pos) {
    if (count < 32) return;
    DeflatePutWord(out + pos, static_cast<uint32_t>(bits));
    pos += 4;
    bits >>= 32;
    count -= 32;
}

// Sends the tally with the given trees, then the end-of-block code. The bit
// buffer lives in locals here: this is the only hot loop of the output side.
static void SendTally(DeflateState* s, const DeflateNode* litTree, const DeflateNode* distTree) {
    // Each round writes at most 8 bytes and starts at or below the limit; the
    // block header's bits may have left the buffer fuller than that.
    const uint32_t limit = s->outSize - 8;
    if (s->outPos > limit) DeflateWriteOut(s);
    uint64_t bits = s->bitBuffer;
    uint32_t count = s->bitCount;
    uint8_t* const out = s->outBuffer;
    uint32_t pos = s->outPos;
    uint32_t match = 0;
    uint32_t flags = 0;
    const uint32_t entries = s->tallyCount;

    for (uint32_t i = 0;; i++) {
        const bool end = i == entries;
        if (end) {
            bits |= static_cast<uint64_t>(litTree[DEFLATE_END_OF_BLOCK].fc) << count;
            count += litTree[DEFLATE_END_OF_BLOCK].dl;
        } else {
            if ((i & 7) == 0) flags = s->flagBuffer[i >> 3];
            const uint32_t lc = s->litBuffer[i];
            if ((flags & 1) == 0) {
                bits |= static_cast<uint64_t>(litTree[lc].fc) << count;
                count += litTree[lc].dl;
            } else {
                // Length code with its extra bits: at most 15 + 5 bits.
                const uint32_t code = s->lengthCode[lc];
                bits |= static_cast<uint64_t>(litTree[code + 257].fc) << count;
                count += litTree[code + 257].dl;
                const uint32_t extra = DEFLATE_EXTRA_LENGTH_BITS[code];
                bits |= static_cast<uint64_t>(lc - s->baseLength[code]) << count;
                count += extra;
                // Up to 20 + 31 pending bits: flush a word before the distance.
                FlushWord(bits, count, out, pos);
                const uint32_t dist = s->distBuffer[match++];
                const uint32_t dcode = DeflateDistanceCode(s, dist);
                bits |= static_cast<uint64_t>(distTree[dcode].fc) << count;
                count += distTree[dcode].dl;
                bits |= static_cast<uint64_t>(dist - s->baseDistance[dcode]) << count;
                count += DEFLATE_EXTRA_DISTANCE_BITS[dcode];
            }
            flags >>= 1;
        }
        FlushWord(bits, count, out, pos);
        if (pos > limit) {
            s->outPos = pos;
            DeflateWriteOut(s);
            pos = 0;
            if (s->archive->error != 0) break;
        }
        if (end) break;
    }
    s->bitBuffer = bits;
    s->bitCount = count;
    s->outPos = pos;
}

//--- blocks

void DeflateFlushBlock(DeflateState* s, const uint8_t* input, uint32_t length, bool final) {
    if (s->flagCount < DEFLATE_FLAG_CAPACITY) s->flagBuffer[s->flagCount] = s->flagByte;

    DeflateBuildTree(s, &s->litDesc);
    DeflateBuildTree(s, &s->distDesc);
    const int lastBitLength = BuildBitLengthTree(s);

    uint32_t optimalBytes = (s->optimalLength + 3 + 7) / 8;
    const uint32_t fixedBytes = (s->fixedLength + 3 + 7) / 8;
    if (fixedBytes <= optimalBytes) optimalBytes = fixedBytes;

    const uint32_t finalBit = final ? 1 : 0;
    // A stored block's length field has 16 bits. The cost estimates make a longer
    // stored block practically impossible; the limit makes sure it never wraps.
    if (input != nullptr && length + 4 <= optimalBytes && length <= 0xFFFF) {
        DeflateSendBits(s, finalBit, 3);
        DeflateWriteStored(s, input, length);
        s->compressedBytes += length + 4 + (s->compressedBits + 3 + 7) / 8;
        s->compressedBits = 0;
    } else {
        if (fixedBytes == optimalBytes) {
            DeflateSendBits(s, 2 + finalBit, 3);
            SendTally(s, s->fixedLitTree, s->fixedDistTree);
            s->compressedBits += 3 + s->fixedLength;
        } else {
            DeflateSendBits(s, 4 + finalBit, 3);
            SendTrees(s, lastBitLength);
            SendTally(s, s->litTree, s->distTree);
            s->compressedBits += 3 + s->optimalLength;
        }
        s->compressedBytes += s->compressedBits / 8;
        s->compressedBits %= 8;
    }
    if (s->archive->error != 0) return;
    DeflateStartBlock(s);
    if (final) {
        DeflateWindup(s);
        s->compressedBits += 7;
    }
    s->archive->dataWritten = s->compressedBytes + s->compressedBits / 8;
}
