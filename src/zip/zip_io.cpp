// The sink and source primitives of the archive (file handles and memory),
// the encipherment of entry data on its way out, and the archiver's heap.
#include <windows.h>

#include "zip/crc32.h"
#include "zip/zip_archive.h"
#include "zip/zip_crypt.h"

#include <cstring>

namespace {

// A growing memory sink doubles its block (from 64 KiB) up to its limit, so
// that an entry takes memory after its size, not after its reservation.
bool GrowSink(ZipArchive* archive, uint64_t needed) {
    if (!(archive->stateFlags & ZIP_SINK_GROWS) || needed > archive->memLimit) return false;
    uint64_t capacity = uint64_t(archive->memCapacity) * 2;
    if (capacity < 65536) capacity = 65536;
    if (capacity < needed) capacity = needed;
    if (capacity > archive->memLimit) capacity = archive->memLimit;
    uint8_t* grown = static_cast<uint8_t*>(ZipAlloc(static_cast<uint32_t>(capacity)));
    if (grown == nullptr) {
        archive->error = ZIP_ERR_NOMEM;
        return false;
    }
    if (archive->sink != nullptr) std::memcpy(grown, archive->sink, archive->memCapacity);
    ZipFree(archive->sink);
    archive->sink = grown;
    archive->memCapacity = static_cast<uint32_t>(capacity);
    return true;
}

// Every byte that reaches the sink is counted here, so that bytesWritten is
// always the sink's true position: an entry that fails half-way leaves its
// bytes behind, and the next entry's recorded offset must lie after them.
void SinkWrite(ZipArchive* archive, const uint8_t* bytes, uint32_t count) {
    if (archive->stateFlags & ZIP_SINK_MEMORY) {
        // The last byte of the block is never written: the sink holds at
        // most capacity - 1 bytes.
        if (uint64_t(archive->memPosition) + count >= archive->memCapacity &&
            !GrowSink(archive, uint64_t(archive->memPosition) + count + 1)) {
            if (archive->error == ZIP_OK) archive->error = ZIP_ERR_MEMSIZE;
            return;
        }
        std::memcpy(static_cast<uint8_t*>(archive->sink) + archive->memPosition, bytes, count);
        archive->memPosition += count;
        archive->bytesWritten += count;
        return;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(archive->sink, bytes, count, &written, nullptr);
    archive->bytesWritten += written;
    if (!ok || written != count) archive->error = ZIP_ERR_WRITE;
}

// The scratch buffer only grows, to twice the longest run seen, so that a
// stream of equal runs allocates once.
uint8_t* CipherScratch(ZipArchive* archive, uint32_t count) {
    if (count <= archive->cryptCapacity) return archive->cryptBuffer;
    const uint64_t capacity = uint64_t(count) * 2;
    void* grown = capacity <= 0xFFFFFFFFu ? ZipAlloc(static_cast<uint32_t>(capacity)) : nullptr;
    if (grown == nullptr) {
        archive->error = ZIP_ERR_NOMEM;
        return nullptr;
    }
    ZipFree(archive->cryptBuffer);
    archive->cryptBuffer = static_cast<uint8_t*>(grown);
    archive->cryptCapacity = static_cast<uint32_t>(capacity);
    return archive->cryptBuffer;
}

} // namespace

//--- heap

void* ZipAlloc(uint32_t size) {
    return GlobalAlloc(GPTR, size);
}

void ZipFree(void* block) {
    if (block != nullptr) GlobalFree(block);
}

//--- source

uint32_t ZipReadSource(ZipArchive* archive, uint8_t* buffer, uint32_t count) {
    if (archive->error != 0 || count == 0) return 0;
    uint32_t got = 0;
    if (archive->stateFlags & ZIP_SOURCE_MEMORY) {
        const uint32_t left = archive->memSourceLength - archive->memSourcePosition;
        got = count < left ? count : left;
        std::memcpy(buffer, static_cast<const uint8_t*>(archive->source) + archive->memSourcePosition, got);
        archive->memSourcePosition += got;
    } else {
        DWORD read = 0;
        if (!ReadFile(archive->source, buffer, count, &read, nullptr)) {
            // A pipe whose writer has finished reports a broken pipe: that
            // is the end of the source, not a failure.
            const DWORD cause = GetLastError();
            if (cause != ERROR_BROKEN_PIPE && cause != ERROR_HANDLE_EOF) {
                archive->error = ZIP_ERR_READ;
                return 0;
            }
            read = 0;
        }
        got = read;
    }
    archive->bytesRead += got;
    archive->crc = Crc32Update(archive->crc, buffer, got);
    archive->progressDone += got;
    if (archive->progress != nullptr && got != 0)
        archive->progress(archive->progressContext, archive->progressDone, archive->progressTotal);
    return got;
}

//--- sink

void ZipWriteBytes(ZipArchive* archive, const uint8_t* bytes, uint32_t count) {
    if (count == 0 || archive->error != 0) return;
    if (!(archive->stateFlags & ZIP_ENCIPHERING)) {
        SinkWrite(archive, bytes, count);
        return;
    }
    uint8_t* scratch = CipherScratch(archive, count);
    if (scratch == nullptr) return;
    for (uint32_t i = 0; i < count; ++i)
        scratch[i] = ZipCryptEncipher(archive->keys, bytes[i]);
    SinkWrite(archive, scratch, count);
}

void ZipWriteUInt16(ZipArchive* archive, uint16_t value) {
    if (archive->error != 0) return;
    uint8_t pair[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
    if (archive->stateFlags & ZIP_ENCIPHERING) {
        pair[0] = ZipCryptEncipher(archive->keys, pair[0]);
        pair[1] = ZipCryptEncipher(archive->keys, pair[1]);
    }
    SinkWrite(archive, pair, 2);
}

int ZipSeek(ZipArchive* archive, uint64_t offset) {
    if (!(archive->stateFlags & ZIP_SINK_SEEKABLE)) {
        archive->error = ZIP_ERR_SEEK;
        return 0;
    }
    if (archive->stateFlags & ZIP_SINK_MEMORY) {
        if (offset >= archive->memCapacity) {
            archive->error = ZIP_ERR_MEMSIZE;
            return 0;
        }
        archive->memPosition = static_cast<uint32_t>(offset);
        return 1;
    }
    const uint64_t position = offset + archive->baseOffset;
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(NO_ERROR);
    const DWORD low =
        SetFilePointer(archive->sink, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        archive->error = ZIP_ERR_SEEK;
        return 0;
    }
    return 1;
}
