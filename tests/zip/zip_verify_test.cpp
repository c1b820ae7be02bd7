// The verifier over archive files that the writer made (every declared
// archive is verified too, see Declare): damaged and cut copies are refused,
// a file still open for writing is not read, and the file is free afterwards;
// Windows 9x reads it by its ANSI name (zip_verify_test_win98).
#include "zip/zip.h"
#include "zip/zip_verify.h"
#include "zip_test_support.h"

#include "bench/bench.h"

#include <gtest/gtest.h>
#include <windows.h>

using namespace ziptest;

TEST(ZipVerifyFile, DamagedOrCutCopiesAreRefusedAndTheFileStaysFree) {
    const std::vector<Expected> entries = {{"text.txt", MakeData(300000, 't', 21)},
                                           {"packed.gz", MakeData(3000, 'r', 22)},
                                           {"folder/", "", true}};
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("verified.zip").c_str(), nullptr), ZIP_OK);
    for (const Expected& e : entries)
        ASSERT_EQ(ZipAddEntry(archive, e.name.c_str(), e.content.data(), uint32_t(e.content.size()),
                              e.folder ? ZIP_KIND_FOLDER : ZIP_KIND_MEMORY),
                  ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    Declare("verified.zip", entries);

    std::string bytes;
    ASSERT_TRUE(bench::ReadFileBytes(PathOf("verified.zip"), bytes));
    const Directory d = ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    // A byte in the middle of each entry's data, in the directory, in the end record.
    std::vector<size_t> damaged;
    for (const CentralHeader& c : d.entries)
        if (c.compressedSize > 0)
            damaged.push_back(ParseLocal(bytes, c.localOffset).dataAt + c.compressedSize / 2);
    damaged.push_back(d.offset + 16);
    damaged.push_back(bytes.size() - 6);
    for (size_t at : damaged) {
        std::string copy = bytes;
        copy[at] ^= 0x10;
        ASSERT_TRUE(bench::WriteFileBytes(PathOf("damaged.zip"), copy));
        EXPECT_EQ(Verify("damaged.zip", entries), ZIP_ERR_VERIFY) << "byte " << at;
    }
    ASSERT_TRUE(bench::WriteFileBytes(PathOf("damaged.zip"), bytes.substr(0, bytes.size() - 1)));
    EXPECT_EQ(Verify("damaged.zip", entries), ZIP_ERR_VERIFY);
    EXPECT_TRUE(DeleteFileA(PathOf("damaged.zip").c_str())) << "the verifier left the file open";
    EXPECT_EQ(Verify("damaged.zip", entries), ZIP_ERR_OPEN);

    // Nobody may write to the archive while it is read back.
    HANDLE writer = CreateFileA(PathOf("verified.zip").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Verify("verified.zip", entries), ZIP_ERR_OPEN);
    CloseHandle(writer);
    EXPECT_EQ(Verify("verified.zip", entries), ZIP_OK);
}

// Windows 9x has only failing stubs of the wide file calls: the archive is
// opened by its name in the ANSI code page there, so a name with no spelling
// in it (Greek in Western Windows) cannot be an archive that system wrote.
TEST(ZipVerifyFile, WindowsNineXOpensByTheAnsiName) {
    const std::vector<Expected> entries = {{"notes.txt", MakeData(5000, 't', 23)}};
    ZipArchive* archive = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&archive, PathOf("family.zip").c_str(), nullptr), ZIP_OK);
    ASSERT_EQ(ZipAddEntry(archive, "notes.txt", entries[0].content.data(),
                          uint32_t(entries[0].content.size()), ZIP_KIND_MEMORY),
              ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(archive), ZIP_OK);
    EXPECT_EQ(Verify("family.zip", entries), ZIP_OK);
    const std::wstring greek = bench::Wide(PathOf("family.zip")) + L"\u03A9.zip";
    ASSERT_TRUE(CopyFileW(bench::Wide(PathOf("family.zip")).c_str(), greek.c_str(), TRUE));
    const bool windows9x = (GetVersion() & 0x80000000u) != 0;
    EXPECT_EQ(VerifyWide(greek, entries), windows9x ? ZIP_ERR_OPEN : ZIP_OK);
    DeleteFileW(greek.c_str());
}
