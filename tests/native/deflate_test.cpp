// The compressor, natively with sanitizers: round trips through zlib's inflate,
// the block structure read back by a small decoder of our own, the size and the
// exact bytes of the output on fixed inputs, the tree length limits and the
// failure paths of the source, the sink and the heap.
#include "deflate_inputs.h"
#include "memory_zip.h"
#include "zip/crc32.h"
#include "zip/deflate_huffman.h"
#include "zip/deflate_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

//--- data

// Seeded data whose compressibility grows with knob (0 random, 1 mostly copies
// of earlier pieces, some of them far back).
Bytes Generate(size_t size, double knob, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        if (out.size() > 8 && coin(rng) < knob) {
            const size_t far = coin(rng) < 0.1 ? 40000 : 2000;
            const size_t distance = 1 + rng() % std::min(out.size(), far);
            size_t length = 3 + rng() % (coin(rng) < 0.05 ? 300 : 30);
            for (; length > 0 && out.size() < size; length--)
                out.push_back(out[out.size() - distance]);
        } else {
            out.push_back(static_cast<uint8_t>(knob > 0 ? 'a' + rng() % 26 : rng()));
        }
    }
    return out;
}

// A sequence over alphabet symbols (from base on) in which no three-byte string
// occurs twice, so that it holds no match at all.
Bytes NoRepeats(size_t size, int alphabet, uint8_t base) {
    std::vector<bool> used(alphabet * alphabet * alphabet);
    Bytes out = {base, base};
    while (out.size() < size) {
        const int a = out[out.size() - 2] - base, b = out[out.size() - 1] - base;
        int c = alphabet - 1;
        while (c >= 0 && used[(a * alphabet + b) * alphabet + c])
            c--;
        if (c < 0) break;
        used[(a * alphabet + b) * alphabet + c] = true;
        out.push_back(static_cast<uint8_t>(base + c));
    }
    return out;
}

//--- a small decoder that keeps the block structure (RFC 1951)

struct Symbol {
    uint32_t length;   // 0 for a literal
    uint32_t distance; // or the literal byte
};

struct Block {
    int type = -1;
    bool final = false;
    int distanceCodes = 0; // HDIST + 1 of a dynamic block
    std::vector<Symbol> symbols;
};

class Reader {
  public:
    explicit Reader(const Bytes& data) : data_(data) {}
    bool Bits(int count, uint32_t& value) {
        value = 0;
        for (int i = 0; i < count; i++) {
            if (pos_ / 8 >= data_.size()) return false;
            value |= ((data_[pos_ / 8] >> (pos_ % 8)) & 1u) << i;
            pos_++;
        }
        return true;
    }
    void Align() { pos_ = (pos_ + 7) / 8 * 8; }
    size_t BytePos() const { return pos_ / 8; }
    bool AtEnd() const { return (pos_ + 7) / 8 == data_.size(); }

  private:
    const Bytes& data_;
    size_t pos_ = 0;
};

struct Code {
    std::vector<int> counts = std::vector<int>(16), symbols;
    explicit Code(const std::vector<int>& lengths) {
        for (int len : lengths)
            counts[len]++;
        counts[0] = 0;
        for (int len = 1; len < 16; len++)
            for (size_t s = 0; s < lengths.size(); s++)
                if (lengths[s] == len) symbols.push_back(static_cast<int>(s));
    }
    bool Decode(Reader& r, int& symbol) const {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; len++) {
            uint32_t bit;
            if (!r.Bits(1, bit)) return false;
            code |= static_cast<int>(bit);
            if (code - first < counts[len]) {
                symbol = symbols[index + code - first];
                return true;
            }
            index += counts[len];
            first = (first + counts[len]) << 1;
            code <<= 1;
        }
        return false;
    }
};

