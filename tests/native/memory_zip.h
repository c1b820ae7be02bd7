// Test-only stand-in for the container's primitives: a memory source read in
// chosen piece sizes, a memory sink that can fail on demand, and a heap whose
// allocation can be made to fail. Deflates whole buffers for the tests.
#pragma once

#include "zip/zip_archive.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace memzip {

struct Harness {
    std::vector<uint8_t> input;
    size_t inputPos = 0;
    std::function<uint32_t(uint32_t asked)> readSize; // piece sizes; null: as asked
    size_t failReadAt = SIZE_MAX;                     // a read reaching this input offset fails
    std::vector<uint8_t> output;
    size_t failWriteAt = SIZE_MAX; // a write reaching this output size fails
    uint32_t writeError = ZIP_ERR_WRITE;
    uint32_t writeCalls = 0;
};

// The next ZipAlloc calls fail while this is set.
void FailAllocations(bool fail);

struct Result {
    std::vector<uint8_t> output;
    uint32_t error = 0;
    uint32_t dataWritten = 0;
    uint32_t bytesRead = 0;
    uint32_t crc = 0;
    uint16_t flags = 0;
};

// An archive whose source and sink are the harness; its compressor state stays
// between entries until FreeArchive.
ZipArchive* NewArchive();
void FreeArchive(ZipArchive* archive);
// Deflates harness.input as one entry of archive.
Result DeflateWith(ZipArchive* archive, Harness& harness);
// Deflates bytes as one entry of a fresh archive.
Result Deflate(const std::vector<uint8_t>& bytes);

// zlib's raw inflate; false when the stream is invalid or does not end exactly.
bool Inflate(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& out);

} // namespace memzip
