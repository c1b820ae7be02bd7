// The compressor's fixed inputs: four kinds of data of a few hundred KB, built
// by a seeded generator of our own (no library distribution, whose results may
// differ between standard libraries), so that every build sees the same bytes.
// The native tests hold our output's size and CRC-32 for each, and zlib level
// 8's size, which bench/deflate_bench prints with --fixed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace deflate_inputs {

struct Input {
    const char* name;
    std::vector<uint8_t> bytes;
};

class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    // Skewed toward 0, so that a few choices are common and most are rare.
    uint32_t Skewed(uint32_t n) {
        const uint64_t a = Below(n);
        return static_cast<uint32_t>(a * Below(n) / n);
    }

  private:
    uint64_t state_;
};

inline void Put(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

inline void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Prose over a vocabulary of made-up words, most of them rare, in lines of
// about 72 columns, with numbers and now and then a line of settings.
inline std::vector<uint8_t> Text(size_t size) {
    Rng rng(1);
    static const char* const syllables[] = {"ka", "lo", "mi", "ter", "an", "sol", "ve", "ri", "dun", "pe",
                                            "qu", "is", "or", "bra", "ne", "tu",  "al", "fe", "gor", "hy"};
    std::vector<std::string> words(900);
    for (std::string& w : words)
        for (uint32_t n = 1 + rng.Below(4); n > 0; n--)
            w += syllables[rng.Below(20)];
    std::vector<uint8_t> out;
    size_t column = 0;
    bool capital = true;
    while (out.size() < size) {
        if (rng.Below(40) == 0) {
            // One draw per statement: the order of a call's operands is unspecified.
            const std::string group = words[rng.Skewed(50)];
            const std::string key = words[rng.Skewed(900)];
            Put(out, "\n    " + group + "." + key + " = " + std::to_string(rng.Below(100000)) + ";\n");
            column = 0;
            continue;
        }
        std::string word = rng.Below(25) == 0 ? std::to_string(rng.Below(2000)) : words[rng.Skewed(900)];
        if (capital && word[0] >= 'a') word[0] = static_cast<char>(word[0] - 'a' + 'A');
        capital = rng.Below(9) == 0;
        word += capital ? ". " : rng.Below(12) == 0 ? ", " : " ";
        if (column + word.size() > 72) {
            out.push_back('\n');
            column = 0;
        }
        Put(out, word);
        column += word.size();
    }
    out.resize(size);
    return out;
}

// Structured binary data: tables of little-endian records (counters, offsets,
// flags, short names) alternating with code-like runs of instructions drawn
// from a small set, with random immediate operands.
inline std::vector<uint8_t> Binary(size_t size) {
    Rng rng(2);
    std::vector<std::vector<uint8_t>> opcodes(48);
    for (std::vector<uint8_t>& op : opcodes)
        for (uint32_t n = 1 + rng.Below(3); n > 0; n--)
            op.push_back(static_cast<uint8_t>(rng.Next()));
    static const char* const names[] = {"Open", "Close", "Read", "Write", "Seek", "Flush", "Lock", "Map"};
    std::vector<uint8_t> out;
    uint32_t id = 1000, offset = 0x4000;
    while (out.size() < size) {
        for (uint32_t records = 20 + rng.Below(200); records > 0; records--) {
            PutLe(out, id++, 4);
            offset += 16 * (1 + rng.Skewed(64));
            PutLe(out, offset, 4);
            PutLe(out, 1u << rng.Below(6), 2);
            std::string name = names[rng.Skewed(8)];
            name.resize(10, '\0');
            Put(out, name);
            PutLe(out, rng.Below(4) == 0 ? rng.Next() : 0, 4);
        }
        for (uint32_t instructions = 100 + rng.Below(1500); instructions > 0; instructions--) {
            const std::vector<uint8_t>& op = opcodes[rng.Skewed(48)];
            out.insert(out.end(), op.begin(), op.end());
            if (op[0] & 1) PutLe(out, rng.Below(4) == 0 ? rng.Next() : rng.Skewed(256), 1 + op[0] % 4);
        }
    }
    out.resize(size);
    return out;
}

inline std::vector<uint8_t> Incompressible(size_t size) {
    Rng rng(3);
    std::vector<uint8_t> out(size);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(rng.Next());
    return out;
}

// Runs of one byte and repeats of short patterns, up to thousands of bytes
// long, between a few random bytes: matches of 258 at short distances.
inline std::vector<uint8_t> Runs(size_t size) {
    Rng rng(4);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        std::vector<uint8_t> pattern(1 + (rng.Below(2) == 0 ? 0 : rng.Below(16)));
        for (uint8_t& b : pattern)
            b = static_cast<uint8_t>(rng.Skewed(256));
        for (uint32_t n = 1 + rng.Skewed(6000); n > 0; n--)
            out.push_back(pattern[n % pattern.size()]);
        for (uint32_t n = rng.Below(20); n > 0; n--)
            out.push_back(static_cast<uint8_t>(rng.Next()));
    }
    out.resize(size);
    return out;
}

inline std::vector<Input> FixedInputs() {
    return {{"text", Text(400000)},
            {"binary", Binary(400000)},
            {"incompressible", Incompressible(200000)},
            {"runs", Runs(300000)}};
}

} // namespace deflate_inputs
