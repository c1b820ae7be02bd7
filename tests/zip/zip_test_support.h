// Shared helpers of the archiver's tests: record parsing, test data, and the
// manifest that check_archives.py reads on the Linux side after the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

//--- places
std::string Folder();                        // C:\ziptest, created on first use
std::string PathOf(const std::string& name); // C:\ziptest\name

//--- test data
// kind: 't' text-like, 'r' random (incompressible), 'u' long runs.
std::string MakeData(size_t size, char kind, uint32_t seed);

//--- records
uint16_t U16(const std::string& bytes, size_t at);
uint32_t U32(const std::string& bytes, size_t at);

// The extra field of this tag, or an empty text.
std::string ExtraField(const std::string& extra, uint16_t tag);

// The 32-bit sizes and offset as written; the 64-bit ones as meant, taken
// from the Zip64 field where a 32-bit field holds its escape.
struct LocalHeader {
    bool valid = false;
    uint16_t versionNeeded, flags, method, dosTime, dosDate;
    uint32_t crc, compressedSize, uncompressedSize;
    uint64_t compressed64 = 0, uncompressed64 = 0;
    std::string name, extra;
    size_t dataAt = 0; // offset of the entry data in the bytes
};

struct CentralHeader {
    uint16_t versionMadeBy, versionNeeded, flags, method, dosTime, dosDate;
    uint32_t crc, compressedSize, uncompressedSize;
    uint16_t commentLength, diskStart, internalAttributes;
    uint32_t externalAttributes, localOffset;
    uint64_t compressed64 = 0, uncompressed64 = 0, offset64 = 0;
    std::string name, extra;
};

struct Directory {
    bool valid = false;
    std::string why;
    uint16_t entriesOnDisk = 0, entriesTotal = 0;
    uint32_t size = 0, offset = 0;
    bool zip64 = false; // a Zip64 end record and its locator precede the end record
    uint64_t entries64 = 0, size64 = 0, offset64 = 0;
    std::vector<CentralHeader> entries;
};

LocalHeader ParseLocal(const std::string& bytes, size_t at);
// Reads the end records at the very end of bytes and the directory they name;
// offsets in the records count from the start of bytes less base (the bytes
// of an archive whose start lies that far into its file).
Directory ParseDirectory(const std::string& bytes, uint64_t base = 0);

// The archive's bytes with the local headers' access times zeroed: reading a
// source moves its access time, which Wine does not let a test set back.
std::string WithoutAccessTimes(std::string bytes);

//--- manifest for the independent readers
struct Expected {
    std::string name; // as stored (UTF-8 or ASCII)
    std::string content;
    bool folder = false;
    uint64_t zeros = 0; // when not 0: the content is that many zero bytes
};
// Declares that archive (a file under C:\ziptest) holds exactly these entries,
// in this order, enciphered with password when it is not empty; sevenZip
// false leaves 7-Zip out.
void Declare(const std::string& archive, const std::vector<Expected>& entries,
             const std::string& password = "", bool sevenZip = true);

// ZipVerifyArchiveFile over archive (a file under C:\ziptest) and these entries;
// Declare verifies every archive it declares.
int Verify(const std::string& archive, const std::vector<Expected>& entries);
// The same over a file named by its wide path.
int VerifyWide(const std::wstring& path, const std::vector<Expected>& entries);

} // namespace ziptest