const int LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Decodes the whole stream; false on any inconsistency or on bytes after the final block.
bool Parse(const Bytes& data, std::vector<Block>& blocks, Bytes& out) {
    int lengthBase[29], distanceBase[30];
    lengthBase[0] = 3;
    for (int i = 1; i < 28; i++)
        lengthBase[i] = lengthBase[i - 1] + (1 << LENGTH_EXTRA[i - 1]);
    lengthBase[28] = 258;
    distanceBase[0] = 1;
    for (int i = 1; i < 30; i++)
        distanceBase[i] = distanceBase[i - 1] + (1 << DISTANCE_EXTRA[i - 1]);

    Reader r(data);
    blocks.clear();
    out.clear();
    for (;;) {
        Block block;
        uint32_t final, type;
        if (!r.Bits(1, final) || !r.Bits(2, type) || type == 3) return false;
        block.final = final != 0;
        block.type = static_cast<int>(type);
        if (type == 0) {
            r.Align();
            const size_t at = r.BytePos();
            if (at + 4 > data.size()) return false;
            const uint32_t len = data[at] | data[at + 1] << 8;
            const uint32_t nlen = data[at + 2] | data[at + 3] << 8;
            if ((len ^ 0xFFFF) != nlen || at + 4 + len > data.size()) return false;
            for (uint32_t i = 0; i < len; i++) {
                out.push_back(data[at + 4 + i]);
                block.symbols.push_back({0, data[at + 4 + i]});
            }
            uint32_t skip;
            for (uint32_t i = 0; i < 4 + len; i++)
                r.Bits(8, skip);
        } else {
            std::vector<int> litLengths(288), distLengths(30);
            if (type == 1) {
                for (int i = 0; i < 288; i++)
                    litLengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                std::fill(distLengths.begin(), distLengths.end(), 5);
            } else {
                uint32_t hlit, hdist, hclen;
                if (!r.Bits(5, hlit) || !r.Bits(5, hdist) || !r.Bits(4, hclen)) return false;
                block.distanceCodes = static_cast<int>(hdist) + 1;
                static const int order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                              11, 4,  12, 3, 13, 2, 14, 1, 15};
                std::vector<int> clLengths(19);
                for (uint32_t i = 0; i < hclen + 4; i++) {
                    uint32_t v;
                    if (!r.Bits(3, v)) return false;
                    clLengths[order[i]] = static_cast<int>(v);
                }
                Code cl(clLengths);
                std::vector<int> lengths;
                while (lengths.size() < hlit + 257 + hdist + 1) {
                    int sym;
                    uint32_t extra;
                    if (!cl.Decode(r, sym)) return false;
                    if (sym < 16) {
                        lengths.push_back(sym);
                    } else if (sym == 16) {
                        if (lengths.empty() || !r.Bits(2, extra)) return false;
                        lengths.insert(lengths.end(), 3 + extra, lengths.back());
                    } else {
                        if (!r.Bits(sym == 17 ? 3 : 7, extra)) return false;
                        lengths.insert(lengths.end(), (sym == 17 ? 3 : 11) + extra, 0);
                    }
                }
                if (lengths.size() != hlit + 257 + hdist + 1) return false;
                std::fill(litLengths.begin(), litLengths.end(), 0);
                std::fill(distLengths.begin(), distLengths.end(), 0);
                std::copy(lengths.begin(), lengths.begin() + hlit + 257, litLengths.begin());
                std::copy(lengths.begin() + hlit + 257, lengths.end(), distLengths.begin());
            }
            Code lit(litLengths), dist(distLengths);
            for (;;) {
                int sym;
                if (!lit.Decode(r, sym)) return false;
                if (sym < 256) {
                    out.push_back(static_cast<uint8_t>(sym));
                    block.symbols.push_back({0, static_cast<uint32_t>(sym)});
                    continue;
                }
                if (sym == 256) break;
                uint32_t extra, dsym;
                int dcode;
                if (sym > 285 || !r.Bits(LENGTH_EXTRA[sym - 257], extra)) return false;
                const uint32_t length = lengthBase[sym - 257] + extra;
                // Each length has one code: a code's range ends below the next
                // code's base, so 258 is 285 alone and 284 with extra bits 31 is refused.
                if (sym < 285 && length >= static_cast<uint32_t>(lengthBase[sym - 256])) return false;
                if (!dist.Decode(r, dcode) || dcode > 29 || !r.Bits(DISTANCE_EXTRA[dcode], dsym))
                    return false;
                const uint32_t distance = distanceBase[dcode] + dsym;
                if (distance > out.size()) return false;
                for (uint32_t i = 0; i < length; i++)
                    out.push_back(out[out.size() - distance]);
                block.symbols.push_back({length, distance});
            }
        }
        blocks.push_back(block);
        if (block.final) return r.AtEnd();
    }
}

