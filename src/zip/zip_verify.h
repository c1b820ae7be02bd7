// The archive verifier: reads a written archive back and checks that it holds
// exactly the entries the writer meant, each decoding to the bytes it read.
// Plain C++ (ZipVerifyArchiveFile, over a Windows file, excepted).
#pragma once

#include <cstdint>

// clang-format off
struct ZipVerifyExpected {   // what the writer learnt of one entry while reading its source
    const char* name;        // the name as stored in the archive (bytes), nameLength bytes, not necessarily terminated
    uint32_t nameLength;
    uint32_t crc32;          // of the source bytes read
    uint64_t size;           // source bytes read
};
struct ZipVerifyReader {     // random access to the archive's bytes
    void* context;
    int64_t (*read)(void* context, uint64_t offset, uint8_t* buffer, uint32_t count); // bytes read, -1 on failure
    uint64_t size;           // the archive's length in bytes
};
// clang-format on

// ZIP_OK when the archive holds exactly these entries, in this order, each
// decoding to its size and CRC-32; ZIP_ERR_VERIFY when anything differs;
// ZIP_ERR_NOMEM, ZIP_ERR_READ (ZIP_ERR_ARGS for a missing reader or list).
int ZipVerifyArchive(const ZipVerifyReader* reader, const ZipVerifyExpected* expected, uint32_t count);

// The same over the file at path, opened for reading with write sharing
// refused (Windows; ZIP_ERR_OPEN when it cannot be opened).
int ZipVerifyArchiveFile(const wchar_t* path, const ZipVerifyExpected* expected, uint32_t count);
// The same through the open handle (readable) that wrote the archive.
int ZipVerifyArchiveHandle(void* file, const ZipVerifyExpected* expected, uint32_t count);
