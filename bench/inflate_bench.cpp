// Decodes each corpus file given on the command line, deflated beforehand by
// zlib level 8, with our inflater (alone and with the CRC-32 that verification
// adds) and with zlib's inflate, best of 5 runs each, and prints one line per
// corpus class in MB/s of output.
#include "zip/crc32.h"
#include "zip/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

struct Compressed {
    const std::vector<uint8_t>* bytes;
    size_t position;
};

// 64 KiB chunks, as the verifier reads them.
static int32_t NextChunk(void* context, const uint8_t** chunk) {
    Compressed& c = *static_cast<Compressed*>(context);
    const size_t n = std::min<size_t>(65536, c.bytes->size() - c.position);
    *chunk = c.bytes->data() + c.position;
    c.position += n;
    return static_cast<int32_t>(n);
}

struct Decoded {
    uint64_t size;
    uint32_t crc;
    bool withCrc;
};

static bool TakeDecoded(void* context, const uint8_t* bytes, uint32_t count) {
    Decoded& d = *static_cast<Decoded*>(context);
    d.size += count;
    if (d.withCrc) d.crc = Crc32Update(d.crc, bytes, count);
    return true;
}

// The shortest of runs timings of work, in seconds.
template <typename Work> static double Best(int runs, Work work) {
    double best = 1e9;
    for (int r = 0; r < runs; r++) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) exit(1);
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

int main(int argc, char** argv) {
    std::unique_ptr<InflateWork> work(new InflateWork);
    printf("%-18s %8s %12s %9s %9s %9s\n", "class", "input MB", "deflated", "ours", "ours+crc", "zlib");
    for (int a = 1; a < argc; a++) {
        std::ifstream file(argv[a], std::ios::binary);
        const std::vector<uint8_t> in{std::istreambuf_iterator<char>(file), {}};
        if (!file || in.empty()) {
            fprintf(stderr, "cannot read %s\n", argv[a]);
            return 2;
        }
        std::vector<uint8_t> deflated(compressBound(uLong(in.size())));
        uLongf deflatedSize = uLongf(deflated.size());
        if (compress2(deflated.data(), &deflatedSize, in.data(), uLong(in.size()), 8) != Z_OK) return 1;
        // compress2 wraps the raw stream in a 2-byte header and a 4-byte check.
        deflated = std::vector<uint8_t>(deflated.begin() + 2, deflated.begin() + long(deflatedSize) - 4);
        const uint32_t crc = Crc32Update(0, in.data(), uint32_t(in.size()));

        const auto ours = [&](bool withCrc) {
            Compressed c{&deflated, 0};
            Decoded d{0, 0, withCrc};
            uint64_t consumed = 0;
            const int result = InflateStream(work.get(), InflateInput{&c, NextChunk},
                                             InflateOutput{&d, TakeDecoded}, &consumed);
            if (result == INFLATE_OK && d.size == in.size() && consumed == deflated.size() &&
                (!withCrc || d.crc == crc))
                return true;
            fprintf(stderr, "%s: our inflater does not give the input back\n", argv[a]);
            return false;
        };
        std::vector<uint8_t> out(in.size());
        const auto zlib = [&] {
            z_stream z{};
            inflateInit2(&z, -15);
            z.next_in = deflated.data();
            z.avail_in = uInt(deflated.size());
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            const int result = inflate(&z, Z_FINISH);
            inflateEnd(&z);
            return result == Z_STREAM_END;
        };
        const double mb = in.size() / 1e6;
        printf("%-18s %8.2f %12zu %9.1f %9.1f %9.1f\n", argv[a], mb, deflated.size(),
               mb / Best(5, [&] { return ours(false); }), mb / Best(5, [&] { return ours(true); }),
               mb / Best(5, zlib));
    }
    return argc < 2 ? 2 : 0;
}