//--- helpers

// Deflates, checks the recorded size against the bytes written, and inflates
// with zlib; reports the first byte that differs.
void ExpectRoundTrip(const Bytes& input, const memzip::Result& r) {
    ASSERT_EQ(r.error, 0u);
    EXPECT_EQ(r.dataWritten, r.output.size());
    EXPECT_EQ(r.bytesRead, input.size());
    EXPECT_TRUE(r.flags & 0x0002);
    Bytes back;
    ASSERT_TRUE(memzip::Inflate(r.output, back)) << "zlib rejects the stream of " << input.size() << " bytes";
    size_t i = 0;
    while (i < input.size() && i < back.size() && input[i] == back[i])
        i++;
    EXPECT_EQ(i, input.size()) << "first difference at byte " << i << " of " << input.size();
    EXPECT_EQ(back.size(), input.size());
}

std::vector<Block> Blocks(const memzip::Result& r) {
    std::vector<Block> blocks;
    Bytes out;
    EXPECT_TRUE(Parse(r.output, blocks, out));
    return blocks;
}

} // namespace

//--- edge cases of the format

TEST(Deflate, EmptyInputIsTheTwoByteFixedBlock) {
    const memzip::Result r = memzip::Deflate({});
    EXPECT_EQ(r.output, (Bytes{0x03, 0x00}));
    EXPECT_EQ(r.dataWritten, 2u);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.flags, 0x0002);
}

TEST(Deflate, OneOrTwoBytesAreLiteralsOfOneFixedBlock) {
    for (const Bytes& input : {Bytes{'a'}, Bytes{'a', 'a'}, Bytes{0xFF, 0x00}}) {
        const memzip::Result r = memzip::Deflate(input);
        ExpectRoundTrip(input, r);
        const std::vector<Block> blocks = Blocks(r);
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].type, 1);
        for (const Symbol& s : blocks[0].symbols)
            EXPECT_EQ(s.length, 0u);
    }
}

TEST(Deflate, LongRunIsTwoLiteralsThenMatchesOf258AtDistanceOne) {
    const Bytes input(258 * 40 + 2, 'x');
    const memzip::Result r = memzip::Deflate(input);
    ExpectRoundTrip(input, r);
    const std::vector<Block> blocks = Blocks(r);
    ASSERT_EQ(blocks.size(), 1u);
    const std::vector<Symbol>& s = blocks[0].symbols;
    ASSERT_EQ(s.size(), 42u);
    EXPECT_EQ(s[0].length, 0u);
    EXPECT_EQ(s[1].length, 0u);
    for (size_t i = 2; i < s.size(); i++) {
        EXPECT_EQ(s[i].length, 258u) << "symbol " << i;
        EXPECT_EQ(s[i].distance, 1u) << "symbol " << i;
    }
}

TEST(Deflate, ThreeByteRepeatCountsOnlyWithin4096Bytes) {
    for (const size_t gap : {3000u, 5000u}) {
        // Separators outside the alphabet keep every other string unique.
        Bytes input = NoRepeats(gap, 32, 0x40);
        ASSERT_EQ(input.size(), gap);
        input.push_back(0x01);
        input.insert(input.end(), input.begin() + 10, input.begin() + 13);
        input.push_back(0x02);
        const memzip::Result r = memzip::Deflate(input);
        ExpectRoundTrip(input, r);
        std::vector<Symbol> matches;
        for (const Block& b : Blocks(r))
            for (const Symbol& s : b.symbols)
                if (s.length != 0) matches.push_back(s);
        if (gap < 4096) {
            ASSERT_EQ(matches.size(), 1u);
            EXPECT_EQ(matches[0].length, 3u);
            EXPECT_EQ(matches[0].distance, gap + 1 - 10);
        } else {
            EXPECT_TRUE(matches.empty());
        }
    }
}

