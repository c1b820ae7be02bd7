// The inflater, natively with sanitizers: the compressor's streams decoded
// back in any chunking, streams made bit by bit for each rule of the format
// (with zlib's verdict beside ours), shortened streams and stopped callbacks.
#include "memory_zip.h"
#include "zip/inflate.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

struct Decoding {
    int result = -1;
    Bytes out;
    uint64_t consumed = 0;
};

struct Feed {
    const Bytes* bytes;
    size_t at, piece;
    bool stopAtEnd;
    size_t outputLimit;
    Bytes* out;
};

int32_t NextPiece(void* context, const uint8_t** chunk) {
    Feed& f = *static_cast<Feed*>(context);
    const size_t n = std::min(f.piece, f.bytes->size() - f.at);
    if (n == 0) return f.stopAtEnd ? -1 : 0;
    *chunk = f.bytes->data() + f.at;
    f.at += n;
    return int32_t(n);
}

bool TakeOutput(void* context, const uint8_t* bytes, uint32_t count) {
    Feed& f = *static_cast<Feed*>(context);
    f.out->insert(f.out->end(), bytes, bytes + count);
    return f.out->size() <= f.outputLimit;
}

// Decodes stream handed over in pieces of the given size.
Decoding Inflate(const Bytes& stream, size_t piece = 65536, bool stopAtEnd = false,
                 size_t outputLimit = SIZE_MAX) {
    static std::unique_ptr<InflateWork> work(new InflateWork);
    Decoding run;
    Feed feed{&stream, 0, piece, stopAtEnd, outputLimit, &run.out};
    run.result = InflateStream(work.get(), InflateInput{&feed, NextPiece}, InflateOutput{&feed, TakeOutput},
                               &run.consumed);
    return run;
}

// Text-like bytes with near and far repeats (kind 't'), random bytes ('r') or long runs ('u').
Bytes Sample(size_t size, char kind, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        if (kind == 'r') {
            out.push_back(uint8_t(rng()));
        } else if (kind == 'u') {
            out.insert(out.end(), std::min<size_t>(size - out.size(), 300 + rng() % 3000),
                       uint8_t('A' + rng() % 3));
        } else if (out.size() > 64 && rng() % 3 == 0) {
            const size_t distance = 1 + rng() % std::min<size_t>(out.size(), rng() % 8 ? 500 : 32768);
            for (size_t n = 3 + rng() % 40; n > 0 && out.size() < size; --n)
                out.push_back(out[out.size() - distance]);
        } else {
            out.push_back(uint8_t('a' + rng() % 26));
        }
    }
    return out;
}

// Bits in the order the format sends them.
struct Bits {
    Bytes bytes;
    int used = 8;
    Bits& Put(uint32_t value, int count) { // an integer, lowest bit first
        for (int i = 0; i < count; ++i) {
            if (used == 8) bytes.push_back(0), used = 0;
            bytes.back() |= uint8_t(((value >> i) & 1) << used++);
        }
        return *this;
    }
    Bits& Code(uint32_t code, int length) { // a Huffman code, highest bit first
        for (int i = length - 1; i >= 0; --i)
            Put(code >> i, 1);
        return *this;
    }
    Bits& Fixed(int symbol) { // a literal/length of the fixed code
        if (symbol < 144) return Code(0x30 + symbol, 8);
        if (symbol < 256) return Code(0x190 + symbol - 144, 9);
        if (symbol < 280) return Code(symbol - 256, 7);
        return Code(0xC0 + symbol - 280, 8);
    }
    Bits& Stored(bool final, const Bytes& data, uint16_t complement) {
        Put(final, 1).Put(0, 2);
        used = 8;
        Put(uint32_t(data.size()), 16).Put(complement, 16);
        for (uint8_t byte : data)
            Put(byte, 8);
        return *this;
    }
    // A dynamic block's header sending literalCount literal/length and
    // distanceCount distance code lengths, each item a code-length symbol
    // with its extra bits, through a code-length code in which symbols 0-12
    // have four bits and 13-18 five.
    Bits& Dynamic(int literalCount, int distanceCount, const std::vector<std::pair<int, int>>& items) {
        Put(1, 1).Put(2, 2).Put(literalCount - 257, 5).Put(distanceCount - 1, 5).Put(15, 4);
        for (int symbol : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15})
            Put(symbol <= 12 ? 4 : 5, 3);
        for (auto [symbol, extra] : items) {
            if (symbol <= 12)
                Code(symbol, 4);
            else
                Code(26 + symbol - 13, 5);
            if (symbol >= 16) Put(extra, symbol == 16 ? 2 : symbol == 17 ? 3 : 7);
        }
        return *this;
    }
};

