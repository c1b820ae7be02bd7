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

struct LocalHeader {
    bool valid = false;
    uint16_t versionNeeded, flags, method, dosTime, dosDate;
    uint32_t crc, compressedSize, uncompressedSize;
    std::string name, extra;
    size_t dataAt = 0; // offset of the entry data in the bytes
};

struct CentralHeader {
    uint16_t versionMadeBy, versionNeeded, flags, method, dosTime, dosDate;
    uint32_t crc, compressedSize, uncompressedSize;
    uint16_t commentLength, diskStart, internalAttributes;
    uint32_t externalAttributes, localOffset;
    std::string name, extra;
};

struct Directory {
    bool valid = false;
    std::string why;
    uint16_t entriesOnDisk = 0, entriesTotal = 0;
    uint32_t size = 0, offset = 0;
    std::vector<CentralHeader> entries;
};

LocalHeader ParseLocal(const std::string& bytes, size_t at);
// Reads the end record at the very end of bytes and the directory it names;
// offsets in the records count from the start of bytes.
Directory ParseDirectory(const std::string& bytes);

//--- manifest for the independent readers
struct Expected {
    std::string name;
    std::string content;
    bool folder = false;
};
// Declares that archive (a file under C:\ziptest) holds exactly these entries,
// in this order, enciphered with password when it is not empty.
void Declare(const std::string& archive, const std::vector<Expected>& entries,
             const std::string& password = "");

// ZipVerifyArchiveFile over archive (a file under C:\ziptest) and these entries;
// Declare verifies every archive it declares.
int Verify(const std::string& archive, const std::vector<Expected>& entries);

} // namespace ziptest
