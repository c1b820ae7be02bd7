// Test-only container primitives over memory (see memory_zip.h).
#include "memory_zip.h"

#include "zip/crc32.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

namespace memzip {

static bool failAllocations = false;

void FailAllocations(bool fail) {
    failAllocations = fail;
}

ZipArchive* NewArchive() {
    return static_cast<ZipArchive*>(ZipAlloc(sizeof(ZipArchive)));
}

void FreeArchive(ZipArchive* archive) {
    if (archive == nullptr) return;
    DeflateFree(archive->deflate);
    ZipFree(archive);
}

Result DeflateWith(ZipArchive* archive, Harness& harness) {
    archive->source = &harness;
    archive->sink = &harness;
    archive->error = 0;
    archive->dataWritten = 0;
    archive->bytesRead = 0;
    archive->crc = 0;
    harness.inputPos = 0;
    harness.output.clear();
    harness.writeCalls = 0;
    ZipEntry entry{};
    DeflateEntry(archive, &entry);
    Result result;
    result.output = harness.output;
    result.error = archive->error;
    result.dataWritten = archive->dataWritten;
    result.bytesRead = archive->bytesRead;
    result.crc = archive->crc;
    result.flags = entry.flags;
    return result;
}

Result Deflate(const std::vector<uint8_t>& bytes) {
    Harness harness;
    harness.input = bytes;
    ZipArchive* archive = NewArchive();
    Result result = DeflateWith(archive, harness);
    FreeArchive(archive);
    return result;
}

bool Inflate(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.clear();
    std::vector<uint8_t> piece(1 << 16);
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    int rc;
    do {
        z.next_out = piece.data();
        z.avail_out = static_cast<uInt>(piece.size());
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), piece.data(), piece.data() + (piece.size() - z.avail_out));
    } while (rc == Z_OK);
    const bool ended = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ended;
}

} // namespace memzip

using memzip::Harness;

uint32_t ZipReadSource(ZipArchive* archive, uint8_t* buffer, uint32_t count) {
    Harness& h = *static_cast<Harness*>(archive->source);
    if (archive->error != 0) return 0;
    size_t n = count;
    if (h.readSize && n > 0) {
        n = h.readSize(count);
        if (n == 0 || n > count) n = count;
    }
    if (n > h.input.size() - h.inputPos) n = h.input.size() - h.inputPos;
    if (h.failReadAt != SIZE_MAX && h.inputPos + n >= h.failReadAt) {
        archive->error = ZIP_ERR_READ;
        return 0;
    }
    if (n > 0) memcpy(buffer, h.input.data() + h.inputPos, n);
    h.inputPos += n;
    archive->bytesRead += static_cast<uint32_t>(n);
    archive->crc = Crc32Update(archive->crc, buffer, static_cast<uint32_t>(n));
    return static_cast<uint32_t>(n);
}

void ZipWriteBytes(ZipArchive* archive, const uint8_t* bytes, uint32_t count) {
    Harness& h = *static_cast<Harness*>(archive->sink);
    if (count == 0 || archive->error != 0) return;
    h.writeCalls++;
    if (h.failWriteAt != SIZE_MAX && h.output.size() + count >= h.failWriteAt) {
        archive->error = h.writeError;
        return;
    }
    h.output.insert(h.output.end(), bytes, bytes + count);
}

void ZipWriteUInt16(ZipArchive* archive, uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    ZipWriteBytes(archive, bytes, 2);
}

int ZipSeek(ZipArchive*, uint32_t) {
    return 0;
}

void* ZipAlloc(uint32_t size) {
    return memzip::failAllocations ? nullptr : calloc(1, size);
}

void ZipFree(void* block) {
    free(block);
}