// The items that send these code lengths (runs of zeros as code 18).
std::vector<std::pair<int, int>> Lengths(const std::vector<int>& lengths) {
    std::vector<std::pair<int, int>> items;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138)
            ++run;
        if (run >= 11) {
            items.push_back({18, int(run - 11)});
            i += run;
        } else {
            items.push_back({lengths[i++], 0});
        }
    }
    return items;
}

// Literal/length code lengths 0-257 (or more) with the given ones set, then
// the distance code lengths.
std::vector<int> Code(std::vector<std::pair<int, int>> set, std::vector<int> distances, int literals = 258) {
    std::vector<int> lengths(literals);
    for (auto [symbol, length] : set)
        lengths[symbol] = length;
    lengths.insert(lengths.end(), distances.begin(), distances.end());
    return lengths;
}

struct Case {
    const char* what;
    Bytes stream;
    bool valid;
};

std::vector<Case> Cases() {
    const auto fixed = [] { return Bits().Put(1, 1).Put(1, 2); };
    const auto single = Code({{'a', 2}, {256, 2}, {257, 1}}, {1}); // one distance code of one bit
    const auto dynamic = [](const std::vector<int>& lengths, int distances = 1) {
        return Bits().Dynamic(int(lengths.size()) - distances, distances, Lengths(lengths));
    };
    // Literal/length lengths 1 to 15 (the end of block of one bit, 'a' of two,
    // ... symbol 110 of fifteen): one 15-bit codeword short of complete.
    std::vector<std::pair<int, int>> deep = {{256, 1}};
    for (int length = 2; length <= 15; ++length)
        deep.push_back({95 + length, length});
    auto complete = deep;
    complete.push_back({111, 15});
    // Its two 15-bit codes, then 'a' of two bits: 17 bits a turn.
    Bits deep15 = dynamic(Code(complete, {0}));
    for (int i = 0; i < 8; ++i)
        deep15.Code(0x7FFE + i % 2, 15).Code(2, 2);
    // A distance code of 31 symbols, complete: 30 of five bits, one of four.
    std::vector<int> distances31(31, 5);
    distances31[0] = 4;
    // Distance lengths 1, 0, 0 (0, 0, 0): the zeros' repeat of three ends one
    // past the last length, or at it.
    auto repeat = Lengths(Code({{256, 1}, {257, 1}}, {1}));
    repeat.push_back({17, 0});
    // Eight literals and 508 matches of 258 bytes at distance 8: the last one
    // ends exactly at the end of the window, before its first turn.
    Bits window = fixed();
    for (int c = 'a'; c <= 'h'; ++c)
        window.Fixed(c);
    for (int i = 0; i < 508; ++i)
        window.Fixed(285).Code(5, 5).Put(1, 1);
    static_assert(8 + 508 * 258 == INFLATE_WINDOW, "the matches fill the window");
    return {
        {"fixed literals and a match",
         fixed().Fixed('a').Fixed('b').Fixed('c').Fixed(260).Code(2, 5).Fixed(256).bytes, true},
        {"stored blocks", Bits().Stored(false, {1, 2, 3}, 0xFFFC).Stored(true, {}, 0xFFFF).bytes, true},
        {"length 258 sent as 284 with extra bits 31",
         fixed().Fixed('a').Fixed(284).Put(31, 5).Code(0, 5).Fixed(256).bytes, true},
        {"one distance code of one bit", dynamic(single).Code(2, 2).Code(0, 1).Code(0, 1).Code(3, 2).bytes,
         true},
        {"no distance code", dynamic(Code({{'a', 1}, {256, 1}}, {0})).Code(0, 1).Code(1, 1).bytes, true},
        {"one literal/length code of one bit", dynamic(Code({{256, 1}}, {0})).Code(0, 1).bytes, true},
        {"15-bit codes of a complete literal/length code, at every bit position", deep15.Code(0, 1).bytes,
         true},
        {"the zeros' repeat ends at the last length", Bits().Dynamic(258, 4, repeat).Code(0, 1).bytes, true},
        {"a match of 258 ends at the window's end", window.Fixed('z').Fixed(256).bytes, true},
        {"a short stored final block after a fixed one",
         Bits().Put(0, 1).Put(1, 2).Fixed('x').Fixed(256).Stored(true, {1, 2, 3, 4, 5}, 0xFFFA).bytes, true},
        {"block type 3", Bits().Put(1, 1).Put(3, 2).bytes, false},
        {"stored length without its complement", Bits().Stored(true, {7}, 0xFFFF).bytes, false},
        {"length code 286", fixed().Fixed('a').Fixed(286).bytes, false},
        {"length code 287", fixed().Fixed('a').Fixed(287).bytes, false},
        {"distance code 30", fixed().Fixed('a').Fixed(257).Code(30, 5).bytes, false},
        {"distance code 31", fixed().Fixed('a').Fixed(257).Code(31, 5).bytes, false},
        {"distance beyond the output", fixed().Fixed('a').Fixed(257).Code(1, 5).Fixed(256).bytes, false},
        {"match before any output", fixed().Fixed(257).Code(0, 5).Fixed(256).bytes, false},
        {"287 literal/length codes", dynamic(Code({{256, 1}, {257, 1}}, {1}, 287)).bytes, false},
        {"31 distance codes", dynamic(Code({{256, 1}, {257, 1}}, std::vector<int>(31, 5)), 31).bytes, false},
        {"over-subscribed literal/length code", dynamic(Code({{'a', 1}, {'b', 1}, {256, 1}}, {1})).bytes,
         false},
        {"incomplete literal/length code", dynamic(Code({{'a', 2}, {256, 1}}, {1})).bytes, false},
        {"literal/length code one 15-bit codeword short", dynamic(Code(deep, {0})).Code(0, 1).bytes, false},
        {"complete code of 31 distances",
         dynamic(Code({{256, 1}, {257, 1}}, distances31), 31).Code(0, 1).bytes, false},
        {"one distance code of two bits", dynamic(Code({{'a', 1}, {256, 1}}, {2})).bytes, false},
        {"no end-of-block code", dynamic(Code({{'a', 1}, {'b', 1}}, {1})).bytes, false},
        {"unused code of a single distance code", dynamic(single).Code(2, 2).Code(0, 1).Code(1, 1).bytes,
         false},
        {"incomplete code-length code",
         Bits().Put(1, 1).Put(2, 2).Put(0, 10).Put(0, 4).Put(0, 9).Put(1, 3).bytes, false},
        {"repeat of no previous length", Bits().Dynamic(257, 1, {{16, 0}}).bytes, false},
        {"repeat past the last length", Bits().Dynamic(257, 1, {{18, 127}, {18, 127}, {1, 0}, {17, 7}}).bytes,
         false},
        {"repeat one past the last length", Bits().Dynamic(258, 3, repeat).Code(0, 1).bytes, false},
    };
}

} // namespace

