// The container on its real sinks under Wine: records checked byte by byte
// here, and every archive declared for the independent readers.
#include "zip/zip.h"
#include "zip/zip_crypt.h"
#include "zip_test_support.h"

#include "bench/bench.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

using namespace ziptest;

namespace {

uint32_t Crc(const std::string& data) {
    return Crc32Update(0, reinterpret_cast<const uint8_t*>(data.data()), uint32_t(data.size()));
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    bench::ReadFileBytes(path, bytes);
    return bytes;
}

// Everything written to a pipe, collected on a thread of its own.
struct PipeSink {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    std::string bytes;
    HANDLE reader;
    PipeSink() {
        CreatePipe(&readEnd, &writeEnd, nullptr, 4096);
        reader = bench::ThreadStart([this] {
            char chunk[4096];
            DWORD got = 0;
            while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
                bytes.append(chunk, got);
        });
    }
    std::string Finish() {
        CloseHandle(writeEnd);
        bench::ThreadJoin(reader);
        CloseHandle(readEnd);
        return bytes;
    }
};

// A pipe that delivers data from a thread of its own, as a source.
struct PipeSource {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    HANDLE writer;
    explicit PipeSource(const std::string& data) {
        CreatePipe(&readEnd, &writeEnd, nullptr, 4096);
        writer = bench::ThreadStart([this, data] {
            DWORD put = 0;
            WriteFile(writeEnd, data.data(), DWORD(data.size()), &put, nullptr);
            CloseHandle(writeEnd);
        });
    }
    ~PipeSource() {
        bench::ThreadJoin(writer);
        CloseHandle(readEnd);
    }
};

int AddMemory(ZipArchive* archive, const char* name, const std::string& data) {
    return ZipAddEntry(archive, name, data.data(), uint32_t(data.size()), ZIP_KIND_MEMORY);
}

void ExpectTimestampFields(const std::string& local, const std::string& central) {
    ASSERT_EQ(local.size(), 17u);
    ASSERT_EQ(central.size(), 9u);
    EXPECT_EQ(local.substr(0, 5), std::string("UT\x0D\x00\x07", 5));
    EXPECT_EQ(central.substr(0, 5), std::string("UT\x05\x00\x07", 5));
    EXPECT_EQ(local.substr(5, 4), central.substr(5, 4)); // the same modification time
}

} // namespace

TEST(ZipContainer, ArchiveWithoutEntriesIsTheEndRecordAlone) {
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("empty.zip").c_str(), nullptr), ZIP_OK);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_OK);
    const std::string bytes = ReadAll(PathOf("empty.zip"));
    EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    Declare("empty.zip", {});
}

TEST(ZipContainer, StoredFileHeaderIsRewrittenCompleteWithoutDescriptor) {
    const std::string data = MakeData(5000, 'r', 1);
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("source.GZ"), data));
    const DWORD attributes = GetFileAttributesA(PathOf("source.GZ").c_str());
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("stored.zip").c_str(), nullptr), ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, "dir\\sub\\source.GZ", PathOf("source.GZ").c_str(), 0, ZIP_KIND_FILE),
              ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, "A\\B", nullptr, 0, ZIP_KIND_FOLDER + 16), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);

    const std::string bytes = ReadAll(PathOf("stored.zip"));
    const LocalHeader local = ParseLocal(bytes, 0);
    ASSERT_TRUE(local.valid);
    EXPECT_EQ(local.versionNeeded, 20);
    EXPECT_EQ(local.flags, 0);
    EXPECT_EQ(local.method, 0);
    EXPECT_EQ(local.crc, Crc(data));
    EXPECT_EQ(local.compressedSize, 5000u);
    EXPECT_EQ(local.uncompressedSize, 5000u);
    EXPECT_EQ(local.name, "dir/sub/source.GZ");
    EXPECT_EQ(bytes.substr(local.dataAt, 5000), data);
    // The folder entry follows the data at once: no data descriptor.
    const LocalHeader folder = ParseLocal(bytes, local.dataAt + 5000);
    ASSERT_TRUE(folder.valid);
    EXPECT_EQ(folder.name, "A/B/");
    EXPECT_EQ(folder.flags, 0);
    EXPECT_EQ(folder.compressedSize, 0u);

    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    ASSERT_EQ(d.entries.size(), 2u);
    EXPECT_EQ(d.entriesOnDisk, 2);
    EXPECT_EQ(d.entriesTotal, 2);
    const CentralHeader& c = d.entries[0];
    EXPECT_EQ(c.versionMadeBy, 0x0B17);
    EXPECT_EQ(c.versionNeeded, 20);
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(c.crc, local.crc);
    EXPECT_EQ(c.compressedSize, 5000u);
    EXPECT_EQ(c.dosTime, local.dosTime);
    EXPECT_EQ(c.dosDate, local.dosDate);
    EXPECT_EQ(c.localOffset, 0u);
    EXPECT_EQ(c.externalAttributes & 0xFF, attributes & 0x37);
    EXPECT_EQ(c.externalAttributes >> 16, 0100600u);
    ExpectTimestampFields(local.extra, c.extra);
    const CentralHeader& f = d.entries[1];
    EXPECT_EQ(f.name, "A/B/");
    EXPECT_EQ(f.method, 0);
    EXPECT_EQ(f.externalAttributes, 0x41C00010u);
    EXPECT_EQ(f.localOffset, local.dataAt + 5000);
    Declare("stored.zip", {{"dir/sub/source.GZ", data}, {"A/B/", "", true}});
}