TEST(Deflate, BlockKindFollowsTheCheapestCoding) {
    // Random bytes: stored blocks, each 5 bytes of framing around the raw bytes.
    const Bytes random = Generate(200000, 0.0, 7);
    memzip::Result r = memzip::Deflate(random);
    ExpectRoundTrip(random, r);
    std::vector<Block> blocks = Blocks(r);
    for (const Block& b : blocks)
        EXPECT_EQ(b.type, 0);
    EXPECT_EQ(r.output.size(), random.size() + 5 * blocks.size());

    // A short text: the fixed code, cheaper than sending trees.
    const Bytes text = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'h', 'e', 'l',
                        'l', 'o', ',', ' ', 'h', 'e', 'l', 'l', 'o', '\n'};
    r = memzip::Deflate(text);
    ExpectRoundTrip(text, r);
    blocks = Blocks(r);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].type, 1);

    // Literals of a small alphabet without matches: dynamic codes, and the empty
    // distance tree is sent as two codes.
    const Bytes literals = NoRepeats(4000, 32, 0x40);
    r = memzip::Deflate(literals);
    ExpectRoundTrip(literals, r);
    blocks = Blocks(r);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].type, 2);
    EXPECT_EQ(blocks[0].distanceCodes, 2);
}

//--- fixed inputs: compression and byte identity

namespace {

// Per fixed input: zlib level 8's size (raw deflate, window bits -15, memory
// level 8, zlib 1.2.13), and our output's size and CRC-32, as printed by
// `deflate_bench --fixed` (bench/deflate_bench.cpp).
struct Reference {
    const char* name;
    uint32_t zlib8;
    uint32_t size;
    uint32_t crc;
};
const Reference REFERENCES[] = {{"text", 130110, 130084, 0x0DF98D6D},
                                {"binary", 181093, 181050, 0xAD28C2FA},
                                {"incompressible", 200065, 200035, 0xE31F9DBF},
                                {"runs", 4172, 4181, 0xBB26816D}};

} // namespace

// A matcher that settles for shorter matches, or a longer coding of some
// symbol, costs more than half a percent on at least one of the inputs. Any
// change of the output bytes fails the digests: an archive must not depend on
// how (or on how many threads) it was made.
TEST(Deflate, FixedInputsCompressAsWellAsZlibLevel8AndKeepTheirBytes) {
    const std::vector<deflate_inputs::Input> inputs = deflate_inputs::FixedInputs();
    ASSERT_EQ(inputs.size(), std::size(REFERENCES));
    for (size_t i = 0; i < inputs.size(); i++) {
        const Reference& ref = REFERENCES[i];
        const Bytes& input = inputs[i].bytes;
        SCOPED_TRACE(ref.name);
        const memzip::Result r = memzip::Deflate(input);
        ExpectRoundTrip(input, r);
        std::vector<Block> blocks;
        Bytes decoded;
        EXPECT_TRUE(Parse(r.output, blocks, decoded));
        EXPECT_TRUE(decoded == input);
        EXPECT_LE(r.output.size() * 1000, ref.zlib8 * 1005ull) << "zlib level 8 gives " << ref.zlib8;
        EXPECT_EQ(r.output.size(), ref.size);
        EXPECT_EQ(Crc32Update(0, r.output.data(), static_cast<uint32_t>(r.output.size())), ref.crc);
    }
}

//--- window and chains

TEST(Deflate, MatchesReachAcrossSlidesUpTo32506Back) {
    // Random bytes with copies placed after the first slide, one exactly at the
    // farthest distance and one just beyond it.
    Bytes input = Generate(140000, 0.0, 3);
    for (size_t i = 0; i < 200; i++) {
        input[70000 + i] = input[70000 - 32506 + i];
        input[100000 + i] = input[100000 - 32507 + i];
    }
    const memzip::Result r = memzip::Deflate(input);
    ExpectRoundTrip(input, r);
    bool farthest = false;
    for (const Block& b : Blocks(r))
        for (const Symbol& s : b.symbols) {
            EXPECT_LE(s.distance * (s.length != 0), 32506u);
            farthest = farthest || (s.length >= 200 && s.distance == 32506);
        }
    EXPECT_TRUE(farthest);
}

