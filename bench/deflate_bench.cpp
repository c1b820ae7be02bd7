// Compresses each corpus file given on the command line with our compressor and
// with zlib level 8 (raw deflate, window bits -15, memory level 8), the two
// interleaved, best of several runs (5, or N with --runs N), and prints one line
// per corpus class.
// Our output is checked by inflating it with zlib once per class. Neither side
// computes the entry's CRC-32: the figures compare the compressors alone.
// With --fixed it prints, for the native tests' fixed inputs, our output's size
// and CRC-32 and zlib level 8's size: the constants those tests hold.
#include "deflate_inputs.h"
#include "zip/crc32.h"
#include "zip/zip_archive.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

//--- the container primitives, over memory
struct MemoryIo {
    const uint8_t* input;
    uint32_t inputLength;
    uint32_t inputPos;
    uint8_t* output;
    uint32_t outputCapacity;
    uint32_t outputLength;
};

uint32_t ZipReadSource(ZipArchive* archive, uint8_t* buffer, uint32_t count) {
    MemoryIo& io = *static_cast<MemoryIo*>(archive->source);
    uint32_t n = io.inputLength - io.inputPos;
    if (n > count) n = count;
    memcpy(buffer, io.input + io.inputPos, n);
    io.inputPos += n;
    archive->bytesRead += n;
    return n;
}

void ZipWriteBytes(ZipArchive* archive, const uint8_t* bytes, uint32_t count) {
    MemoryIo& io = *static_cast<MemoryIo*>(archive->sink);
    if (count == 0 || archive->error != 0) return;
    if (count > io.outputCapacity - io.outputLength) {
        archive->error = ZIP_ERR_MEMSIZE;
        return;
    }
    memcpy(io.output + io.outputLength, bytes, count);
    io.outputLength += count;
}

void* ZipAlloc(uint32_t size) {
    return calloc(1, size);
}
void ZipFree(void* block) {
    free(block);
}

//--- the two compressors

// Our compressor, as the container calls it for one entry.
static uint32_t DeflateOurs(ZipArchive* archive, const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    MemoryIo io{in.data(),  static_cast<uint32_t>(in.size()),  0,
                out.data(), static_cast<uint32_t>(out.size()), 0};
    archive->source = &io;
    archive->sink = &io;
    archive->error = 0;
    archive->bytesRead = 0;
    archive->crc = 0;
    archive->dataWritten = 0;
    ZipEntry entry{};
    DeflateEntry(archive, &entry);
    if (archive->error != 0 || archive->dataWritten != io.outputLength) {
        fprintf(stderr, "our compressor failed: error %u\n", archive->error);
        exit(1);
    }
    return io.outputLength;
}

// zlib as a zip writer would call it for one entry.
static uint32_t DeflateZlib(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    z_stream z{};
    if (deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) exit(1);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) exit(1);
    const uint32_t size = static_cast<uint32_t>(z.total_out);
    deflateEnd(&z);
    return size;
}

static bool InflatesTo(const std::vector<uint8_t>& compressed, uint32_t size,
                       const std::vector<uint8_t>& original) {
    std::vector<uint8_t> out(original.size() + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = size;
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool same = rc == Z_STREAM_END && z.total_out == original.size() &&
                      memcmp(out.data(), original.data(), original.size()) == 0;
    inflateEnd(&z);
    return same;
}

// The native tests' reference figures for their fixed inputs.
static int PrintFixed(ZipArchive* archive) {
    printf("%-16s %8s %10s %10s %10s\n", "input", "bytes", "ours", "ours CRC", "zlib -8");
    for (const deflate_inputs::Input& input : deflate_inputs::FixedInputs()) {
        const std::vector<uint8_t>& in = input.bytes;
        std::vector<uint8_t> ours(in.size() + in.size() / 8 + 1024), theirs(compressBound(in.size()));
        const uint32_t ourSize = DeflateOurs(archive, in, ours);
        const uint32_t zlibSize = DeflateZlib(in, theirs);
        if (!InflatesTo(ours, ourSize, in)) {
            fprintf(stderr, "%s: our output does not inflate to the input\n", input.name);
            return 1;
        }
        printf("%-16s %8zu %10u 0x%08X %10u\n", input.name, in.size(), ourSize,
               Crc32Update(0, ours.data(), ourSize), zlibSize);
    }
    return 0;
}

static double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int main(int argc, char** argv) {
    int runs = 5;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--runs") == 0) {
        runs = atoi(argv[2]);
        first = 3;
    }
    if (first >= argc || runs < 1) {
        fprintf(stderr, "usage: deflate_bench [--runs N] corpus-file... | deflate_bench --fixed\n");
        return 2;
    }
    ZipArchive* archive = static_cast<ZipArchive*>(ZipAlloc(sizeof(ZipArchive)));
    if (strcmp(argv[first], "--fixed") == 0) {
        const int status = PrintFixed(archive);
        DeflateFree(archive->deflate);
        ZipFree(archive);
        return status;
    }
    printf("%-16s %8s %12s %12s %8s %9s %9s %8s\n", "class", "input MB", "ours", "zlib -8", "size",
           "ours MB/s", "zlib MB/s", "speed");
    bool met = true;
    for (int a = first; a < argc; a++) {
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

        std::vector<uint8_t> ours(in.size() + in.size() / 8 + 1024), theirs(compressBound(in.size()));
        uint32_t ourSize = 0, zlibSize = 0;
        double ourBest = 1e9, zlibBest = 1e9;
        for (int r = 0; r < runs; r++) {
            double t = Seconds();
            ourSize = DeflateOurs(archive, in, ours);
            ourBest = std::min(ourBest, Seconds() - t);
            t = Seconds();
            zlibSize = DeflateZlib(in, theirs);
            zlibBest = std::min(zlibBest, Seconds() - t);
        }
        if (!InflatesTo(ours, ourSize, in)) {
            fprintf(stderr, "%s: our output does not inflate to the input\n", argv[a]);
            return 1;
        }
        std::string name = argv[a];
        const size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        const double mb = in.size() / 1e6;
        const double sizeRatio = static_cast<double>(ourSize) / zlibSize;
        const double speedRatio = zlibBest / ourBest;
        printf("%-16s %8.2f %12u %12u %8.4f %9.2f %9.2f %8.3f\n", name.c_str(), mb, ourSize, zlibSize,
               sizeRatio, mb / ourBest, mb / zlibBest, speedRatio);
        if (sizeRatio > 1.01 || speedRatio < 1.0) met = false;
    }
    printf("targets (size <= 1.01 x zlib, speed >= zlib): %s\n", met ? "met" : "NOT met");
    DeflateFree(archive->deflate);
    ZipFree(archive);
    return 0;
}
