// File tests and file copy against Wine's real file system.
#include "clean/file_tests.h"

#include "bench/bench.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const scratch = "C:\\filetest";

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        bench::RemoveTree(scratch);
        ASSERT_TRUE(bench::MakeFolders(std::string(scratch) + "\\src"));
    }
    void TearDown() override { bench::RemoveTree(scratch); }

    static std::string At(const std::string& relative) { return std::string(scratch) + "\\" + relative; }
    static std::string Read(const std::string& path) {
        std::string bytes;
        return bench::ReadFileBytes(path, bytes) ? bytes : "(missing)";
    }
    // Sets the last-modification time, in seconds from an arbitrary base.
    static void SetTime(const std::string& path, unsigned seconds) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ULONGLONG ticks = 130000000000000000ULL + seconds * 10000000ULL;
        FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
};

} // namespace

TEST_F(Files, ExistenceTestsTellFilesFromFolders) {
    ASSERT_TRUE(bench::WriteFileBytes(At("src\\a.txt"), "a"));
    EXPECT_TRUE(FileExists(At("src\\a.txt").c_str()));
    EXPECT_FALSE(FolderExists(At("src\\a.txt").c_str()));
    EXPECT_TRUE(FolderExists(At("src").c_str()));
    EXPECT_FALSE(FileExists(At("src").c_str()));
    EXPECT_FALSE(FileExists(At("none").c_str()));
    EXPECT_FALSE(FolderExists(At("none").c_str()));
}

TEST(PathSkipRoot, PointsBehindTheRootOrNowhere) {
    const char* drive = "C:\\Apps\\KIVO";
    EXPECT_EQ(PathSkipRoot(drive), drive + 3);
    const char* rootRelative = "\\Apps";
    EXPECT_EQ(PathSkipRoot(rootRelative), rootRelative + 1);
    const char* unc = "\\\\srv\\share\\a\\b";
    EXPECT_EQ(PathSkipRoot(unc), unc + 12);
    for (const char* none : {"C:", "C:\\", "C:x", "relative\\a", "\\", "\\\\srv", "\\\\srv\\share", ""})
        EXPECT_EQ(PathSkipRoot(none), nullptr) << none;
}

TEST_F(Files, FolderCreatePathMakesEveryMissingLevel) {
    EXPECT_EQ(FolderCreatePath(At("x\\y\\z").c_str()), 0);
    EXPECT_TRUE(bench::IsFolder(At("x\\y\\z")));
    EXPECT_EQ(FolderCreatePath(At("x\\y\\z\\").c_str()), 0); // already there, trailing backslash
    EXPECT_EQ(FolderCreatePath("C:\\"), -1);
    EXPECT_EQ(FolderCreatePath("relative\\a"), -1);
    ASSERT_TRUE(bench::WriteFileBytes(At("file"), "f"));
    EXPECT_EQ(FolderCreatePath(At("file\\below").c_str()), -1);
    EXPECT_EQ(FolderCreatePath(At("file").c_str()), -1); // a file is not the folder asked for
}

TEST(PathSameFileName, ComparesTheLastComponentIgnoringCase) {
    EXPECT_TRUE(PathSameFileName("C:\\a\\uninstKIVO.exe", "D:\\temp\\UNINSTKIVO.EXE"));
    // The backslash belongs to the compared part: "x.exe" is not "\x.exe".
    EXPECT_FALSE(PathSameFileName("x.exe", "C:\\t\\x.exe"));
    EXPECT_FALSE(PathSameFileName("C:\\a\\x.exe", "C:\\a\\y.exe"));
    EXPECT_FALSE(PathSameFileName("C:\\a\\x.exe", "C:\\a\\x.exe2"));
}