TEST(Deflate, RoundTripsAcrossSizesAndCompressibility) {
    const size_t sizes[] = {3,     4,     5,     100,   261,   262,   263,    4096,
                            32768, 65273, 65274, 65275, 65536, 65537, 200000, 700000};
    const double knobs[] = {0.0, 0.3, 0.7, 0.95, 1.0};
    uint32_t seed = 1;
    for (const size_t size : sizes)
        for (const double knob : knobs) {
            SCOPED_TRACE(testing::Message() << "size " << size << " knob " << knob);
            const Bytes input = Generate(size, knob, seed++);
            ExpectRoundTrip(input, memzip::Deflate(input));
        }
}

TEST(Deflate, OutputDependsOnlyOnTheInput) {
    const Bytes input = Generate(300000, 0.8, 11);
    const memzip::Result reference = memzip::Deflate(input);
    ExpectRoundTrip(input, reference);
    EXPECT_EQ(memzip::Deflate(input).output, reference.output);

    // Sources that return fewer bytes than asked, down to one at a time.
    std::mt19937 rng(5);
    for (const uint32_t most : {1u, 7u, 300u, 5000u}) {
        memzip::Harness h;
        h.input = input;
        h.readSize = [&rng, most](uint32_t asked) { return std::min<uint32_t>(asked, 1 + rng() % most); };
        ZipArchive* archive = memzip::NewArchive();
        const memzip::Result r = memzip::DeflateWith(archive, h);
        memzip::FreeArchive(archive);
        EXPECT_EQ(r.output, reference.output) << "reads of at most " << most;
    }

    // A state reused after other entries, the last one short, so that old bytes
    // sit in the window beyond the new input's end.
    ZipArchive* archive = memzip::NewArchive();
    memzip::Harness other;
    other.input = Generate(100000, 0.5, 12);
    memzip::DeflateWith(archive, other);
    for (const size_t tail : {size_t{10}, size_t{1000}}) {
        memzip::Harness h;
        h.input = Bytes(input.begin(), input.begin() + tail);
        const memzip::Result fresh = memzip::Deflate(h.input);
        EXPECT_EQ(memzip::DeflateWith(archive, h).output, fresh.output);
    }
    memzip::Harness h;
    h.input = input;
    EXPECT_EQ(memzip::DeflateWith(archive, h).output, reference.output);
    memzip::FreeArchive(archive);
}

//--- Huffman trees

namespace {

DeflateState* NewState() {
    DeflateState* s = static_cast<DeflateState*>(calloc(1, sizeof(DeflateState)));
    DeflateSetupDescriptors(s);
    DeflateInitTrees(s);
    return s;
}

// Checks the limit and that the lengths form a complete prefix code.
void ExpectLimitedCompleteCode(const DeflateNode* tree, int codes, int limit) {
    double kraft = 0;
    int longest = 0;
    for (int n = 0; n < codes; n++)
        if (tree[n].dl != 0) {
            longest = std::max<int>(longest, tree[n].dl);
            kraft += 1.0 / (1 << tree[n].dl);
        }
    EXPECT_LE(longest, limit);
    EXPECT_EQ(longest, limit) << "the frequencies should have needed the limit";
    EXPECT_DOUBLE_EQ(kraft, 1.0);
}

} // namespace