TEST(Inflate, CompressorOutputComesBackInAnyChunking) {
    const std::vector<Bytes> samples = {{},
                                        Sample(1, 't', 1),
                                        Sample(5000, 't', 2),
                                        Sample(300000, 't', 3),
                                        Sample(200000, 'r', 4),
                                        Sample(500000, 'u', 5)};
    for (const Bytes& data : samples) {
        const memzip::Result deflated = memzip::Deflate(data);
        ASSERT_EQ(deflated.error, 0u);
        Bytes trailing = deflated.output;
        trailing.insert(trailing.end(), {0x55, 0xAA, 0x01});
        for (size_t piece : {size_t(1), size_t(3), size_t(4096), size_t(65536)}) {
            if (piece < 4096 && data.size() > 5000) continue;
            const Decoding run = Inflate(trailing, piece);
            EXPECT_EQ(run.result, INFLATE_OK) << data.size() << " in pieces of " << piece;
            EXPECT_TRUE(run.out == data) << data.size() << " in pieces of " << piece;
            EXPECT_EQ(run.consumed, deflated.output.size());
        }
    }
    // Many window turns, with matches reaching across them.
    Bytes large = Sample(3000000, 't', 6);
    const Bytes noise = Sample(100000, 'r', 7);
    large.insert(large.begin() + 1000000, noise.begin(), noise.end());
    const Decoding run = Inflate(memzip::Deflate(large).output, 65536);
    EXPECT_EQ(run.result, INFLATE_OK);
    EXPECT_TRUE(run.out == large);
}

