// The zip container: opening an archive on its sink, adding entries (local
// header, data, header rewrite or data descriptor), and closing it with the
// central directory and its end records. Zip64 fields and records appear only
// where a size, an offset or the entry count needs them, so an archive that
// needs none stays what the format's first readers can read.
#include <windows.h>

#include "platform/wide_files.h"
#include "zip/zip.h"
#include "zip/zip_crypt.h"
#include "zip/zip_names.h"
#include "zip/zip_time.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr uint32_t LOCAL_HEADER_SIGNATURE = 0x04034B50;
constexpr uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014B50;
constexpr uint32_t END_RECORD_SIGNATURE = 0x06054B50;
constexpr uint32_t ZIP64_END_RECORD_SIGNATURE = 0x06064B50;
constexpr uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064B50;
constexpr uint32_t DESCRIPTOR_SIGNATURE = 0x08074B50;
constexpr uint32_t LOCAL_HEADER_SIZE = 30;
constexpr uint32_t CENTRAL_HEADER_SIZE = 46;
constexpr uint32_t END_RECORD_SIZE = 22;
constexpr uint32_t ZIP64_END_RECORD_SIZE = 56;
constexpr uint32_t ZIP64_LOCATOR_SIZE = 20;
constexpr uint32_t DESCRIPTOR_SIZE = 16;
constexpr uint32_t ZIP64_DESCRIPTOR_SIZE = 24;
constexpr uint16_t ZIP64_FIELD_TAG = 0x0001;
constexpr uint16_t VERSION_NEEDED = 20;
constexpr uint16_t VERSION_NEEDED_ZIP64 = 45;
constexpr uint16_t VERSION_MADE_BY = 0x0B17;
constexpr uint16_t VERSION_MADE_BY_ZIP64 = 0x0B2D;
constexpr uint16_t METHOD_STORED = 0;
constexpr uint16_t METHOD_DEFLATED = 8;
constexpr uint16_t FLAG_ENCIPHERED = 0x0001;
constexpr uint16_t FLAG_DESCRIPTOR = 0x0008;
constexpr uint16_t FLAG_UTF8 = 0x0800;
constexpr uint32_t ATTRIBUTES_UNPROBED = 0x80000000u;
constexpr uint32_t ATTRIBUTES_FOLDER = 0x41C00010u;
// A 32-bit field holding all ones, or a 16-bit count holding 0xFFFF, sends
// readers to the Zip64 records: such values are always written there.
constexpr uint64_t ESCAPE32 = 0xFFFFFFFFu;
constexpr uint32_t ESCAPE16 = 0xFFFF;
// The name's length field has 16 bits.
constexpr uint32_t NAME_LIMIT = 0xFFFF;
// Deflated data may exceed its source by up to an eighth (a block of
// nine-bit literals), so a source from this size on may need Zip64 sizes.
constexpr uint64_t DEFLATED_ZIP64_FROM = ESCAPE32 / 9 * 8;