TEST(Huffman, SkewedFrequenciesStayWithinTheLimitsAndAreCostedRight) {
    // Frequencies 1, 1, 2, 4, 8, ... (their sum within 16 bits) would give trees
    // as deep as there are symbols; the block's cost must follow the lengths as
    // they end up after the cut.
    DeflateState* s = NewState();
    uint32_t freqs[DEFLATE_LITERAL_CODES] = {};
    for (int n = 0; n < 16; n++)
        freqs[n] = 1u << (n > 0 ? n - 1 : 0);
    freqs[DEFLATE_END_OF_BLOCK] = 1;
    for (int n = 0; n < 16; n++)
        s->litTree[n].fc = static_cast<uint16_t>(freqs[n]);
    DeflateBuildTree(s, &s->litDesc);
    ExpectLimitedCompleteCode(s->litTree, DEFLATE_LITERAL_CODES, 15);
    uint32_t cost = 0, fixedCost = 0;
    for (int n = 0; n <= DEFLATE_END_OF_BLOCK; n++) {
        cost += freqs[n] * s->litTree[n].dl;
        fixedCost += freqs[n] * s->fixedLitTree[n].dl;
    }
    EXPECT_EQ(s->optimalLength, cost);
    EXPECT_EQ(s->fixedLength, fixedCost);

    s->optimalLength = 0;
    const uint32_t extra[DEFLATE_BITLENGTH_CODES] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
    for (int n = 0; n < DEFLATE_BITLENGTH_CODES; n++) {
        freqs[n] = 1u << (n > 0 ? n - 1 : 0) >> 4;
        s->bitLengthTree[n].fc = static_cast<uint16_t>(freqs[n]);
    }
    DeflateBuildTree(s, &s->bitLengthDesc);
    ExpectLimitedCompleteCode(s->bitLengthTree, DEFLATE_BITLENGTH_CODES, 7);
    cost = 0;
    for (int n = 0; n < DEFLATE_BITLENGTH_CODES; n++)
        cost += freqs[n] * (s->bitLengthTree[n].dl + extra[n]);
    EXPECT_EQ(s->optimalLength, cost);
    free(s);
}

//--- failures

TEST(DeflateFailure, WriteFailureStopsWithTheSinksError) {
    const Bytes input = Generate(600000, 0.5, 21);
    const size_t whole = memzip::Deflate(input).output.size();
    for (const size_t at : {size_t{1}, size_t{5}, whole / 3, whole})
        for (const uint32_t code : {uint32_t{ZIP_ERR_WRITE}, uint32_t{ZIP_ERR_MEMSIZE}}) {
            SCOPED_TRACE(testing::Message() << "failing at " << at << " of " << whole);
            memzip::Harness h;
            h.input = input;
            h.failWriteAt = at;
            h.writeError = code;
            ZipArchive* archive = memzip::NewArchive();
            const memzip::Result r = memzip::DeflateWith(archive, h);
            EXPECT_EQ(r.error, code);
            EXPECT_LT(r.output.size(), at);
            // Early failures stop the compressor well before the source ends.
            if (at < whole / 2) EXPECT_LT(r.bytesRead, input.size());
            memzip::FreeArchive(archive);
        }
}

TEST(DeflateFailure, EntryAfterAFailedOneIsSound) {
    // A failed entry leaves half a block behind; the next entry of the same
    // archive must neither code nor count it.
    const Bytes next = Generate(150000, 0.7, 31);
    for (const bool readFails : {true, false}) {
        ZipArchive* archive = memzip::NewArchive();
        memzip::Harness bad;
        bad.input = Generate(300000, 0.3, 30);
        if (readFails)
            bad.failReadAt = 100000;
        else
            bad.failWriteAt = 30000;
        const memzip::Result failed = memzip::DeflateWith(archive, bad);
        EXPECT_EQ(failed.error, readFails ? uint32_t{ZIP_ERR_READ} : uint32_t{ZIP_ERR_WRITE});
        memzip::Harness good;
        good.input = next;
        const memzip::Result r = memzip::DeflateWith(archive, good);
        ExpectRoundTrip(next, r);
        EXPECT_EQ(r.output, memzip::Deflate(next).output);
        memzip::FreeArchive(archive);
    }
}

TEST(DeflateFailure, NoStateMeansErrorTwoAndNothingWritten) {
    memzip::Harness h;
    h.input = Generate(1000, 0.5, 1);
    ZipArchive* archive = memzip::NewArchive();
    memzip::FailAllocations(true);
    const memzip::Result r = memzip::DeflateWith(archive, h);
    memzip::FailAllocations(false);
    EXPECT_EQ(r.error, uint32_t{ZIP_ERR_NOMEM});
    EXPECT_TRUE(r.output.empty());
    EXPECT_EQ(r.bytesRead, 0u);
    EXPECT_EQ(archive->deflate, nullptr);
    memzip::FreeArchive(archive);
}