TEST_F(Files, CompareTimesOrdersByModification) {
    ASSERT_TRUE(bench::WriteFileBytes(At("old"), "o"));
    ASSERT_TRUE(bench::WriteFileBytes(At("new"), "n"));
    SetTime(At("old"), 100);
    SetTime(At("new"), 200);
    EXPECT_EQ(FileCompareTimes(At("new").c_str(), At("old").c_str()), 1);
    EXPECT_EQ(FileCompareTimes(At("old").c_str(), At("new").c_str()), -1);
    EXPECT_EQ(FileCompareTimes(At("old").c_str(), At("old").c_str()), 0);
    EXPECT_EQ(FileCompareTimes(At("old").c_str(), At("none").c_str()), 1); // unreadable counts as time 0
}

TEST_F(Files, CopyIntoAFolderCreatesItAndOverwrites) {
    ASSERT_TRUE(bench::WriteFileBytes(At("src\\prog.exe"), "new"));
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("T\\U\\").c_str(), 1), 0);
    EXPECT_EQ(Read(At("T\\U\\prog.exe")), "new");
    ASSERT_TRUE(bench::WriteFileBytes(At("T\\U\\prog.exe"), "older"));
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("T\\U\\prog.exe").c_str(), 1), 0);
    EXPECT_EQ(Read(At("T\\U\\prog.exe")), "new");
}

TEST_F(Files, CopyModesDecideOnAnExistingTarget) {
    ASSERT_TRUE(bench::WriteFileBytes(At("src\\prog.exe"), "source"));
    ASSERT_TRUE(bench::WriteFileBytes(At("prog.exe"), "target"));
    SetTime(At("src\\prog.exe"), 100);
    SetTime(At("prog.exe"), 200);
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("prog.exe").c_str(), 0), 0);
    EXPECT_EQ(Read(At("prog.exe")), "target"); // mode 0: never over the same name
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("prog.exe").c_str(), -1), 0);
    EXPECT_EQ(Read(At("prog.exe")), "target"); // mode -1: the source is older
    SetTime(At("src\\prog.exe"), 300);
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("prog.exe").c_str(), -1), 0);
    EXPECT_EQ(Read(At("prog.exe")), "source"); // mode -1: the source is newer

    ASSERT_TRUE(bench::WriteFileBytes(At("other.exe"), "target"));
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("other.exe").c_str(), 0), 0);
    EXPECT_EQ(Read(At("other.exe")), "source"); // another file name is always copied
}

TEST_F(Files, CopyWithoutDestinationGoesToTheCurrentFolder) {
    ASSERT_TRUE(bench::WriteFileBytes(At("src\\here.txt"), "h"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(scratch));
    int result = FileCopy(At("src\\here.txt").c_str(), "", 1);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Read(At("here.txt")), "h");
    // Directly under the current drive's root: that root exists, nothing to create.
    EXPECT_EQ(FileCopy(At("src\\here.txt").c_str(), "\\kivo_rooted.txt", 1), 0);
    EXPECT_EQ(Read("C:\\kivo_rooted.txt"), "h");
    DeleteFileA("C:\\kivo_rooted.txt");
}

TEST_F(Files, CopyFailuresHaveTheirOwnResults) {
    ASSERT_TRUE(bench::WriteFileBytes(At("src\\prog.exe"), "p"));
    EXPECT_EQ(FileCopy(At("src\\none.exe").c_str(), At("T\\").c_str(), 1), 1);
    EXPECT_EQ(FileCopy("", At("T\\").c_str(), 1), 1);
    EXPECT_EQ(FileCopy(At("src").c_str(), At("T\\").c_str(), 1), 1); // a folder is no source file
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("src").c_str(), 1), 2);
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), "Q:\\nowhere\\prog.exe", 1), 3);
    ASSERT_TRUE(bench::WriteFileBytes(At("blocker"), "b"));
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), At("blocker\\prog.exe").c_str(), 1), 3);
    std::string overlong = At(std::string(300, 'd') + "\\" + std::string(300, 'e'));
    EXPECT_EQ(FileCopy(At("src\\prog.exe").c_str(), overlong.c_str(), 1), 4);
}