TEST(ZipContainer, ReadOnlyFileLosesOwnerWrite) {
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("readonly.txt"), "kept"));
    SetFileAttributesA(PathOf("readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const DWORD attributes = GetFileAttributesA(PathOf("readonly.txt").c_str());
    ASSERT_EQ(attributes & 0x03, 0x03u);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("readonly.zip").c_str(), nullptr), ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, nullptr, PathOf("readonly.txt").c_str(), 0, ZIP_KIND_FILE), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    SetFileAttributesA(PathOf("readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    const Directory d = ParseDirectory(ReadAll(PathOf("readonly.zip")));
    ASSERT_EQ(d.entries.size(), 1u);
    // A null name takes the path itself, with slashes.
    EXPECT_EQ(d.entries[0].name, "C:/ziptest/readonly.txt");
    EXPECT_EQ(d.entries[0].externalAttributes, (0100400u << 16) | (attributes & 0x37));
    Declare("readonly.zip", {{"C:/ziptest/readonly.txt", "kept"}});
}

TEST(ZipContainer, DeflatedEntriesOfEveryShapePassTheReaders) {
    struct Case {
        const char* name;
        std::string data;
    };
    const Case cases[] = {
        {"empty.txt", ""},
        {"text.txt", MakeData(20000, 't', 2)},
        {"random.bin", MakeData(70000, 'r', 3)},
        {"runs.dat", MakeData(300000, 'u', 4)},
        {"slides.txt", MakeData(400000, 't', 5)},
        {"doc.zip.txt", MakeData(3000, 't', 6)},
        {"one.txt", "x"},
    };
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("deflated.zip").c_str(), nullptr), ZIP_OK);
    std::vector<Expected> expected;
    for (const Case& c : cases) {
        ASSERT_TRUE(bench::WriteFileBytes(PathOf(c.name), c.data));
        ASSERT_EQ(ZipAddEntry(archive, c.name, PathOf(c.name).c_str(), 0, ZIP_KIND_FILE), ZIP_OK) << c.name;
        expected.push_back({c.name, c.data});
    }
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);

    const std::string bytes = ReadAll(PathOf("deflated.zip"));
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    ASSERT_EQ(d.entries.size(), std::size(cases));
    size_t next = 0;
    for (size_t i = 0; i < d.entries.size(); ++i) {
        const CentralHeader& c = d.entries[i];
        const LocalHeader local = ParseLocal(bytes, c.localOffset);
        ASSERT_TRUE(local.valid);
        EXPECT_EQ(c.localOffset, next) << "entries follow each other without descriptors";
        EXPECT_EQ(c.method, 8) << c.name;
        EXPECT_EQ(c.flags, 0x0002) << c.name;
        EXPECT_EQ(local.flags, 0x0002) << c.name;
        EXPECT_EQ(local.crc, c.crc);
        EXPECT_EQ(local.compressedSize, c.compressedSize);
        EXPECT_EQ(c.uncompressedSize, cases[i].data.size());
        EXPECT_EQ(c.crc, Crc(cases[i].data));
        next = local.dataAt + c.compressedSize;
    }
    // An empty source is one empty final block.
    EXPECT_EQ(d.entries[0].compressedSize, 2u);
    EXPECT_EQ(bytes.substr(ParseLocal(bytes, 0).dataAt, 2), std::string("\x03\x00", 2));
    Declare("deflated.zip", expected);
}