TEST(Inflate, EachRuleOfTheFormatAsZlibReadsIt) {
    for (const Case& c : Cases()) {
        Bytes zlibOut;
        EXPECT_EQ(memzip::Inflate(c.stream, zlibOut), c.valid) << "zlib: " << c.what;
        // Alone it is read a bit at a time, a byte per chunk across chunks;
        // followed by other bytes, by the fast loop.
        Bytes followed = c.stream;
        followed.resize(c.stream.size() + 16, 0x5A);
        for (const auto& [stream, piece] :
             {std::pair(c.stream, 1), std::pair(c.stream, 65536), std::pair(followed, 65536)}) {
            const Decoding run = Inflate(stream, size_t(piece));
            EXPECT_EQ(run.result, c.valid ? INFLATE_OK : INFLATE_INVALID) << c.what;
            if (c.valid) EXPECT_TRUE(run.out == zlibOut) << c.what;
            if (c.valid) EXPECT_EQ(run.consumed, c.stream.size()) << c.what;
        }
    }
}

TEST(Inflate, ShortenedStreamsAreTruncated) {
    std::vector<std::pair<Bytes, std::vector<size_t>>> streams = {
        {memzip::Deflate(Sample(20000, 't', 8)).output, {5}},
        {memzip::Deflate(Sample(3000, 'r', 9)).output, {5}}};
    for (const Case& c : Cases())
        if (c.valid) streams.push_back({c.stream, {1, 5, 65536}});
    for (const auto& [stream, pieces] : streams)
        for (size_t piece : pieces)
            for (size_t length = 0; length < stream.size(); ++length)
                EXPECT_EQ(Inflate(Bytes(stream.begin(), stream.begin() + long(length)), piece).result,
                          INFLATE_TRUNCATED)
                    << length << " of " << stream.size() << " in pieces of " << piece;
}

TEST(Inflate, CallbacksStopIt) {
    const Bytes data = Sample(400000, 't', 10);
    const Bytes stream = memzip::Deflate(data).output;
    EXPECT_EQ(Inflate(Bytes(stream.begin(), stream.end() - 100), 4096, true).result, INFLATE_STOPPED);
    const Decoding run = Inflate(stream, 4096, false, 200000);
    EXPECT_EQ(run.result, INFLATE_STOPPED);
    EXPECT_LT(run.out.size(), data.size());
    // Only the last handover refused, of many or of the only one.
    EXPECT_EQ(Inflate(stream, 4096, false, data.size() - 1).result, INFLATE_STOPPED);
    EXPECT_EQ(Inflate(Cases()[0].stream, 4096, false, 3).result, INFLATE_STOPPED);
}