const char* const storedSuffixes[] = {".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};

// What is known of a source before its data is read.
struct SourceInfo {
    uint64_t announcedSize;
    uint64_t lastWrite; // FILETIME value; 0 for sources that are not files
    uint32_t externalAttributes;
    uint16_t dosTime, dosDate;
    uint32_t modified, accessed, created; // Unix seconds
};

// A name or a path as the caller gave it: ANSI or wide.
struct Text {
    const char* narrow;
    const wchar_t* wide;
    bool empty() const { return narrow != nullptr ? *narrow == '\0' : wide == nullptr || *wide == L'\0'; }
};

void PutUInt16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutUInt32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutUInt64(uint8_t* at, uint64_t value) {
    PutUInt32(at, static_cast<uint32_t>(value));
    PutUInt32(at + 4, static_cast<uint32_t>(value >> 32));
}

// The 32-bit field's value: the size itself, or the escape when it lives in
// the Zip64 field.
uint32_t Field32(uint64_t value) {
    return value >= ESCAPE32 ? static_cast<uint32_t>(ESCAPE32) : static_cast<uint32_t>(value);
}

ZipCivilTime CivilTime(const SYSTEMTIME& time) {
    return ZipCivilTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

uint64_t FileTimeValue(const FILETIME& time) {
    return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Local wall-clock time, counted as if it were UTC, for sources without times
// of their own (memory, unprobed handles, folder entries).
void TimesFromClock(SourceInfo* info) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME asFileTime = {};
    SystemTimeToFileTime(&now, &asFileTime);
    info->dosDate = ZipDosDate(CivilTime(now));
    info->dosTime = ZipDosTime(CivilTime(now));
    info->modified = info->accessed = info->created = ZipUnixSeconds(FileTimeValue(asFileTime));
}

// A file's UTC stamps are taken as they are, without conversion to local time.
void TimesFromFile(const WideFileFacts& file, SourceInfo* info) {
    SYSTEMTIME written = {};
    if (!FileTimeToSystemTime(&file.written, &written)) written = SYSTEMTIME{1980, 1, 0, 1, 0, 0, 0, 0};
    info->dosDate = ZipDosDate(CivilTime(written));
    info->dosTime = ZipDosTime(CivilTime(written));
    info->modified = ZipUnixSeconds(FileTimeValue(file.written));
    info->accessed = ZipUnixSeconds(FileTimeValue(file.accessed));
    info->created = ZipUnixSeconds(FileTimeValue(file.created));
    info->lastWrite = FileTimeValue(file.written);
}

uint32_t UnixModeOf(DWORD attributes) {
    uint32_t mode = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0040000 : 0100000;
    mode |= 0400;
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) mode |= 0200;
    return mode;
}

// Reads the position, attributes, size and times of an open source. Only a
// disk file is probed: a pipe may report a position of 0 and a size of 0
// without having either.
int ProbeSource(ZipArchive* archive, HANDLE source, uint32_t length, SourceInfo* info) {
    LONG high = 0;
    DWORD low = INVALID_SET_FILE_POINTER;
    bool positioned = false;
    if (GetFileType(source) == FILE_TYPE_DISK) {
        SetLastError(NO_ERROR);
        low = SetFilePointer(source, 0, &high, FILE_CURRENT);
        positioned = low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
    }
    if (!positioned) {
        archive->sourceStart = 0;
        info->announcedSize = length != 0 ? length : ZIP_UNKNOWN_SIZE;
        info->externalAttributes = ATTRIBUTES_UNPROBED;
        TimesFromClock(info);
        return ZIP_OK;
    }
    archive->sourceStart = (uint64_t(uint32_t(high)) << 32) | low;
    archive->stateFlags |= ZIP_SOURCE_PROBED;
    WideFileFacts file;
    if (!WideFileFactsOf(source, &file)) return ZIP_ERR_OPEN;
    // The data is read from the current position, so only what lies after it
    // is announced.
    info->announcedSize = file.size > archive->sourceStart ? file.size - archive->sourceStart : 0;
    info->externalAttributes = (file.attributes & 0x37) | (UnixModeOf(file.attributes) << 16);
    TimesFromFile(file, info);
    return ZIP_OK;
}

// A file that was written to while it was read may hold other bytes than
// the archive now does: its last-write time is then forgotten, so that
// nobody takes the archive for a copy of it.
void NoteChangeWhileRead(ZipArchive* archive) {
    if (!(archive->stateFlags & ZIP_SOURCE_PROBED) || (archive->stateFlags & ZIP_SOURCE_MEMORY)) return;
    WideFileFacts file;
    if (!WideFileFactsOf(archive->source, &file) || FileTimeValue(file.written) != archive->sourceLastWrite ||
        file.size != archive->sourceStart + archive->bytesRead) {
        archive->sourceLastWrite = 0;
    }
}

// Takes the entry's source according to its kind. On success the archive
// holds the source (and owns it when flag 0x40 is set).
int TakeSource(ZipArchive* archive, const void* source, Text path, uint32_t length, int kind,
               SourceInfo* info) {
    if (kind == ZIP_KIND_FOLDER) {
        info->announcedSize = 0;
        info->externalAttributes = ATTRIBUTES_FOLDER;
        TimesFromClock(info);
        return ZIP_OK;
    }
    if (kind == ZIP_KIND_FILE) {
        if (source == nullptr) return ZIP_ERR_ARGS;
        HANDLE file = path.wide != nullptr ? WideOpenFile(path.wide, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)
                                           : CreateFileA(path.narrow, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return ZIP_ERR_OPEN;
        archive->source = file;
        archive->stateFlags |= ZIP_SOURCE_OWNED;
        return ProbeSource(archive, file, 0, info);
    }
    if (kind == ZIP_KIND_HANDLE) {
        HANDLE handle = const_cast<void*>(source);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return ZIP_ERR_ARGS;
        archive->source = handle;
        return ProbeSource(archive, handle, length, info);
    }
    if (source == nullptr || length == 0 || IsBadReadPtr(source, length)) return ZIP_ERR_ARGS;
    archive->source = const_cast<void*>(source);
    archive->memSourceLength = length;
    archive->memSourcePosition = 0;
    archive->stateFlags |= ZIP_SOURCE_MEMORY | ZIP_SOURCE_PROBED;
    info->announcedSize = length;
    info->externalAttributes = ATTRIBUTES_UNPROBED;
    TimesFromClock(info);
    return ZIP_OK;
}

void ReleaseSource(ZipArchive* archive) {
    if (archive->stateFlags & ZIP_SOURCE_OWNED) CloseHandle(archive->source);
    archive->source = nullptr;
    archive->stateFlags &= ~(ZIP_ENCIPHERING | ZIP_SOURCE_PROBED | ZIP_SOURCE_OWNED | ZIP_SOURCE_MEMORY);
}

// The header goes out in three writes (fields, name, extra fields) rather
// than field by field: one system call each.
void WriteLocalHeader(ZipArchive* archive, const ZipEntry* entry) {
    uint8_t header[LOCAL_HEADER_SIZE];
    PutUInt32(header, LOCAL_HEADER_SIGNATURE);
    PutUInt16(header + 4, entry->zip64Local ? VERSION_NEEDED_ZIP64 : VERSION_NEEDED);
    PutUInt16(header + 6, entry->localFlags);
    PutUInt16(header + 8, entry->method);
    PutUInt16(header + 10, entry->dosTime);
    PutUInt16(header + 12, entry->dosDate);
    PutUInt32(header + 14, entry->crc32);
    PutUInt32(header + 18, entry->zip64Local ? ESCAPE32 : static_cast<uint32_t>(entry->compressedSize));
    PutUInt32(header + 22, entry->zip64Local ? ESCAPE32 : static_cast<uint32_t>(entry->uncompressedSize));
    PutUInt16(header + 26, entry->nameLength);
    PutUInt16(header + 28, ZIP_LOCAL_EXTRA_SIZE + (entry->zip64Local ? ZIP_ZIP64_LOCAL_SIZE : 0));
    ZipWriteBytes(archive, header, LOCAL_HEADER_SIZE);
    ZipWriteBytes(archive, reinterpret_cast<const uint8_t*>(entry->name), entry->nameLength);
    uint8_t extra[ZIP_ZIP64_LOCAL_SIZE + ZIP_LOCAL_EXTRA_SIZE];
    uint32_t extraLength = 0;
    if (entry->zip64Local) {
        // Both sizes, as far as they are known when the header is written.
        PutUInt16(extra, ZIP64_FIELD_TAG);
        PutUInt16(extra + 2, 16);
        PutUInt64(extra + 4, entry->uncompressedSize == ZIP_UNKNOWN_SIZE ? 0 : entry->uncompressedSize);
        PutUInt64(extra + 12, entry->compressedSize);
        extraLength = ZIP_ZIP64_LOCAL_SIZE;
    }
    std::memcpy(extra + extraLength, entry->localExtra, ZIP_LOCAL_EXTRA_SIZE);
    ZipWriteBytes(archive, extra, extraLength + ZIP_LOCAL_EXTRA_SIZE);
}

void WriteDataDescriptor(ZipArchive* archive, const ZipEntry* entry) {
    uint8_t descriptor[ZIP64_DESCRIPTOR_SIZE];
    PutUInt32(descriptor, DESCRIPTOR_SIGNATURE);
    PutUInt32(descriptor + 4, entry->crc32);
    // Readers take the sizes as 64-bit when the local header has a Zip64 field.
    if (entry->zip64Local) {
        PutUInt64(descriptor + 8, entry->compressedSize);
        PutUInt64(descriptor + 16, entry->uncompressedSize);
        ZipWriteBytes(archive, descriptor, ZIP64_DESCRIPTOR_SIZE);
        return;
    }
    PutUInt32(descriptor + 8, static_cast<uint32_t>(entry->compressedSize));
    PutUInt32(descriptor + 12, static_cast<uint32_t>(entry->uncompressedSize));
    ZipWriteBytes(archive, descriptor, DESCRIPTOR_SIZE);
}

// The 12-byte header goes out enciphered in one run; from then on the
// entry's data is enciphered as it is written.
void WriteCipherHeader(ZipArchive* archive, const ZipEntry* entry) {
    static bool seeded = false;
    if (!seeded) {
        LARGE_INTEGER counter = {};
        QueryPerformanceCounter(&counter);
        ZipCryptSeed(uint64_t(counter.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32) ^ GetTickCount());
        seeded = true;
    }
    uint8_t header[ZIP_CRYPT_HEADER_SIZE];
    // With a data descriptor the check byte is the high byte of the DOS time.
    ZipCryptMakeHeader(header, static_cast<uint8_t>(entry->dosTime >> 8));
    ZipCryptInitKeys(archive->keys, archive->password);
    for (uint8_t& byte : header)
        byte = ZipCryptEncipher(archive->keys, byte);
    ZipWriteBytes(archive, header, ZIP_CRYPT_HEADER_SIZE);
    archive->stateFlags |= ZIP_ENCIPHERING;
}

void Store(ZipArchive* archive) {
    for (;;) {
        const uint32_t got = ZipReadSource(archive, archive->ioBuffer, ZIP_IO_BUFFER_SIZE);
        if (got == 0) return;
        if (archive->error == 0) {
            ZipWriteBytes(archive, archive->ioBuffer, got);
            archive->dataWritten += got;
        }
    }
}

// Puts the entry's stored name into the archive's name buffer: UTF-8 (from
// the ANSI code page or from wide text), slashes for backslashes, a final
// slash for a folder. Sets flag 0x0800 when the name is not plain ASCII.
int StoreName(ZipArchive* archive, ZipEntry* entry, Text name, bool folder) {
    if (name.empty()) return ZIP_ERR_ARGS;
    // Every byte or unit of the text gives at least one byte of the name.
    size_t length = name.wide != nullptr ? std::wcslen(name.wide) : std::strlen(name.narrow);
    if (length > NAME_LIMIT) return ZIP_ERR_TOOBIG;
    wchar_t* converted = nullptr;
    const wchar_t* wide = name.wide;
    if (wide == nullptr && !ZipNameIsAscii(name.narrow, length)) {
        const int units = MultiByteToWideChar(CP_ACP, 0, name.narrow, static_cast<int>(length), nullptr, 0);
        converted = units > 0 ? static_cast<wchar_t*>(ZipAlloc(uint32_t(units) * sizeof(wchar_t))) : nullptr;
        if (converted == nullptr) return ZIP_ERR_NOMEM;
        MultiByteToWideChar(CP_ACP, 0, name.narrow, static_cast<int>(length), converted, units);
        wide = converted;
        length = static_cast<size_t>(units);
    }
    // Three UTF-8 bytes at most per UTF-16 unit, a final slash and a zero.
    int result = ZipGrowBlock(reinterpret_cast<void**>(&archive->nameBuffer), &archive->nameCapacity,
                              3 * length + 2, 1)
                     ? ZIP_OK
                     : ZIP_ERR_NOMEM;
    int64_t stored = 0;
    if (result == ZIP_OK && wide != nullptr) {
        stored = ZipNameFromUtf16(wide, length, archive->nameBuffer, archive->nameCapacity - 2);
        if (stored < 0) result = ZIP_ERR_ARGS;
    } else if (result == ZIP_OK) {
        std::memcpy(archive->nameBuffer, name.narrow, length);
        stored = static_cast<int64_t>(length);
    }
    ZipFree(converted);
    if (result != ZIP_OK) return result;
    char* text = archive->nameBuffer;
    for (int64_t i = 0; i < stored; ++i)
        if (text[i] == '\\') text[i] = '/';
    if (folder && text[stored - 1] != '/') text[stored++] = '/';
    if (stored > NAME_LIMIT) return ZIP_ERR_TOOBIG;
    text[stored] = '\0';
    entry->name = text;
    entry->nameLength = static_cast<uint32_t>(stored);
    if (!ZipNameIsAscii(text, size_t(stored))) entry->flags |= FLAG_UTF8;
    return ZIP_OK;
}

void SetEntryRecords(ZipEntry* entry, const SourceInfo& info) {
    entry->flags |= FLAG_DESCRIPTOR;
    entry->dosTime = info.dosTime;
    entry->dosDate = info.dosDate;
    entry->externalAttributes = info.externalAttributes;
    const uint8_t lead[5] = {'U', 'T', 13, 0, 0x07};
    std::memcpy(entry->localExtra, lead, 5);
    PutUInt32(entry->localExtra + 5, info.modified);
    PutUInt32(entry->localExtra + 9, info.accessed);
    PutUInt32(entry->localExtra + 13, info.created);
    std::memcpy(entry->centralExtra, lead, 5);
    entry->centralExtra[2] = 5;
    PutUInt32(entry->centralExtra + 5, info.modified);
}

// Whether the local header must carry Zip64 sizes: it is written before the
// data, so a source whose size is not known yet gets them, and so does one
// whose data could reach the 32-bit escape.
bool NeedsZip64Local(const ZipEntry* entry, bool folder, uint64_t announced, uint32_t cipherHeader) {
    if (folder) return false;
    if (announced == ZIP_UNKNOWN_SIZE) return true;
    if (entry->method == METHOD_STORED) return announced + cipherHeader >= ESCAPE32;
    return announced >= DEFLATED_ZIP64_FROM;
}

// Appends the entry's central header to the directory being built, and its
// record to the listing. The sizes and the offset that reach the escape go
// into a Zip64 field, in the format's order.
int ListEntry(ZipArchive* archive, const ZipEntry* entry) {
    uint64_t wide[3];
    uint32_t wideCount = 0;
    if (entry->uncompressedSize >= ESCAPE32) wide[wideCount++] = entry->uncompressedSize;
    if (entry->compressedSize >= ESCAPE32) wide[wideCount++] = entry->compressedSize;
    if (entry->localHeaderOffset >= ESCAPE32) wide[wideCount++] = entry->localHeaderOffset;
    const uint32_t zip64Length = wideCount != 0 ? 4 + 8 * wideCount : 0;
    const uint32_t recordLength =
        CENTRAL_HEADER_SIZE + entry->nameLength + zip64Length + ZIP_CENTRAL_EXTRA_SIZE;
    if (archive->entryCount == 0xFFFFFFFFu) return ZIP_ERR_TOOBIG;
    if (!ZipGrowBlock(reinterpret_cast<void**>(&archive->central), &archive->centralCapacity,
                      uint64_t(archive->centralLength) + recordLength, 1) ||
        !ZipGrowBlock(reinterpret_cast<void**>(&archive->listed), &archive->listedCapacity,
                      (uint64_t(archive->entryCount) + 1) * sizeof(ZipListedEntry), 1)) {
        return ZIP_ERR_NOMEM;
    }
    const bool zip64 = entry->zip64Local || wideCount != 0;
    uint8_t* r = archive->central + archive->centralLength;
    PutUInt32(r, CENTRAL_HEADER_SIGNATURE);
    PutUInt16(r + 4, zip64 ? VERSION_MADE_BY_ZIP64 : VERSION_MADE_BY);
    PutUInt16(r + 6, zip64 ? VERSION_NEEDED_ZIP64 : VERSION_NEEDED);
    PutUInt16(r + 8, entry->flags);
    PutUInt16(r + 10, entry->method);
    PutUInt16(r + 12, entry->dosTime);
    PutUInt16(r + 14, entry->dosDate);
    PutUInt32(r + 16, entry->crc32);
    PutUInt32(r + 20, Field32(entry->compressedSize));
    PutUInt32(r + 24, Field32(entry->uncompressedSize));
    PutUInt16(r + 28, entry->nameLength);
    PutUInt16(r + 30, zip64Length + ZIP_CENTRAL_EXTRA_SIZE);
    PutUInt16(r + 32, 0); // comment length
    PutUInt16(r + 34, 0); // disk number start
    PutUInt16(r + 36, 0); // internal attributes
    PutUInt32(r + 38, entry->externalAttributes);
    PutUInt32(r + 42, Field32(entry->localHeaderOffset));
    std::memcpy(r + CENTRAL_HEADER_SIZE, entry->name, entry->nameLength);
    uint8_t* extra = r + CENTRAL_HEADER_SIZE + entry->nameLength;
    if (zip64Length != 0) {
        PutUInt16(extra, ZIP64_FIELD_TAG);
        PutUInt16(extra + 2, 8 * wideCount);
        for (uint32_t i = 0; i < wideCount; ++i)
            PutUInt64(extra + 4 + 8 * i, wide[i]);
    }
    std::memcpy(extra + zip64Length, entry->centralExtra, ZIP_CENTRAL_EXTRA_SIZE);

    ZipListedEntry& listed = archive->listed[archive->entryCount];
    listed.size = entry->uncompressedSize;
    listed.lastWrite = archive->sourceLastWrite;
    listed.fileIndex = archive->sourceIndex;
    archive->sourceIndex = 0;
    listed.crc32 = entry->crc32;
    listed.nameOffset = archive->centralLength + CENTRAL_HEADER_SIZE;
    listed.nameLength = entry->nameLength;
    archive->centralLength += recordLength;
    archive->entryCount += 1;
    return ZIP_OK;
}

// Takes back, on a seekable sink, the bytes of an entry that failed after its
// local header went out. Left in place they would be read as an entry of
// their own by readers that walk the local headers, and a shorter archive
// written over them would leave their end dangling after the end record.
// The entry's error stays in the error field.
void DropFailedEntry(ZipArchive* archive, const ZipEntry* entry) {
    if (!(archive->stateFlags & ZIP_SINK_SEEKABLE)) return;
    const uint32_t failure = archive->error;
    archive->error = ZIP_OK;
    const uint64_t start = entry->localHeaderOffset - archive->baseOffset;
    if (ZipSeek(archive, start)) {
        archive->bytesWritten = start;
        if (!(archive->stateFlags & ZIP_SINK_MEMORY)) SetEndOfFile(archive->sink);
    }
    archive->error = failure;
}

int FailEntry(ZipArchive* archive, const ZipEntry* entry, uint32_t error) {
    archive->error = error;
    DropFailedEntry(archive, entry);
    return static_cast<int>(error);
}

// Writes one entry whose source the archive holds and whose name is in the
// name buffer: from the local header to its place in the central directory.
int WriteEntry(ZipArchive* archive, ZipEntry* entry, bool folder, const SourceInfo& info) {
    SetEntryRecords(entry, info);
    uint32_t cipherHeader = 0;
    if (folder) {
        entry->method = METHOD_STORED;
    } else {
        if (archive->password != nullptr) {
            entry->flags |= FLAG_ENCIPHERED;
            cipherHeader = ZIP_CRYPT_HEADER_SIZE;
        }
        entry->method = ZipHasStoredSuffix(entry->name) ? METHOD_STORED : METHOD_DEFLATED;
    }
    entry->localFlags = entry->flags;
    uint64_t announcedCompressed = 0;
    if (entry->method == METHOD_STORED && info.announcedSize != ZIP_UNKNOWN_SIZE)
        announcedCompressed = info.announcedSize + cipherHeader;
    entry->compressedSize = announcedCompressed;
    entry->uncompressedSize = info.announcedSize;
    entry->zip64Local = NeedsZip64Local(entry, folder, info.announcedSize, cipherHeader);
    entry->localHeaderOffset = archive->bytesWritten + archive->baseOffset;
    archive->sourceLastWrite = info.lastWrite;

    archive->error = ZIP_OK;
    WriteLocalHeader(archive, entry);
    if (cipherHeader != 0 && archive->error == ZIP_OK) WriteCipherHeader(archive, entry);
    if (!folder && archive->error == ZIP_OK) {
        if (entry->method == METHOD_DEFLATED)
            DeflateEntry(archive, entry);
        else
            Store(archive);
    }
    archive->stateFlags &= ~ZIP_ENCIPHERING;
    if (archive->error != ZIP_OK) return FailEntry(archive, entry, archive->error);

    entry->crc32 = archive->crc;
    entry->compressedSize = archive->dataWritten + cipherHeader;
    entry->uncompressedSize = folder ? info.announcedSize : archive->bytesRead;
    // A source that grew past what its header could describe.
    if (!entry->zip64Local && (entry->compressedSize >= ESCAPE32 || entry->uncompressedSize >= ESCAPE32))
        return FailEntry(archive, entry, ZIP_ERR_TOOBIG);
    NoteChangeWhileRead(archive);
    if ((archive->stateFlags & ZIP_SINK_SEEKABLE) && cipherHeader == 0) {
        // Rewrite the local header in place, now complete; the sink's
        // position (and bytesWritten with it) returns to the end afterwards.
        entry->flags &= ~FLAG_DESCRIPTOR;
        entry->localFlags = entry->flags;
        const uint64_t end = archive->bytesWritten;
        archive->bytesWritten = entry->localHeaderOffset - archive->baseOffset;
        if (ZipSeek(archive, archive->bytesWritten)) WriteLocalHeader(archive, entry);
        archive->bytesWritten = end;
        if (archive->error == ZIP_OK) ZipSeek(archive, end);
    } else {
        if (entry->method == METHOD_STORED && entry->compressedSize != announcedCompressed)
            archive->error = ZIP_ERR_STOREDSIZE;
        WriteDataDescriptor(archive, entry);
        entry->flags = entry->localFlags;
    }
    if (archive->error != ZIP_OK) return FailEntry(archive, entry, archive->error);
    const int listed = ListEntry(archive, entry);
    if (listed != ZIP_OK) return FailEntry(archive, entry, listed);
    archive->lastEntry = *entry;
    return ZIP_OK;
}

// name and, for a file, source are ANSI or wide texts as wide says.
int AddEntry(ZipArchive* archive, bool wide, const void* name, const void* source, uint32_t length,
             int kind) {
    if (archive == nullptr) return ZIP_ERR_ARGS;
    if (archive->stateFlags & ZIP_ENDED) return ZIP_ERR_ENDED;
    archive->dataWritten = 0;
    archive->bytesRead = 0;
    archive->crc = 0;
    archive->sourceStart = 0;
    archive->stateFlags &= ~(ZIP_ENCIPHERING | ZIP_SOURCE_PROBED | ZIP_SOURCE_OWNED | ZIP_SOURCE_MEMORY);
    kind &= ~16;
    auto text = [wide](const void* t) {
        return wide ? Text{nullptr, static_cast<const wchar_t*>(t)}
                    : Text{static_cast<const char*>(t), nullptr};
    };
    if (kind != ZIP_KIND_FILE && (name == nullptr || text(name).empty())) return ZIP_ERR_ARGS;
    // A file's path is its name when no other is given.
    const Text path = text(source);
    SourceInfo info = {};
    int result = TakeSource(archive, source, path, length, kind, &info);
    ZipEntry entry = {};
    if (result == ZIP_OK) {
        archive->announcedSize = info.announcedSize;
        result = StoreName(archive, &entry, name != nullptr ? text(name) : path, kind == ZIP_KIND_FOLDER);
    }
    if (result == ZIP_OK) result = WriteEntry(archive, &entry, kind == ZIP_KIND_FOLDER, info);
    ReleaseSource(archive);
    return result;
}

// Writes what closes the archive: the central directory, the Zip64 end
// record and its locator when a count, size or offset needs them, and the
// end record, whose fields that reached their escape send readers to Zip64.
void WriteDirectory(ZipArchive* archive) {
    const uint64_t start = archive->bytesWritten + archive->baseOffset;
    ZipWriteBytes(archive, archive->central, archive->centralLength);
    const uint64_t size = archive->centralLength;
    const uint64_t count = archive->entryCount;
    uint8_t end[ZIP64_END_RECORD_SIZE + ZIP64_LOCATOR_SIZE + END_RECORD_SIZE] = {};
    uint8_t* record = end;
    if (count >= ESCAPE16 || size >= ESCAPE32 || start >= ESCAPE32) {
        const uint64_t recordStart = archive->bytesWritten + archive->baseOffset;
        PutUInt32(record, ZIP64_END_RECORD_SIGNATURE);
        PutUInt64(record + 4, ZIP64_END_RECORD_SIZE - 12); // what follows this field
        PutUInt16(record + 12, VERSION_MADE_BY_ZIP64);
        PutUInt16(record + 14, VERSION_NEEDED_ZIP64);
        PutUInt64(record + 24, count); // disk numbers (both 0) before
        PutUInt64(record + 32, count);
        PutUInt64(record + 40, size);
        PutUInt64(record + 48, start);
        record += ZIP64_END_RECORD_SIZE;
        PutUInt32(record, ZIP64_LOCATOR_SIGNATURE);
        PutUInt64(record + 8, recordStart);
        PutUInt32(record + 16, 1); // disks in all
        record += ZIP64_LOCATOR_SIZE;
    }
    const uint32_t shortCount = count >= ESCAPE16 ? ESCAPE16 : static_cast<uint32_t>(count);
    PutUInt32(record, END_RECORD_SIGNATURE);
    PutUInt16(record + 8, shortCount);
    PutUInt16(record + 10, shortCount);
    PutUInt32(record + 12, Field32(size));
    PutUInt32(record + 16, Field32(start));
    record += END_RECORD_SIZE;
    ZipWriteBytes(archive, end, static_cast<uint32_t>(record - end));
}

// A missing or empty path names no file that could be created: the same
// result as any other path that CreateFileA refuses.
int OpenFileSink(ZipArchive* archive, const char* path) {
    if (path == nullptr || *path == '\0') return ZIP_ERR_OPEN;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ZIP_ERR_OPEN;
    archive->sink = file;
    archive->stateFlags |= ZIP_SINK_OWNED | ZIP_SINK_SEEKABLE;
    return ZIP_OK;
}

// A pipe or console may report a position without being able to go back, so
// only a disk file counts as seekable.
int OpenHandleSink(ZipArchive* archive, HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return ZIP_ERR_ARGS;
    HANDLE process = GetCurrentProcess();
    HANDLE duplicate = nullptr;
    if (DuplicateHandle(process, handle, process, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        archive->sink = duplicate;
        archive->stateFlags |= ZIP_SINK_OWNED;
    } else {
        archive->sink = handle;
    }
    if (GetFileType(archive->sink) != FILE_TYPE_DISK) return ZIP_OK;
    LONG high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(archive->sink, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return ZIP_OK;
    archive->baseOffset = (uint64_t(uint32_t(high)) << 32) | low;
    archive->stateFlags |= ZIP_SINK_SEEKABLE;
    return ZIP_OK;
}

int OpenMemorySink(ZipArchive* archive, void* address, uint32_t size) {
    if (size == 0) return ZIP_ERR_MEMSIZE;
    if (address != nullptr) {
        // The block is written to, so it must be writable, not only readable.
        if (IsBadWritePtr(address, size)) return ZIP_ERR_ARGS;
        archive->sink = address;
    } else {
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, nullptr);
        if (mapping == nullptr) return ZIP_ERR_NOMEM;
        void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
        if (view == nullptr) {
            CloseHandle(mapping);
            return ZIP_ERR_NOMEM;
        }
        archive->mapping = mapping;
        archive->sink = view;
    }
    archive->stateFlags |= ZIP_SINK_MEMORY | ZIP_SINK_SEEKABLE;
    archive->memCapacity = size;
    return ZIP_OK;
}

// Releases everything the archive holds, and the archive itself.
void FreeArchive(ZipArchive* archive) {
    if (archive->mapping != nullptr) {
        UnmapViewOfFile(archive->sink);
        CloseHandle(archive->mapping);
    } else if ((archive->stateFlags & ZIP_SINK_OWNED) && archive->sink != nullptr) {
        CloseHandle(archive->sink);
    } else if (archive->stateFlags & ZIP_SINK_GROWS) {
        ZipFree(archive->sink);
    }
    if (archive->deflate != nullptr) DeflateFree(archive->deflate);
    ZipFree(archive->central);
    ZipFree(archive->listed);
    ZipFree(archive->nameBuffer);
    ZipFree(archive->cryptBuffer);
    ZipFree(archive->password);
    ZipFree(archive);
}

} // namespace

int ZipCreateArchive(ZipArchive** archive, void* target, uint32_t size, int kind, const char* password) {
    if (archive == nullptr) return ZIP_ERR_ARGS;
    *archive = nullptr;
    kind &= ~16;
    if (kind != ZIP_KIND_FILE && kind != ZIP_KIND_HANDLE && kind != ZIP_KIND_MEMORY) return ZIP_ERR_ARGS;
    ZipArchive* opened = static_cast<ZipArchive*>(ZipAlloc(sizeof(ZipArchive)));
    if (opened == nullptr) return ZIP_ERR_NOMEM;
    int result = ZIP_OK;
    if (password != nullptr && *password != '\0') {
        const size_t length = std::strlen(password);
        opened->password = static_cast<char*>(length < 0xFFFF ? ZipAlloc(uint32_t(length + 1)) : nullptr);
        if (opened->password == nullptr)
            result = ZIP_ERR_NOMEM;
        else
            std::memcpy(opened->password, password, length + 1);
    }
    if (result == ZIP_OK) {
        if (kind == ZIP_KIND_FILE)
            result = OpenFileSink(opened, static_cast<const char*>(target));
        else if (kind == ZIP_KIND_HANDLE)
            result = OpenHandleSink(opened, target);
        else
            result = OpenMemorySink(opened, target, size);
    }
    if (result != ZIP_OK) {
        FreeArchive(opened);
        return result;
    }
    *archive = opened;
    return ZIP_OK;
}

int ZipCreateArchiveFile(ZipArchive** archive, const char* path, const char* password) {
    return ZipCreateArchive(archive, const_cast<char*>(path), 0, ZIP_KIND_FILE, password);
}

int ZipAddEntry(ZipArchive* archive, const char* name, const void* source, uint32_t length, int kind) {
    return AddEntry(archive, false, name, source, length, kind);
}

int ZipAddEntryW(ZipArchive* archive, const wchar_t* name, const void* source, uint32_t length, int kind) {
    return AddEntry(archive, true, name, source, length, kind);
}

void ZipSetProgress(ZipArchive* archive, ZipProgress progress, void* context) {
    archive->progress = progress;
    archive->progressContext = context;
}

void ZipSetWorkers(ZipArchive* archive, uint32_t workers) {
    archive->workers = workers;
}

int ZipCloseArchive(ZipArchive* archive) {
    return ZipCloseArchiveListing(archive, nullptr);
}

int ZipCloseArchiveListing(ZipArchive* archive, ZipListing* listing) {
    if (listing != nullptr) *listing = ZipListing{};
    if (archive == nullptr) return ZIP_ERR_ARGS;
    if (archive->sink != nullptr && archive->error == ZIP_OK && !(archive->stateFlags & ZIP_ENDED)) {
        WriteDirectory(archive);
        archive->stateFlags |= ZIP_ENDED;
    }
    const int result = static_cast<int>(archive->error);
    if (result == ZIP_OK && listing != nullptr && (archive->stateFlags & ZIP_ENDED)) {
        listing->entries = archive->listed;
        listing->count = archive->entryCount;
        listing->names = archive->central;
        archive->listed = nullptr;
        archive->central = nullptr;
    }
    FreeArchive(archive);
    return result;
}

int ZipScratchCreate(ZipArchive** scratch) {
    *scratch = static_cast<ZipArchive*>(ZipAlloc(sizeof(ZipArchive)));
    if (*scratch == nullptr) return ZIP_ERR_NOMEM;
    (*scratch)->stateFlags = ZIP_SINK_MEMORY | ZIP_SINK_SEEKABLE | ZIP_SINK_GROWS;
    return ZIP_OK;
}

void ZipScratchFree(ZipArchive* scratch) {
    if (scratch != nullptr) FreeArchive(scratch);
}

void ZipScratchBegin(ZipArchive* scratch, uint32_t limit) {
    scratch->error = ZIP_OK;
    scratch->bytesWritten = 0;
    scratch->memPosition = 0;
    scratch->memLimit = limit;
    scratch->entryCount = 0;
    scratch->centralLength = 0;
}

// Between entries the scratch archive holds no block: what an entry holds
// is either handed over or freed.
bool ZipScratchTake(ZipArchive* scratch, int result, ZipPrepared* prepared) {
    *prepared = ZipPrepared{};
    const uint32_t failure = scratch->error;
    if (result == ZIP_OK && scratch->entryCount == 1) {
        prepared->entry = scratch->lastEntry;
        prepared->lastWrite = scratch->listed[0].lastWrite;
        prepared->fileIndex = scratch->listed[0].fileIndex;
        prepared->bytes = static_cast<uint8_t*>(scratch->sink);
        prepared->length = static_cast<uint32_t>(scratch->bytesWritten);
        prepared->capacity = scratch->memCapacity;
        prepared->entry.name = reinterpret_cast<const char*>(prepared->bytes + LOCAL_HEADER_SIZE);
    } else {
        ZipFree(scratch->sink);
    }
    scratch->sink = nullptr;
    scratch->memCapacity = 0;
    if (failure == ZIP_ERR_MEMSIZE || failure == ZIP_ERR_NOMEM || result == ZIP_ERR_NOMEM) return false;
    prepared->result = result;
    prepared->failedInEntry = failure != ZIP_OK;
    return true;
}

int ZipAppendPrepared(ZipArchive* archive, ZipPrepared* prepared) {
    int result = prepared->result;
    if (result != ZIP_OK && prepared->failedInEntry) archive->error = static_cast<uint32_t>(result);
    if (result == ZIP_OK && prepared->bytes != nullptr) {
        ZipEntry entry = prepared->entry;
        entry.localHeaderOffset = archive->bytesWritten + archive->baseOffset;
        archive->error = ZIP_OK;
        ZipWriteBytes(archive, prepared->bytes, prepared->length);
        archive->sourceLastWrite = prepared->lastWrite;
        archive->sourceIndex = prepared->fileIndex;
        result = archive->error != ZIP_OK ? static_cast<int>(archive->error) : ListEntry(archive, &entry);
        if (result != ZIP_OK) FailEntry(archive, &entry, static_cast<uint32_t>(result));
    }
    ZipPreparedFree(prepared);
    return result;
}

void ZipPreparedFree(ZipPrepared* prepared) {
    ZipFree(prepared->bytes);
    prepared->bytes = nullptr;
}

bool ZipHasStoredSuffix(const char* name) {
    if (name == nullptr) return false;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return false;
    for (const char* suffix : storedSuffixes)
        if (lstrcmpiA(dot, suffix) == 0) return true;
    return false;
}