TEST(ZipContainer, FailedEntriesAreLeftOutAndLaterOnesStillLand) {
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("failures.zip").c_str(), nullptr), ZIP_OK);
    EXPECT_EQ(ZipAddEntry(archive, "missing.txt", PathOf("no such file").c_str(), 0, ZIP_KIND_FILE),
              ZIP_ERR_OPEN);
    EXPECT_EQ(ZipAddEntry(archive, "", "x", 1, ZIP_KIND_MEMORY), ZIP_ERR_ARGS);
    EXPECT_EQ(ZipAddEntry(archive, "m", nullptr, 5, ZIP_KIND_MEMORY), ZIP_ERR_ARGS);
    EXPECT_EQ(ZipAddEntry(archive, "m", "x", 0, ZIP_KIND_MEMORY), ZIP_ERR_ARGS);
    EXPECT_EQ(ZipAddEntry(archive, "h", INVALID_HANDLE_VALUE, 0, ZIP_KIND_HANDLE), ZIP_ERR_ARGS);
    EXPECT_EQ(ZipAddEntry(nullptr, "m", "x", 1, ZIP_KIND_MEMORY), ZIP_ERR_ARGS);
    // A name's length field has 16 bits; a folder's final slash counts. (The
    // longest name is not declared: unzip cuts names at 4,095 bytes.)
    std::string block(200000, '\0');
    ZipArchive* memory = nullptr;
    ASSERT_EQ(ZipCreateArchive(&memory, &block[0], uint32_t(block.size()), ZIP_KIND_MEMORY, nullptr), ZIP_OK);
    const std::string longest(65535, 'n');
    EXPECT_EQ(AddMemory(memory, std::string(65536, 'n').c_str(), "data"), ZIP_ERR_TOOBIG);
    EXPECT_EQ(ZipAddEntry(memory, longest.c_str(), nullptr, 0, ZIP_KIND_FOLDER), ZIP_ERR_TOOBIG);
    EXPECT_EQ(AddMemory(memory, longest.c_str(), "data"), ZIP_OK);
    EXPECT_EQ(ZipCloseArchive(memory), ZIP_OK);
    const std::string longName(300, 'n');
    EXPECT_EQ(AddMemory(archive, longName.c_str(), "data"), ZIP_OK);

    // A source that cannot be read fails the entry half-way: its header
    // stays in the sink, unlisted, and the next entry must still be found.
    HANDLE writeOnly = CreateFileA(PathOf("writeonly.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(writeOnly, "abc", 3, &put, nullptr);
    SetFilePointer(writeOnly, 0, nullptr, FILE_BEGIN);
    EXPECT_EQ(ZipAddEntry(archive, "unreadable.gz", writeOnly, 0, ZIP_KIND_HANDLE), ZIP_ERR_READ);
    CloseHandle(writeOnly);
    EXPECT_EQ(AddMemory(archive, "after.txt", MakeData(3000, 't', 7)), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);

    const std::string bytes = ReadAll(PathOf("failures.zip"));
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    EXPECT_EQ(d.entriesTotal, 2);
    ASSERT_EQ(d.entries.size(), 2u);
    EXPECT_EQ(ParseLocal(bytes, d.entries[1].localOffset).name, "after.txt");
    // The failed entry's bytes were taken back: nothing lies between the two.
    EXPECT_EQ(d.entries[1].localOffset, ParseLocal(bytes, 0).dataAt + d.entries[0].compressedSize);
    EXPECT_EQ(d.entries[0].externalAttributes, 0x80000000u);
    Declare("failures.zip", {{longName, "data"}, {"after.txt", MakeData(3000, 't', 7)}});
}

TEST(ZipContainer, FailedLastEntryLeavesNoDirectoryAndClosingReportsIt) {
    HANDLE writeOnly = CreateFileA(PathOf("writeonly2.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(writeOnly, "abc", 3, &put, nullptr);
    SetFilePointer(writeOnly, 0, nullptr, FILE_BEGIN);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("lastfails.bin").c_str(), nullptr), ZIP_OK);
    EXPECT_EQ(AddMemory(archive, "good.txt", "good"), ZIP_OK);
    EXPECT_EQ(ZipAddEntry(archive, "bad.txt", writeOnly, 0, ZIP_KIND_HANDLE), ZIP_ERR_READ);
    CloseHandle(writeOnly);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_ERR_READ);
    const std::string bytes = ReadAll(PathOf("lastfails.bin"));
    EXPECT_FALSE(ParseDirectory(bytes).valid);
    const LocalHeader good = ParseLocal(bytes, 0);
    EXPECT_EQ(bytes.size(), good.dataAt + good.compressedSize); // the failed entry is gone
}

TEST(ZipContainer, OpeningRefusesBadKindsAndSinks) {
    ZipArchive* archive = reinterpret_cast<ZipArchive*>(1);
    EXPECT_EQ(ZipCreateArchive(&archive, nullptr, 0, 3, nullptr), ZIP_ERR_ARGS);
    EXPECT_EQ(archive, nullptr);
    EXPECT_EQ(ZipCreateArchive(&archive, nullptr, 0, ZIP_KIND_MEMORY, nullptr), ZIP_ERR_MEMSIZE);
    EXPECT_EQ(ZipCreateArchive(&archive, INVALID_HANDLE_VALUE, 0, ZIP_KIND_HANDLE, nullptr), ZIP_ERR_ARGS);
    EXPECT_EQ(ZipCreateArchiveFile(&archive, "C:\\no such folder\\a.zip", nullptr), ZIP_ERR_OPEN);
    EXPECT_EQ(archive, nullptr);
    // No path is a file that cannot be created, not a bad argument.
    EXPECT_EQ(ZipCreateArchiveFile(&archive, "", nullptr), ZIP_ERR_OPEN);
    EXPECT_EQ(ZipCreateArchive(&archive, nullptr, 0, ZIP_KIND_FILE, nullptr), ZIP_ERR_OPEN);
    EXPECT_EQ(ZipCloseArchive(nullptr), ZIP_ERR_ARGS);
    // A block that cannot be written is not a sink.
    void* readOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY);
    EXPECT_EQ(ZipCreateArchive(&archive, readOnly, 4096, ZIP_KIND_MEMORY, nullptr), ZIP_ERR_ARGS);
    VirtualFree(readOnly, 0, MEM_RELEASE);
}

