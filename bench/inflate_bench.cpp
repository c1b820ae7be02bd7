// Decodes each corpus file given on the command line, deflated beforehand by
// zlib level 8 (raw, window bits -15, memory level 8), with our inflater (alone
// and with the CRC-32 that verification adds) and with zlib's inflate, best of
// several runs, and prints one line per corpus class in MB/s of output.
#include "zip/crc32.h"
#include "zip/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
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

static double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int main(int argc, char** argv) {
    const int runs = 5;
    if (argc < 2) {
        fprintf(stderr, "usage: inflate_bench corpus-file...\n");
        return 2;
    }
    std::unique_ptr<InflateWork> work(new InflateWork);
    printf("%-16s %8s %12s %9s %9s %9s\n", "class", "input MB", "deflated", "ours", "ours+crc", "zlib");
    for (int a = 1; a < argc; a++) {
        FILE* f = fopen(argv[a], "rb");
        if (f == nullptr) {
            fprintf(stderr, "cannot open %s\n", argv[a]);
            return 2;
        }
        std::vector<uint8_t> in;
        uint8_t piece[65536];
        size_t n;
        while ((n = fread(piece, 1, sizeof piece, f)) > 0)
            in.insert(in.end(), piece, piece + n);
        fclose(f);

        std::vector<uint8_t> deflated(compressBound(in.size()));
        z_stream z{};
        if (deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 1;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = deflated.data();
        z.avail_out = static_cast<uInt>(deflated.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) return 1;
        deflated.resize(z.total_out);
        deflateEnd(&z);
        const uint32_t crc = Crc32Update(0, in.data(), static_cast<uint32_t>(in.size()));

        double best[3] = {1e9, 1e9, 1e9};
        std::vector<uint8_t> out(in.size());
        for (int r = 0; r < runs; r++) {
            for (int withCrc = 0; withCrc < 2; withCrc++) {
                Compressed c{&deflated, 0};
                Decoded d{0, 0, withCrc == 1};
                uint64_t consumed = 0;
                const double t = Seconds();
                const int result = InflateStream(work.get(), InflateInput{&c, NextChunk},
                                                 InflateOutput{&d, TakeDecoded}, &consumed);
                best[withCrc] = std::min(best[withCrc], Seconds() - t);
                if (result != INFLATE_OK || d.size != in.size() || consumed != deflated.size() ||
                    (withCrc && d.crc != crc)) {
                    fprintf(stderr, "%s: our inflater does not give the input back\n", argv[a]);
                    return 1;
                }
            }
            z_stream y{};
            inflateInit2(&y, -15);
            y.next_in = deflated.data();
            y.avail_in = static_cast<uInt>(deflated.size());
            y.next_out = out.data();
            y.avail_out = static_cast<uInt>(out.size());
            const double t = Seconds();
            const int result = inflate(&y, Z_FINISH);
            best[2] = std::min(best[2], Seconds() - t);
            inflateEnd(&y);
            if (result != Z_STREAM_END) return 1;
        }
        std::string name = argv[a];
        const size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        const double mb = in.size() / 1e6;
        printf("%-16s %8.2f %12zu %9.1f %9.1f %9.1f\n", name.c_str(), mb, deflated.size(), mb / best[0],
               mb / best[1], mb / best[2]);
    }
    return 0;
}
