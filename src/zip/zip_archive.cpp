// The zip container: opening an archive on its sink, adding entries (local
// header, data, header rewrite or data descriptor), and closing it with the
// central directory and its end record.
#include <windows.h>

#include "zip/zip.h"
#include "zip/zip_crypt.h"
#include "zip/zip_time.h"

#include <cstring>

namespace {

constexpr uint32_t LOCAL_HEADER_SIGNATURE = 0x04034B50;
constexpr uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014B50;
constexpr uint32_t END_RECORD_SIGNATURE = 0x06054B50;
constexpr uint32_t DESCRIPTOR_SIGNATURE = 0x08074B50;
constexpr uint32_t LOCAL_HEADER_SIZE = 30;
constexpr uint32_t CENTRAL_HEADER_SIZE = 46;
constexpr uint32_t END_RECORD_SIZE = 22;
constexpr uint32_t DESCRIPTOR_SIZE = 16;
constexpr uint32_t LOCAL_EXTRA_SIZE = 17;
constexpr uint32_t CENTRAL_EXTRA_SIZE = 9;
constexpr uint16_t VERSION_NEEDED = 20;
constexpr uint16_t VERSION_MADE_BY = 0x0B17;
constexpr uint16_t METHOD_STORED = 0;
constexpr uint16_t METHOD_DEFLATED = 8;
constexpr uint16_t FLAG_ENCIPHERED = 0x0001;
constexpr uint16_t FLAG_DESCRIPTOR = 0x0008;
constexpr uint32_t ATTRIBUTES_UNPROBED = 0x80000000u;
constexpr uint32_t ATTRIBUTES_FOLDER = 0x41C00010u;
// The end record counts entries in 16 bits.
constexpr uint32_t MAX_ENTRIES = 65535;
// The last byte offset that the 32-bit fields can express without meeting
// 0xFFFFFFFF, which readers take as the escape to Zip64.
constexpr uint32_t FORMAT_LIMIT = 0xFFFFFFFFu;

const char* const storedSuffixes[] = {".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};

// What is known of a source before its data is read.
struct SourceInfo {
    uint32_t announcedSize;
    uint32_t externalAttributes;
    uint16_t dosTime, dosDate;
    uint32_t modified, accessed, created; // Unix seconds
};

void WriteUInt32(ZipArchive* archive, uint32_t value) {
    ZipWriteUInt16(archive, static_cast<uint16_t>(value & 0xFFFF));
    ZipWriteUInt16(archive, static_cast<uint16_t>(value >> 16));
}

void PutUInt32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
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
void TimesFromFile(const BY_HANDLE_FILE_INFORMATION& file, SourceInfo* info) {
    SYSTEMTIME written = {};
    if (!FileTimeToSystemTime(&file.ftLastWriteTime, &written))
        written = SYSTEMTIME{1980, 1, 0, 1, 0, 0, 0, 0};
    info->dosDate = ZipDosDate(CivilTime(written));
    info->dosTime = ZipDosTime(CivilTime(written));
    info->modified = ZipUnixSeconds(FileTimeValue(file.ftLastWriteTime));
    info->accessed = ZipUnixSeconds(FileTimeValue(file.ftLastAccessTime));
    info->created = ZipUnixSeconds(FileTimeValue(file.ftCreationTime));
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
    archive->sourceStart = low;
    archive->stateFlags |= ZIP_SOURCE_PROBED;
    BY_HANDLE_FILE_INFORMATION file;
    if (!GetFileInformationByHandle(source, &file)) return ZIP_ERR_OPEN;
    // The data is read from the current position, so only what lies after it
    // is announced; a source of 4 GiB or more cannot be described at all.
    const uint64_t size = (uint64_t(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    const uint64_t position = (uint64_t(uint32_t(high)) << 32) | low;
    const uint64_t remaining = size > position ? size - position : 0;
    if (remaining >= FORMAT_LIMIT) return ZIP_ERR_TOOBIG;
    info->announcedSize = static_cast<uint32_t>(remaining);
    info->externalAttributes = (file.dwFileAttributes & 0x37) | (UnixModeOf(file.dwFileAttributes) << 16);
    TimesFromFile(file, info);
    return ZIP_OK;
}

// Takes the entry's source according to its kind. On success the archive
// holds the source (and owns it when flag 0x40 is set).
int TakeSource(ZipArchive* archive, const void* source, uint32_t length, int kind, SourceInfo* info) {
    if (kind == ZIP_KIND_FOLDER) {
        info->announcedSize = 0;
        info->externalAttributes = ATTRIBUTES_FOLDER;
        TimesFromClock(info);
        return ZIP_OK;
    }
    if (kind == ZIP_KIND_FILE) {
        if (source == nullptr) return ZIP_ERR_ARGS;
        HANDLE file = CreateFileA(static_cast<const char*>(source), GENERIC_READ, FILE_SHARE_READ, nullptr,
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
    if (length >= FORMAT_LIMIT) return ZIP_ERR_TOOBIG;
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

void WriteLocalHeader(ZipArchive* archive, const ZipEntry* entry) {
    WriteUInt32(archive, LOCAL_HEADER_SIGNATURE);
    ZipWriteUInt16(archive, VERSION_NEEDED);
    ZipWriteUInt16(archive, entry->localFlags);
    ZipWriteUInt16(archive, entry->method);
    ZipWriteUInt16(archive, entry->dosTime);
    ZipWriteUInt16(archive, entry->dosDate);
    WriteUInt32(archive, entry->crc32);
    WriteUInt32(archive, entry->compressedSize);
    WriteUInt32(archive, entry->uncompressedSize);
    ZipWriteUInt16(archive, static_cast<uint16_t>(entry->nameLength));
    ZipWriteUInt16(archive, static_cast<uint16_t>(entry->localExtraLength));
    ZipWriteBytes(archive, reinterpret_cast<const uint8_t*>(entry->name), entry->nameLength);
    ZipWriteBytes(archive, entry->localExtra, entry->localExtraLength);
}

void WriteCentralHeader(ZipArchive* archive, const ZipEntry* entry) {
    WriteUInt32(archive, CENTRAL_HEADER_SIGNATURE);
    ZipWriteUInt16(archive, VERSION_MADE_BY);
    ZipWriteUInt16(archive, VERSION_NEEDED);
    ZipWriteUInt16(archive, entry->flags);
    ZipWriteUInt16(archive, entry->method);
    ZipWriteUInt16(archive, entry->dosTime);
    ZipWriteUInt16(archive, entry->dosDate);
    WriteUInt32(archive, entry->crc32);
    WriteUInt32(archive, entry->compressedSize);
    WriteUInt32(archive, entry->uncompressedSize);
    ZipWriteUInt16(archive, static_cast<uint16_t>(entry->nameLength));
    ZipWriteUInt16(archive, static_cast<uint16_t>(entry->centralExtraLength));
    ZipWriteUInt16(archive, 0); // comment length
    ZipWriteUInt16(archive, entry->diskNumberStart);
    ZipWriteUInt16(archive, entry->internalAttributes);
    WriteUInt32(archive, entry->externalAttributes);
    WriteUInt32(archive, entry->localHeaderOffset);
    ZipWriteBytes(archive, reinterpret_cast<const uint8_t*>(entry->name), entry->nameLength);
    ZipWriteBytes(archive, entry->centralExtra, entry->centralExtraLength);
}

void WriteDataDescriptor(ZipArchive* archive, const ZipEntry* entry) {
    WriteUInt32(archive, DESCRIPTOR_SIGNATURE);
    WriteUInt32(archive, entry->crc32);
    WriteUInt32(archive, entry->compressedSize);
    WriteUInt32(archive, entry->uncompressedSize);
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

// Copies name into the entry with slashes for backslashes, and a final slash
// for a folder. A name that does not fit the 260-byte field is refused.
int SetEntryName(ZipEntry* entry, const char* name, bool folder) {
    const size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length == 0) return ZIP_ERR_ARGS;
    const bool addSlash = folder && name[length - 1] != '/' && name[length - 1] != '\\';
    if (length + (addSlash ? 1 : 0) >= ZIP_NAME_CAPACITY) return ZIP_ERR_TOOBIG;
    for (size_t i = 0; i < length; ++i)
        entry->name[i] = name[i] == '\\' ? '/' : name[i];
    if (addSlash) entry->name[length] = '/';
    entry->nameLength = static_cast<uint32_t>(length + (addSlash ? 1 : 0));
    entry->name[entry->nameLength] = '\0';
    return ZIP_OK;
}

void SetEntryRecords(ZipEntry* entry, const SourceInfo& info, uint8_t localExtra[LOCAL_EXTRA_SIZE]) {
    entry->flags = FLAG_DESCRIPTOR;
    entry->dosTime = info.dosTime;
    entry->dosDate = info.dosDate;
    entry->externalAttributes = info.externalAttributes;
    entry->localExtraLength = LOCAL_EXTRA_SIZE;
    entry->centralExtraLength = CENTRAL_EXTRA_SIZE;
    const uint8_t lead[5] = {'U', 'T', 13, 0, 0x07};
    std::memcpy(localExtra, lead, 5);
    PutUInt32(localExtra + 5, info.modified);
    PutUInt32(localExtra + 9, info.accessed);
    PutUInt32(localExtra + 13, info.created);
    entry->localExtra = localExtra;
    entry->centralExtra = entry->centralExtraField;
    std::memcpy(entry->centralExtraField, lead, 5);
    entry->centralExtraField[2] = 5;
    PutUInt32(entry->centralExtraField + 5, info.modified);
}

// Refuses, before anything is written, an entry whose known bytes (headers
// and announced stored data) would carry the archive past the 32-bit offsets,
// and bounds the writes of this entry so that its data descriptor, the
// central directory with this entry and the end record still fit.
int ReserveRoom(ZipArchive* archive, const ZipEntry* entry, uint64_t leadingBytes) {
    const uint64_t tail = uint64_t(DESCRIPTOR_SIZE) + archive->centralSize + CENTRAL_HEADER_SIZE +
                          entry->nameLength + CENTRAL_EXTRA_SIZE + END_RECORD_SIZE;
    const uint64_t end = uint64_t(archive->baseOffset) + archive->bytesWritten + leadingBytes + tail;
    if (end > FORMAT_LIMIT) return ZIP_ERR_TOOBIG;
    archive->writeLimit = static_cast<uint32_t>(FORMAT_LIMIT - tail);
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
    const uint32_t start = entry->localHeaderOffset - archive->baseOffset;
    if (ZipSeek(archive, start)) {
        archive->bytesWritten = start;
        if (!(archive->stateFlags & ZIP_SINK_MEMORY)) SetEndOfFile(archive->sink);
    }
    archive->error = failure;
}

// Writes one entry whose source the archive already holds: steps from the
// entry record to its place in the list. The entry is freed on failure.
int WriteEntry(ZipArchive* archive, const char* name, bool folder, const SourceInfo& info) {
    ZipEntry* entry = static_cast<ZipEntry*>(ZipAlloc(sizeof(ZipEntry)));
    if (entry == nullptr) return ZIP_ERR_NOMEM;
    int result = SetEntryName(entry, name, folder);
    if (result != ZIP_OK) {
        ZipFree(entry);
        return result;
    }
    uint8_t localExtra[LOCAL_EXTRA_SIZE];
    SetEntryRecords(entry, info, localExtra);

    uint32_t cipherHeader = 0;
    if (folder) {
        entry->method = METHOD_STORED;
    } else {
        if (archive->password != nullptr) {
            entry->flags = FLAG_DESCRIPTOR | FLAG_ENCIPHERED;
            cipherHeader = ZIP_CRYPT_HEADER_SIZE;
        }
        entry->method = ZipHasStoredSuffix(entry->name) ? METHOD_STORED : METHOD_DEFLATED;
    }
    entry->localFlags = entry->flags;
    uint32_t announcedCompressed = 0;
    uint64_t knownData = 0;
    if (entry->method == METHOD_STORED && info.announcedSize != ZIP_UNKNOWN_SIZE) {
        knownData = uint64_t(info.announcedSize) + cipherHeader;
        announcedCompressed = static_cast<uint32_t>(knownData);
    }
    entry->compressedSize = announcedCompressed;
    entry->uncompressedSize = info.announcedSize;
    entry->localHeaderOffset = archive->bytesWritten + archive->baseOffset;
    result =
        ReserveRoom(archive, entry, LOCAL_HEADER_SIZE + entry->nameLength + LOCAL_EXTRA_SIZE + knownData);
    if (result != ZIP_OK) {
        ZipFree(entry);
        return result;
    }

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
    if (archive->error != ZIP_OK) {
        DropFailedEntry(archive, entry);
        ZipFree(entry);
        return static_cast<int>(archive->error);
    }

    entry->crc32 = archive->crc;
    entry->compressedSize = archive->dataWritten + cipherHeader;
    entry->uncompressedSize = folder ? info.announcedSize : archive->bytesRead;
    if ((archive->stateFlags & ZIP_SINK_SEEKABLE) && cipherHeader == 0) {
        // Rewrite the local header in place, now complete; the sink's
        // position (and bytesWritten with it) returns to the end afterwards.
        entry->flags &= ~FLAG_DESCRIPTOR;
        entry->localFlags = entry->flags;
        const uint32_t end = archive->bytesWritten;
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
    if (archive->error != ZIP_OK) {
        DropFailedEntry(archive, entry);
        ZipFree(entry);
        return static_cast<int>(archive->error);
    }

    entry->localExtra = nullptr;
    if (archive->lastEntry != nullptr)
        archive->lastEntry->next = entry;
    else
        archive->entries = entry;
    archive->lastEntry = entry;
    archive->entryCount += 1;
    archive->centralSize += CENTRAL_HEADER_SIZE + entry->nameLength + CENTRAL_EXTRA_SIZE;
    return ZIP_OK;
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
    // Offsets are counted from the file's start in 32 bits: a sink already
    // beyond what they can express cannot hold an archive.
    if (high != 0 || low > FORMAT_LIMIT - END_RECORD_SIZE) return ZIP_ERR_TOOBIG;
    archive->baseOffset = low;
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

void FreeEntries(ZipArchive* archive) {
    while (archive->entries != nullptr) {
        ZipEntry* next = archive->entries->next;
        ZipFree(archive->entries);
        archive->entries = next;
    }
    archive->lastEntry = nullptr;
}

// Releases everything the archive holds, and the archive itself.
void FreeArchive(ZipArchive* archive) {
    FreeEntries(archive);
    if (archive->mapping != nullptr) {
        UnmapViewOfFile(archive->sink);
        CloseHandle(archive->mapping);
    } else if ((archive->stateFlags & ZIP_SINK_OWNED) && archive->sink != nullptr) {
        CloseHandle(archive->sink);
    }
    if (archive->deflate != nullptr) DeflateFree(archive->deflate);
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
    opened->writeLimit = FORMAT_LIMIT;
    int result = ZIP_OK;
    if (password != nullptr && *password != '\0') {
        const size_t length = std::strlen(password);
        opened->password =
            static_cast<char*>(length < FORMAT_LIMIT ? ZipAlloc(uint32_t(length + 1)) : nullptr);
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
    if (archive == nullptr) return ZIP_ERR_ARGS;
    if (archive->stateFlags & ZIP_ENDED) return ZIP_ERR_ENDED;
    if (archive->entryCount >= MAX_ENTRIES) return ZIP_ERR_TOOBIG;
    archive->dataWritten = 0;
    archive->bytesRead = 0;
    archive->crc = 0;
    archive->sourceStart = 0;
    archive->stateFlags &= ~(ZIP_ENCIPHERING | ZIP_SOURCE_PROBED | ZIP_SOURCE_OWNED | ZIP_SOURCE_MEMORY);
    kind &= ~16;
    if (kind != ZIP_KIND_FILE && (name == nullptr || *name == '\0')) return ZIP_ERR_ARGS;
    SourceInfo info = {};
    int result = TakeSource(archive, source, length, kind, &info);
    if (result == ZIP_OK) {
        archive->announcedSize = info.announcedSize;
        const char* entryName = name != nullptr ? name : static_cast<const char*>(source);
        result = WriteEntry(archive, entryName, kind == ZIP_KIND_FOLDER, info);
    }
    ReleaseSource(archive);
    return result;
}

int ZipCloseArchive(ZipArchive* archive) {
    if (archive == nullptr) return ZIP_ERR_ARGS;
    if (archive->sink != nullptr && archive->error == ZIP_OK && !(archive->stateFlags & ZIP_ENDED)) {
        // Room for the central directory was kept by every entry.
        archive->writeLimit = FORMAT_LIMIT;
        const uint32_t start = archive->bytesWritten;
        uint32_t count = 0;
        while (archive->entries != nullptr) {
            ZipEntry* entry = archive->entries;
            WriteCentralHeader(archive, entry);
            ++count;
            archive->entries = entry->next;
            ZipFree(entry);
        }
        archive->lastEntry = nullptr;
        const uint32_t size = archive->bytesWritten - start;
        WriteUInt32(archive, END_RECORD_SIGNATURE);
        ZipWriteUInt16(archive, 0); // this disk
        ZipWriteUInt16(archive, 0); // disk of the central directory
        ZipWriteUInt16(archive, static_cast<uint16_t>(count));
        ZipWriteUInt16(archive, static_cast<uint16_t>(count));
        WriteUInt32(archive, size);
        WriteUInt32(archive, start + archive->baseOffset);
        ZipWriteUInt16(archive, 0); // comment length
        archive->stateFlags |= ZIP_ENDED;
    }
    const int result = static_cast<int>(archive->error);
    FreeArchive(archive);
    return result;
}

bool ZipHasStoredSuffix(const char* name) {
    if (name == nullptr) return false;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return false;
    for (const char* suffix : storedSuffixes)
        if (lstrcmpiA(dot, suffix) == 0) return true;
    return false;
}