TEST(ZipContainer, MemorySinkHoldsAtMostCapacityLessOne) {
    // A stored entry "x.gz" of d bytes takes 30 + 4 + 17 + d bytes.
    std::string block(100, '\0');
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchive(&archive, &block[0], 100, ZIP_KIND_MEMORY, nullptr), ZIP_OK);
    EXPECT_EQ(AddMemory(archive, "x.gz", std::string(48, 'd')), ZIP_OK);
    EXPECT_EQ(archive->bytesWritten, 99u);
    EXPECT_EQ(ParseLocal(block, 0).compressedSize, 48u);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_ERR_MEMSIZE); // no room for the directory

    ASSERT_EQ(ZipCreateArchive(&archive, &block[0], 100, ZIP_KIND_MEMORY + 16, nullptr), ZIP_OK);
    EXPECT_EQ(AddMemory(archive, "x.gz", std::string(49, 'd')), ZIP_ERR_MEMSIZE);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_ERR_MEMSIZE);

    // A mapping that the archive makes for itself.
    ASSERT_EQ(ZipCreateArchive(&archive, nullptr, 65536, ZIP_KIND_MEMORY, nullptr), ZIP_OK);
    EXPECT_EQ(AddMemory(archive, "m.txt", MakeData(10000, 't', 8)), ZIP_OK);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_OK);
}

// 70,000 small entries: the count needs the Zip64 end record, whose locator
// sits between it and the end record, which holds the escape 0xFFFF.
TEST(ZipContainer, SeventyThousandEntriesGetTheZip64EndRecords) {
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("many.zip").c_str(), nullptr), ZIP_OK);
    std::vector<Expected> expected;
    char name[16];
    for (int i = 0; i < 70000; ++i) {
        wsprintfA(name, "%05d.txt", i);
        const std::string data = i % 2 ? "odd" : "even entry";
        ASSERT_EQ(AddMemory(archive, name, data), ZIP_OK) << i;
        expected.push_back({name, data});
    }
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    const Directory d = ParseDirectory(ReadAll(PathOf("many.zip")));
    ASSERT_TRUE(d.valid) << d.why;
    EXPECT_TRUE(d.zip64);
    EXPECT_EQ(d.entriesTotal, 0xFFFF);
    EXPECT_EQ(d.entries64, 70000u);
    EXPECT_EQ(d.offset64, d.offset);               // what fits keeps its 32-bit field
    EXPECT_EQ(d.entries[69999].versionNeeded, 20); // no entry needs Zip64 itself
    Declare("many.zip", expected);
}

// A source of unknown size (a pipe) may turn out to need 64-bit sizes, so
// its local header carries them from the start, and its data descriptor is
// 64-bit on a sink that cannot seek; the central directory keeps 32-bit
// fields while the values fit.
TEST(ZipContainer, SourceOfUnknownSizeCarriesZip64Sizes) {
    const std::string data = MakeData(30000, 't', 50);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("unknown.zip").c_str(), nullptr), ZIP_OK);
    {
        PipeSource source(data);
        ASSERT_EQ(ZipAddEntry(archive, "piped.txt", source.readEnd, 0, ZIP_KIND_HANDLE), ZIP_OK);
    }
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    std::string bytes = ReadAll(PathOf("unknown.zip"));
    Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    EXPECT_FALSE(d.zip64);
    LocalHeader local = ParseLocal(bytes, 0);
    EXPECT_EQ(local.versionNeeded, 45);
    EXPECT_EQ(local.compressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(local.uncompressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(local.uncompressed64, data.size()); // rewritten in place
    EXPECT_EQ(local.compressed64, d.entries[0].compressedSize);
    EXPECT_EQ(d.entries[0].versionNeeded, 45);
    EXPECT_EQ(ExtraField(d.entries[0].extra, 1), "");
    Declare("unknown.zip", {{"piped.txt", data}});

    PipeSink pipe;
    ASSERT_EQ(ZipCreateArchive(&archive, pipe.writeEnd, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    {
        PipeSource source(data);
        ASSERT_EQ(ZipAddEntry(archive, "piped.txt", source.readEnd, 0, ZIP_KIND_HANDLE), ZIP_OK);
    }
    ASSERT_EQ(AddMemory(archive, "after.txt", "after"), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    bytes = pipe.Finish();
    d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    local = ParseLocal(bytes, 0);
    EXPECT_EQ(local.uncompressed64, 0u); // not known when it was written
    const size_t descriptor = local.dataAt + d.entries[0].compressedSize;
    EXPECT_EQ(U32(bytes, descriptor), 0x08074B50u);
    EXPECT_EQ(U32(bytes, descriptor + 8), d.entries[0].compressedSize);
    EXPECT_EQ(U32(bytes, descriptor + 16), data.size());
    EXPECT_EQ(d.entries[1].offset64, descriptor + 24);
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("unknown-pipe.zip"), bytes));
    Declare("unknown-pipe.zip", {{"piped.txt", data}, {"after.txt", "after"}});
}

// An archive that begins 4 GiB into its file (a sparse one): every offset
// needs its Zip64 field, and the directory's offset the Zip64 end records.
// 7-Zip does not open an archive with such a prefix; zipfile and unzip do.
TEST(ZipContainer, OffsetsBeyondThirtyTwoBitsGoToZip64Fields) {
    const uint64_t base = (uint64_t(1) << 32) + 1000;
    HANDLE sink = CreateFileA(PathOf("far.zip").c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    DWORD returned = 0;
    DeviceIoControl(sink, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LONG high = LONG(base >> 32);
    SetFilePointer(sink, LONG(base & 0xFFFFFFFFu), &high, FILE_BEGIN);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchive(&archive, sink, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    EXPECT_EQ(archive->baseOffset, base);
    const std::string random = MakeData(100000, 'r', 30), stored = MakeData(70000, 'r', 31);
    EXPECT_EQ(AddMemory(archive, "random.bin", random), ZIP_OK);
    EXPECT_EQ(AddMemory(archive, "stored.gz", stored), ZIP_OK);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_OK);
    std::string tail(0x40000, '\0');
    high = LONG(base >> 32);
    SetFilePointer(sink, LONG(base & 0xFFFFFFFFu), &high, FILE_BEGIN);
    ReadFile(sink, &tail[0], DWORD(tail.size()), &returned, nullptr);
    CloseHandle(sink);
    tail.resize(returned);
    const Directory d = ParseDirectory(tail, base);
    ASSERT_TRUE(d.valid) << d.why;
    EXPECT_TRUE(d.zip64);
    EXPECT_EQ(d.offset, 0xFFFFFFFFu);
    EXPECT_EQ(d.entriesTotal, 2);
    ASSERT_EQ(d.entries.size(), 2u);
    for (const CentralHeader& c : d.entries) {
        EXPECT_EQ(c.localOffset, 0xFFFFFFFFu) << c.name;
        EXPECT_EQ(c.versionNeeded, 45) << c.name;
        EXPECT_EQ(ExtraField(c.extra, 1).size(), 8u) << c.name; // the offset alone
        const LocalHeader local = ParseLocal(tail, size_t(c.offset64));
        EXPECT_EQ(local.name, c.name);
        EXPECT_EQ(local.versionNeeded, 20) << c.name; // its sizes fit
    }
    EXPECT_EQ(d.entries[0].offset64, 0u);
    Declare("far.zip", {{"random.bin", random}, {"stored.gz", stored}}, "", false);
}

// A sparse file of 4 GiB and more, archived by the folder walk as the Files
// step does: its local header carries both sizes in a Zip64 field from the
// start (its deflated data could pass 4 GiB), the central directory the
// sizes that need it. About two minutes: ctest runs it as zip_limits_test.
TEST(ZipContainer, FourGibibyteFileGetsZip64Sizes) {
    const uint64_t size = (uint64_t(1) << 32) + (1 << 20);
    bench::RemoveTree(PathOf("HUGE"));
    ASSERT_TRUE(bench::MakeFolders(PathOf("HUGE")));
    HANDLE big =
        CreateFileA(PathOf("HUGE\\zeros.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD returned = 0;
    DeviceIoControl(big, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LONG high = LONG(size >> 32);
    SetFilePointer(big, LONG(size & 0xFFFFFFFFu), &high, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(big));
    CloseHandle(big);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("huge.zip").c_str(), nullptr), ZIP_OK);
    EXPECT_EQ(ZipAddFolderTree(archive, PathOf("HUGE").c_str(), -1), ZIP_OK);
    EXPECT_EQ(AddMemory(archive, "after.txt", "after"), ZIP_OK);
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_OK);
    DeleteFileA(PathOf("HUGE\\zeros.bin").c_str());

    const std::string bytes = ReadAll(PathOf("huge.zip"));
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    EXPECT_FALSE(d.zip64);
    ASSERT_EQ(d.entries.size(), 2u);
    const CentralHeader& c = d.entries[0];
    EXPECT_EQ(c.uncompressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(c.uncompressed64, size);
    EXPECT_EQ(c.compressedSize, c.compressed64); // a few megabytes
    EXPECT_EQ(ExtraField(c.extra, 1).size(), 8u);
    const LocalHeader local = ParseLocal(bytes, 0);
    EXPECT_EQ(local.versionNeeded, 45);
    EXPECT_EQ(local.uncompressed64, size);
    EXPECT_EQ(local.compressed64, c.compressed64);
    EXPECT_EQ(d.entries[1].versionNeeded, 20);
    Expected zeros{"zeros.bin", ""};
    zeros.zeros = size;
    Declare("huge.zip", {zeros, {"after.txt", "after"}});
}

TEST(ZipContainer, HandleSinkAtByteNCountsOffsetsFromTheFileStart) {
    const uint32_t n = 1000;
    HANDLE file = CreateFileA(PathOf("atN.zip").c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string lead(n, '#');
    DWORD put = 0;
    WriteFile(file, lead.data(), n, &put, nullptr);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchive(&archive, file, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    EXPECT_EQ(archive->baseOffset, n);
    const std::string data = MakeData(9000, 't', 9);
    ASSERT_EQ(AddMemory(archive, "first.txt", data), ZIP_OK);
    ASSERT_EQ(AddMemory(archive, "second.tgz", data), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    // The archive worked on its own duplicate: the caller's handle still works.
    EXPECT_TRUE(WriteFile(file, "", 0, &put, nullptr));
    CloseHandle(file);

    const std::string bytes = ReadAll(PathOf("atN.zip"));
    EXPECT_EQ(bytes.substr(0, n), lead);
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    ASSERT_EQ(d.entries.size(), 2u);
    EXPECT_EQ(d.entries[0].localOffset, n);
    const LocalHeader first = ParseLocal(bytes, n);
    EXPECT_EQ(first.flags, 0x0002); // rewritten in place
    EXPECT_EQ(d.entries[1].localOffset, first.dataAt + d.entries[0].compressedSize);
    EXPECT_EQ(ParseLocal(bytes, d.entries[1].localOffset).flags, 0);
    Declare("atN.zip", {{"first.txt", data}, {"second.tgz", data}});
}

TEST(ZipContainer, PipeSinkEndsEveryEntryWithADescriptor) {
    const std::string text = MakeData(70000, 't', 10);
    const std::string packed = MakeData(5000, 'r', 11);
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("pipe-source.arj"), packed));
    PipeSink pipe;
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchive(&archive, pipe.writeEnd, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    EXPECT_FALSE(archive->stateFlags & ZIP_SINK_SEEKABLE);
    ASSERT_EQ(AddMemory(archive, "text.txt", text), ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, "packed.arj", PathOf("pipe-source.arj").c_str(), 0, ZIP_KIND_FILE),
              ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, "folder", nullptr, 0, ZIP_KIND_FOLDER), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    const std::string bytes = pipe.Finish();

    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    ASSERT_EQ(d.entries.size(), 3u);
    for (const CentralHeader& c : d.entries) {
        const LocalHeader local = ParseLocal(bytes, c.localOffset);
        ASSERT_TRUE(local.valid);
        EXPECT_EQ(local.flags, 0x0008) << c.name;
        EXPECT_EQ(c.flags, 0x0008) << c.name;
        EXPECT_EQ(local.crc, 0u);
        const size_t descriptor = local.dataAt + c.compressedSize;
        EXPECT_EQ(U32(bytes, descriptor), 0x08074B50u) << c.name;
        EXPECT_EQ(U32(bytes, descriptor + 4), c.crc);
        EXPECT_EQ(U32(bytes, descriptor + 8), c.compressedSize);
        EXPECT_EQ(U32(bytes, descriptor + 12), c.uncompressedSize);
    }
    // First headers as written: announced sizes, and the stored size in advance.
    const LocalHeader deflated = ParseLocal(bytes, 0);
    EXPECT_EQ(deflated.compressedSize, 0u);
    EXPECT_EQ(deflated.uncompressedSize, text.size());
    const LocalHeader stored = ParseLocal(bytes, d.entries[1].localOffset);
    EXPECT_EQ(stored.compressedSize, packed.size());
    EXPECT_EQ(stored.uncompressedSize, packed.size());
    bench::WriteFileBytes(PathOf("pipe.zip"), bytes);
    Declare("pipe.zip", {{"text.txt", text}, {"packed.arj", packed}, {"folder/", "", true}});
}

TEST(ZipContainer, StoredSizeMustMatchItsAnnouncementOnAPipe) {
    PipeSink pipe;
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchive(&archive, pipe.writeEnd, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    {
        PipeSource source(std::string(20, 's'));
        EXPECT_EQ(ZipAddEntry(archive, "short.gz", source.readEnd, 10, ZIP_KIND_HANDLE), ZIP_ERR_STOREDSIZE);
    }
    EXPECT_EQ(ZipCloseArchive(archive), ZIP_ERR_STOREDSIZE);
    pipe.Finish();
}

TEST(ZipContainer, HandleSourcesReadFromTheirPosition) {
    const std::string data = MakeData(30000, 't', 12);
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("handle-source.txt"), data));
    HANDLE file = CreateFileA(PathOf("handle-source.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetFilePointer(file, 100, nullptr, FILE_BEGIN);
    PipeSink pipe;
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchive(&archive, pipe.writeEnd, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    // Stored on a pipe, so the announced size must be what lies after byte 100.
    ASSERT_EQ(ZipAddEntry(archive, "tail.gz", file, 0, ZIP_KIND_HANDLE), ZIP_OK);
    EXPECT_EQ(archive->announcedSize, data.size() - 100);
    EXPECT_EQ(archive->sourceStart, 100u);
    {
        PipeSource source(data);
        ASSERT_EQ(ZipAddEntry(archive, "piped.txt", source.readEnd, 0, ZIP_KIND_HANDLE), ZIP_OK);
        EXPECT_EQ(archive->announcedSize, ZIP_UNKNOWN_SIZE);
    }
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    CloseHandle(file); // the archive never closes a caller's source
    const std::string bytes = pipe.Finish();
    const Directory d = ParseDirectory(bytes);
    ASSERT_EQ(d.entries.size(), 2u);
    EXPECT_EQ(d.entries[0].externalAttributes >> 16, 0100600u);
    EXPECT_EQ(d.entries[1].externalAttributes, 0x80000000u); // a pipe cannot be probed
    EXPECT_EQ(ParseLocal(bytes, d.entries[1].localOffset).uncompressedSize, 0xFFFFFFFFu);
    bench::WriteFileBytes(PathOf("sources.zip"), bytes);
    Declare("sources.zip", {{"tail.gz", data.substr(100)}, {"piped.txt", data}});
}

TEST(ZipContainer, EncipheredEntriesCarryTheirHeaderAndDescriptor) {
    const std::string text = MakeData(50000, 't', 13);
    const std::string stored = MakeData(2000, 'r', 14);
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("secret.zip").c_str(), "Pa55word"), ZIP_OK);
    ASSERT_EQ(AddMemory(archive, "text.txt", text), ZIP_OK);
    ASSERT_EQ(AddMemory(archive, "stored.zoo", stored), ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, "folder", nullptr, 0, ZIP_KIND_FOLDER), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);

    const std::string bytes = ReadAll(PathOf("secret.zip"));
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    ASSERT_EQ(d.entries.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        const CentralHeader& c = d.entries[i];
        const LocalHeader local = ParseLocal(bytes, c.localOffset);
        EXPECT_EQ(local.flags, 0x0009) << c.name;
        EXPECT_EQ(c.flags, 0x0009) << c.name;
        uint32_t keys[3];
        ZipCryptInitKeys(keys, "Pa55word");
        std::string header;
        for (int k = 0; k < 12; ++k)
            header.push_back(char(ZipCryptDecipher(keys, uint8_t(bytes[local.dataAt + k]))));
        EXPECT_EQ(header.find('\0'), std::string::npos) << c.name;
        EXPECT_EQ(uint8_t(header[11]), c.dosTime >> 8) << c.name;
        EXPECT_EQ(U32(bytes, local.dataAt + c.compressedSize), 0x08074B50u) << c.name;
    }
    EXPECT_EQ(d.entries[1].compressedSize, stored.size() + 12);
    EXPECT_EQ(ParseLocal(bytes, d.entries[1].localOffset).compressedSize, stored.size() + 12);
    EXPECT_EQ(d.entries[2].flags, 0); // folders are never enciphered
    Declare("secret.zip", {{"text.txt", text}, {"stored.zoo", stored}, {"folder/", "", true}}, "Pa55word");
}

TEST(ZipContainer, EmptyPasswordCountsAsNone) {
    ZipArchive* archive = nullptr;
    ASSERT_EQ(
        ZipCreateArchive(&archive, const_cast<char*>(PathOf("nopassword.zip").c_str()), 0, ZIP_KIND_FILE, ""),
        ZIP_OK);
    ASSERT_EQ(AddMemory(archive, "plain.txt", "plain text"), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    const Directory d = ParseDirectory(ReadAll(PathOf("nopassword.zip")));
    ASSERT_EQ(d.entries.size(), 1u);
    EXPECT_EQ(d.entries[0].flags, 0x0002);
    Declare("nopassword.zip", {{"plain.txt", "plain text"}});
}

TEST(ZipContainer, StoredSuffixesAreTheListedOnesInAnyCase) {
    for (const char* name :
         {"a.tar.gz", "X.ZIP", ".zip", "dir/b.Lzh", "c.z", "d.TGZ", "e.arc", "f.zoo", "g.arj"})
        EXPECT_TRUE(ZipHasStoredSuffix(name)) << name;
    for (const char* name : {"doc.zip.txt", "a.zip/readme", "noext", "a.gzip", "zip", "a.z7"})
        EXPECT_FALSE(ZipHasStoredSuffix(name)) << name;
}

// Inputs whose every byte and time is fixed, archived on a file sink, a pipe
// sink and a handle sink at byte 1000: none of them needs Zip64 or UTF-8, so
// each archive must stay byte for byte what the writer made before it had
// either (tests/zip/golden, copied beside this program).
TEST(ZipContainer, ArchivesThatNeedNoExtensionKeepTheirBytes) {
    const FILETIME fixed = {0xD55F4200u, 0x01CE70E3u}; // 2013-06-24 14:05:08 UTC
    struct Source {
        const char* name;
        std::string data;
        DWORD attributes;
    };
    const std::vector<Source> sources = {
        {"fixed\\text.txt", MakeData(70000, 't', 40), FILE_ATTRIBUTE_ARCHIVE},
        {"fixed\\random.bin", MakeData(40000, 'r', 41), FILE_ATTRIBUTE_ARCHIVE},
        {"fixed\\runs.dat", MakeData(300000, 'u', 42), FILE_ATTRIBUTE_ARCHIVE},
        {"fixed\\packed.gz", MakeData(5000, 'r', 43), FILE_ATTRIBUTE_ARCHIVE},
        {"fixed\\empty.txt", "", FILE_ATTRIBUTE_ARCHIVE},
        {"fixed\\readonly.txt", "kept as it is", FILE_ATTRIBUTE_READONLY},
        {"GOLD\\one\\two.txt", MakeData(3000, 't', 44), FILE_ATTRIBUTE_ARCHIVE},
    };
    bench::MakeFolders(PathOf("fixed"));
    bench::MakeFolders(PathOf("GOLD\\one"));
    for (const Source& s : sources) {
        SetFileAttributesA(PathOf(s.name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(bench::WriteFileBytes(PathOf(s.name), s.data));
    }
    auto fixTimes = [&] {
        for (const Source& s : sources) {
            const std::string path = PathOf(s.name);
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            HANDLE file =
                CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_TRUE(SetFileTime(file, &fixed, &fixed, &fixed));
            CloseHandle(file);
            SetFileAttributesA(path.c_str(), s.attributes);
        }
    };
    auto addAll = [&](ZipArchive* archive) {
        fixTimes();
        for (const Source& s : sources) {
            if (s.name[0] == 'f') {
                ASSERT_EQ(ZipAddEntry(archive, s.name, PathOf(s.name).c_str(), 0, ZIP_KIND_FILE), ZIP_OK);
            }
        }
        ASSERT_EQ(ZipAddFolderTree(archive, PathOf("GOLD").c_str(), int(Folder().size() + 1)), ZIP_OK);
    };
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("golden-file.zip").c_str(), nullptr), ZIP_OK);
    addAll(archive);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);

    PipeSink pipe;
    ASSERT_EQ(ZipCreateArchive(&archive, pipe.writeEnd, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    addAll(archive);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("golden-pipe.zip"), pipe.Finish()));

    HANDLE sink = CreateFileA(PathOf("golden-at1000.zip").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    DWORD put = 0;
    WriteFile(sink, std::string(1000, '#').data(), 1000, &put, nullptr);
    ASSERT_EQ(ZipCreateArchive(&archive, sink, 0, ZIP_KIND_HANDLE, nullptr), ZIP_OK);
    addAll(archive);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    CloseHandle(sink);

    for (const char* name : {"golden-file.zip", "golden-pipe.zip", "golden-at1000.zip"}) {
        std::string golden;
        ASSERT_TRUE(bench::ReadFileBytes(std::string("C:\\kivo\\") + name, golden)) << name;
        EXPECT_TRUE(WithoutAccessTimes(ReadAll(PathOf(name))) == WithoutAccessTimes(golden))
            << name << " differs from its golden copy";
    }
    for (const Source& s : sources)
        SetFileAttributesA(PathOf(s.name).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A name that is not plain ASCII is stored in UTF-8 with the flag 0x0800 in
// both headers, whether it comes in the ANSI code page or wide; a plain one
// as it is, without the flag. A wide name with half a surrogate pair has no
// UTF-8 form and is refused.
TEST(ZipContainer, NamesBeyondAsciiAreStoredInUtf8WithTheirFlag) {
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("names.zip").c_str(), nullptr), ZIP_OK);
    ASSERT_EQ(AddMemory(archive,
                        "Donn\xE9"
                        "es \xE9t\xE9.txt",
                        "ansi"),
              ZIP_OK); // Windows-1252
    ASSERT_EQ(ZipAddEntryW(archive, L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1\\\u017C\u00F3\u0142\u0107.txt",
                           "wide", 4, ZIP_KIND_MEMORY),
              ZIP_OK);
    ASSERT_EQ(ZipAddEntryW(archive, L"\u65E5\u672C\u8A9E \U0001F600", nullptr, 0, ZIP_KIND_FOLDER), ZIP_OK);
    ASSERT_EQ(AddMemory(archive, "plain.txt", "plain"), ZIP_OK);
    EXPECT_EQ(ZipAddEntryW(archive, L"half \xD83D.txt", "x", 1, ZIP_KIND_MEMORY), ZIP_ERR_ARGS);
    EXPECT_EQ(ZipAddEntryW(archive, L"\xDE00 low first.txt", "x", 1, ZIP_KIND_MEMORY), ZIP_ERR_ARGS);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);

    const std::vector<Expected> expected = {
        {u8"Donn\u00E9es \u00E9t\u00E9.txt", "ansi"},
        {u8"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1/\u017C\u00F3\u0142\u0107.txt", "wide"},
        {u8"\u65E5\u672C\u8A9E \U0001F600/", "", true},
        {"plain.txt", "plain"}};
    const std::string bytes = ReadAll(PathOf("names.zip"));
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    ASSERT_EQ(d.entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const uint16_t utf8 = i < 3 ? 0x0800 : 0;
        EXPECT_EQ(d.entries[i].name, expected[i].name);
        EXPECT_EQ(d.entries[i].flags & 0x0800, utf8) << i;
        EXPECT_EQ(ParseLocal(bytes, d.entries[i].localOffset).flags & 0x0800, utf8) << i;
    }
    Declare("names.zip", expected);
}
