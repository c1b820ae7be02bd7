// The folder walk on real trees in the prefix.
#include "platform/handle_walk.h"
#include "zip/zip.h"
#include "zip_test_support.h"

#include "bench/bench.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

using namespace ziptest;

namespace {

struct TreeFile {
    std::string relative; // below the tree's root, with backslashes
    std::string content;
    DWORD attributes;
};

// Builds a tree under C:\ziptest\<root> and returns its files.
std::vector<TreeFile> BuildTree(const std::string& root) {
    const std::vector<TreeFile> files = {
        {"a.txt", MakeData(3000, 't', 20), FILE_ATTRIBUTE_NORMAL},
        {"hidden.bin", MakeData(500, 'r', 21), FILE_ATTRIBUTE_HIDDEN},
        {"DATA\\b.txt", MakeData(70000, 't', 22), FILE_ATTRIBUTE_NORMAL},
        {"DATA\\..odd.txt", "two dots", FILE_ATTRIBUTE_NORMAL},
        {"DATA\\DEEP\\c.dat", MakeData(9000, 'u', 23), FILE_ATTRIBUTE_SYSTEM},
        {"DATA\\DEEP\\empty.txt", "", FILE_ATTRIBUTE_READONLY},
        {"..dots\\kept.txt", "in a folder whose name begins with two dots", FILE_ATTRIBUTE_NORMAL},
        {"old.gz", MakeData(800, 'r', 24), FILE_ATTRIBUTE_ARCHIVE},
    };
    const std::string base = PathOf(root);
    bench::RemoveTree(base);
    bench::MakeFolders(base + "\\EMPTY\\INNER");
    bench::MakeFolders(base + "\\DATA\\DEEP");
    bench::MakeFolders(base + "\\..dots");
    for (const TreeFile& f : files) {
        bench::WriteFileBytes(base + "\\" + f.relative, f.content);
        SetFileAttributesW(bench::Wide(base + "\\" + f.relative).c_str(), f.attributes);
    }
    return files;
}

// The files below folder in the file system's listing order, depth-first,
// links left out: the order that the archive must follow.
void ListingOrder(const std::string& folder, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((bench::Wide(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = bench::Utf8(found.cFileName);
        if (name == "." || name == ".." || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListingOrder(folder + "\\" + name, relative + name + "\\", out);
        else
            out.push_back(relative + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::string Slashed(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::vector<std::string> NamesIn(const std::string& archivePath) {
    std::string bytes;
    bench::ReadFileBytes(archivePath, bytes);
    std::vector<std::string> names;
    for (const CentralHeader& c : ParseDirectory(bytes).entries)
        names.push_back(c.name);
    return names;
}

// Archives the tree with the given folder text and prefix, and declares the
// archive with the names that it must hold.
void ArchiveTree(const std::string& archive, const std::string& folder, int prefix,
                 const std::string& namePrefix, const std::string& root, const std::vector<TreeFile>& files) {
    ZipArchive* zip = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&zip, PathOf(archive).c_str(), nullptr), ZIP_OK);
    EXPECT_EQ(ZipAddFolderTree(zip, folder.c_str(), prefix), ZIP_OK);
    ASSERT_EQ(ZipCloseArchive(zip), ZIP_OK);

    std::vector<std::string> order;
    ListingOrder(PathOf(root), "", order);
    ASSERT_EQ(order.size(), files.size());
    std::vector<Expected> expected;
    std::vector<std::string> names;
    for (const std::string& relative : order) {
        for (const TreeFile& f : files)
            if (f.relative == relative) expected.push_back({namePrefix + Slashed(relative), f.content});
        names.push_back(namePrefix + Slashed(relative));
    }
    EXPECT_EQ(NamesIn(PathOf(archive)), names);
    Declare(archive, expected);
}

} // namespace

TEST(ZipFolder, TreeIsArchivedDepthFirstWithEveryFileAndTheFolderName) {
    const std::vector<TreeFile> files = BuildTree("KIVO");
    // The uninstaller's way: the prefix ends after the last backslash.
    const std::string folder = PathOf("KIVO");
    ArchiveTree("tree.zip", folder, int(folder.rfind('\\') + 1), "KIVO/", "KIVO", files);
}

TEST(ZipFolder, NamesAreRelativeWithPrefixMinusOneOrATrailingBackslash) {
    const std::vector<TreeFile> files = BuildTree("REL");
    ArchiveTree("relative.zip", PathOf("REL"), -1, "", "REL", files);
    // The trailing backslash goes before the prefix is applied; slashes count as backslashes.
    const std::string trailing = "C:/ziptest/REL/";
    ArchiveTree("trailing.zip", trailing, int(trailing.size()), "", "REL", files);
}

TEST(ZipFolder, EmptyOrMissingFoldersGiveAnArchiveWithoutEntries) {
    bench::RemoveTree(PathOf("HOLLOW"));
    bench::MakeFolders(PathOf("HOLLOW\\ONE\\TWO"));
    bench::MakeFolders(PathOf("HOLLOW\\THREE"));
    for (const char* folder : {"HOLLOW", "no such folder"}) {
        ZipArchive* zip = nullptr;
        ASSERT_EQ(ZipCreateArchiveFile(&zip, PathOf("hollow.zip").c_str(), nullptr), ZIP_OK);
        EXPECT_EQ(ZipAddFolderTree(zip, PathOf(folder).c_str(), -1), ZIP_OK) << folder;
        ASSERT_EQ(ZipCloseArchive(zip), ZIP_OK);
        std::string bytes;
        bench::ReadFileBytes(PathOf("hollow.zip"), bytes);
        EXPECT_EQ(bytes.size(), 22u) << folder;
    }
    Declare("hollow.zip", {});
    EXPECT_EQ(ZipAddFolderTree(nullptr, PathOf("HOLLOW").c_str(), -1), ZIP_ERR_ARGS);
}

// The second process of the locked-file test: holds the file named after
// --hold= open without read sharing until it is told to let go.
TEST(ZipFolderLockHolder, HoldsTheFileNamedOnItsCommandLine) {
    const char* hold = std::strstr(GetCommandLineA(), "--hold=");
    if (hold == nullptr) GTEST_SKIP() << "runs only as the locked-file test's second process";
    HANDLE file = CreateFileA(hold + 7, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE locked = OpenEventA(EVENT_MODIFY_STATE, FALSE, "kivo_zip_locked");
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "kivo_zip_release");
    SetEvent(locked);
    EXPECT_EQ(WaitForSingleObject(release, 60000), WAIT_OBJECT_0);
    CloseHandle(file);
    CloseHandle(locked);
    CloseHandle(release);
}

TEST(ZipFolder, LockedFileStopsTheWalkAndTheArchiveKeepsWhatCameBefore) {
    const std::vector<TreeFile> files = BuildTree("LOCKED");
    std::vector<std::string> order;
    ListingOrder(PathOf("LOCKED"), "", order);
    const size_t middle = order.size() / 2;
    HANDLE locked = CreateEventA(nullptr, TRUE, FALSE, "kivo_zip_locked");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "kivo_zip_release");
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    bench::Process holder =
        bench::Start(std::string(self) + " --gtest_filter=ZipFolderLockHolder.* --hold=" + PathOf("LOCKED") +
                     "\\" + order[middle]);
    ASSERT_EQ(WaitForSingleObject(locked, 30000), WAIT_OBJECT_0);
    ZipArchive* zip = nullptr;
    ASSERT_EQ(ZipCreateArchiveFile(&zip, PathOf("locked.zip").c_str(), nullptr), ZIP_OK);
    EXPECT_EQ(ZipAddFolderTree(zip, PathOf("LOCKED").c_str(), -1), ZIP_ERR_OPEN);
    EXPECT_EQ(ZipCloseArchive(zip), ZIP_OK);
    SetEvent(release);
    EXPECT_EQ(bench::WaitExit(holder), 0);
    bench::Close(holder);
    CloseHandle(locked);
    CloseHandle(release);

    std::vector<Expected> expected;
    std::vector<std::string> names;
    for (size_t i = 0; i < middle; ++i)
        for (const TreeFile& f : files)
            if (f.relative == order[i]) {
                expected.push_back({Slashed(f.relative), f.content});
                names.push_back(Slashed(f.relative));
            }
    EXPECT_EQ(NamesIn(PathOf("locked.zip")), names);
    Declare("locked.zip", expected);
}

// Names in any script, at any depth: the walk reaches them through the wide
// functions and the long path form, and the archive stores them in UTF-8.
TEST(ZipFolder, NamesInAnyScriptAndPathsBeyondMaxPathAreArchived) {
    const std::string deep = std::string(140, 'x') + "\\" + std::string(140, 'y') + "\\";
    const std::vector<TreeFile> files = {
        {u8"Donn\u00E9es \u00E9t\u00E9\\r\u00E9sum\u00E9.txt", MakeData(2000, 't', 60),
         FILE_ATTRIBUTE_NORMAL},
        {u8"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC\\\u03B1\u03C1\u03C7\u03B5\u03AF\u03BF.txt",
         "greek", FILE_ATTRIBUTE_NORMAL},
        {u8"Za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144.txt", "polish",
         FILE_ATTRIBUTE_NORMAL},
        {u8"\u65E5\u672C\u8A9E\\\u30D5\u30A1\u30A4\u30EB.txt", MakeData(5000, 'r', 61),
         FILE_ATTRIBUTE_NORMAL},
        {u8"emoji \U0001F600.txt", "smile", FILE_ATTRIBUTE_NORMAL},
        {deep + "deep.txt", "beyond 260 characters", FILE_ATTRIBUTE_NORMAL},
    };
    const std::string root = PathOf("UNI");
    bench::RemoveTree(root);
    for (const TreeFile& f : files) {
        ASSERT_TRUE(bench::MakeFolders(root + "\\" + f.relative.substr(0, f.relative.rfind('\\') + 1)));
        ASSERT_TRUE(bench::WriteFileBytes(root + "\\" + f.relative, f.content)) << f.relative;
    }
    ASSERT_GT((root + "\\" + deep).size(), 260u);
    ArchiveTree("scripts.zip", root, int(root.rfind('\\') + 1), "UNI/", "UNI", files);

    // A folder whose own path passes 260 characters is walked too.
    const std::string deepFolder = root + "\\" + deep.substr(0, deep.size() - 1);
    ArchiveTree("deep.zip", deepFolder, -1, "", "UNI\\" + deep.substr(0, deep.size() - 1),
                {{"deep.txt", "beyond 260 characters", FILE_ATTRIBUTE_NORMAL}});
}

// Folder links (made on the Linux side, see tests.cmake) are neither entered
// nor archived: one leads out of the tree, one back to its own folder; the
// folder to archive may itself be a link.
TEST(ZipFolder, LinksAreNeitherFollowedNorArchived) {
    const std::string root = PathOf("LINKED");
    ASSERT_TRUE(bench::IsFolder(root + "\\sub\\out")) << "the links are made by the test's pre-run";
    ASSERT_TRUE(bench::WriteFileBytes("C:\\outside\\marker.txt", "outside the tree"));
    const std::vector<TreeFile> files = {{"a.txt", "a", FILE_ATTRIBUTE_NORMAL},
                                         {"sub\\b.txt", MakeData(3000, 't', 62), FILE_ATTRIBUTE_NORMAL}};
    for (const TreeFile& f : files)
        ASSERT_TRUE(bench::WriteFileBytes(root + "\\" + f.relative, f.content));
    ArchiveTree("links.zip", root, -1, "", "LINKED", files);
    ArchiveTree("moved.zip", PathOf("MOVED"), -1, "", "LINKED", files);
}

int seamCalls = 0;
int swapAtCall = 0;
std::string swapFolder;
bool swapped = false;

// The Linux side swaps the folder "sub" for a link to the victim's folder
// (swapper.sh) at the walk's given open of it: the listing's, or the read's.
void SwapSub(int point, const wchar_t* name, size_t length) {
    if (point != HANDLE_SEAM_OPEN || std::wstring(name, length) != L"sub" || ++seamCalls != swapAtCall)
        return;
    swapped = bench::SwapForLink(swapFolder, PathOf("victim"));
}

// A folder swapped for a link between the listing and its open, or between
// the listing and the reading of its files: nothing of the victim's is read.
TEST(ZipFolder, FolderSwappedForALinkIsNotRead) {
    const std::string victim = PathOf("victim");
    ASSERT_TRUE(bench::MakeFolders(victim));
    ASSERT_TRUE(bench::WriteFileBytes(victim + "\\b.txt", "the victim's secret, same name"));
    ASSERT_TRUE(bench::WriteFileBytes(victim + "\\marker.txt", "the victim's secret"));
    for (int call : {1, 2}) {
        const std::string root = PathOf("SWAP" + std::to_string(call));
        bench::RemoveTree(root);
        ASSERT_TRUE(bench::MakeFolders(root + "\\sub"));
        ASSERT_TRUE(bench::WriteFileBytes(root + "\\a.txt", "ours"));
        ASSERT_TRUE(bench::WriteFileBytes(root + "\\sub\\b.txt", "ours too"));
        seamCalls = 0;
        swapAtCall = call;
        swapFolder = root + "\\sub";
        swapped = false;
        handleWalkSeam = SwapSub;
        const std::string name = "swap" + std::to_string(call) + ".zip";
        ZipArchive* zip = nullptr;
        ASSERT_EQ(ZipCreateArchiveFile(&zip, PathOf(name).c_str(), nullptr), ZIP_OK);
        ZipSetWorkers(zip, 1);
        EXPECT_EQ(ZipAddFolderTree(zip, root.c_str(), -1), ZIP_OK);
        ASSERT_EQ(ZipCloseArchive(zip), ZIP_OK);
        handleWalkSeam = nullptr;
        ASSERT_TRUE(swapped) << "the link is swapped in by swapper.sh, the test's pre-run";
        // Only what the walk listed and then found unchanged is archived.
        Declare(name, {{"a.txt", "ours"}});
        EXPECT_EQ(NamesIn(PathOf(name)), std::vector<std::string>{"a.txt"}) << call;
    }
    std::string bytes;
    EXPECT_TRUE(bench::ReadFileBytes(victim + "\\marker.txt", bytes));
    EXPECT_EQ(bytes, "the victim's secret");
}

// Workers prepare the entries that follow the one being written; whatever
// their number, the archive holds the bytes that the sequential writer (one
// worker) makes. The tree mixes sizes, kinds, stored entries, an empty file,
// a name in UTF-8 and one file too large to be prepared in memory, which the
// writer compresses in its turn. Progress is told on the caller's thread,
// never goes back, and ends at the listed total.
TEST(ZipFolder, AnyNumberOfWorkersWritesTheSequentialWritersBytes) {
    const std::string root = PathOf("MANY");
    bench::RemoveTree(root);
    std::vector<TreeFile> files;
    for (uint32_t i = 0; i < 48; ++i) {
        const char kind = "tru"[i % 3];
        const size_t size = i % 7 == 3 ? 0 : (i * 7919u) % 150000u;
        const std::string folder = i % 4 == 0 ? "" : "part" + std::to_string(i % 5) + "\\";
        files.push_back({folder + "file" + std::to_string(i) + (i % 9 == 4 ? ".gz" : ".dat"),
                         MakeData(size, kind, 100 + i), FILE_ATTRIBUTE_NORMAL});
    }
    files.push_back({u8"part1\\r\u00E9sum\u00E9.txt", MakeData(20000, 't', 99), FILE_ATTRIBUTE_NORMAL});
    files.push_back({"part2\\large.bin", MakeData(17u << 20, 'u', 98), FILE_ATTRIBUTE_NORMAL});
    uint64_t total = 0;
    for (const TreeFile& f : files) {
        ASSERT_TRUE(bench::MakeFolders(root + "\\" + f.relative.substr(0, f.relative.rfind('\\') + 1)));
        ASSERT_TRUE(bench::WriteFileBytes(root + "\\" + f.relative, f.content)) << f.relative;
        total += f.content.size();
    }
    struct Told {
        DWORD thread;
        uint64_t done, total;
    };
    std::vector<Told> told;
    auto note = [](void* context, uint64_t done, uint64_t all) {
        static_cast<std::vector<Told>*>(context)->push_back({GetCurrentThreadId(), done, all});
    };
    std::string sequential;
    for (uint32_t workers : {1u, 2u, 8u}) {
        const std::string name = "workers" + std::to_string(workers) + ".zip";
        told.clear();
        ZipArchive* zip = nullptr;
        ASSERT_EQ(ZipCreateArchiveFile(&zip, PathOf(name).c_str(), nullptr), ZIP_OK);
        ZipSetWorkers(zip, workers);
        ZipSetProgress(zip, note, &told);
        EXPECT_EQ(ZipAddFolderTree(zip, root.c_str(), -1), ZIP_OK);
        ASSERT_EQ(ZipCloseArchive(zip), ZIP_OK);
        std::string bytes;
        ASSERT_TRUE(bench::ReadFileBytes(PathOf(name), bytes));
        bytes = WithoutAccessTimes(bytes);
        if (workers == 1) sequential = bytes;
        EXPECT_TRUE(bytes == sequential) << workers << " workers";
        ASSERT_FALSE(told.empty());
        for (size_t i = 0; i < told.size(); ++i) {
            EXPECT_EQ(told[i].thread, GetCurrentThreadId());
            EXPECT_EQ(told[i].total, total);
            if (i > 0) {
                EXPECT_GE(told[i].done, told[i - 1].done) << workers << " workers";
            }
        }
        EXPECT_EQ(told.back().done, total) << workers << " workers";
    }
    std::vector<std::string> order;
    ListingOrder(root, "", order);
    std::vector<Expected> expected;
    for (const std::string& relative : order)
        for (const TreeFile& f : files)
            if (f.relative == relative) expected.push_back({Slashed(relative), f.content});
    EXPECT_EQ(NamesIn(PathOf("workers8.zip")).size(), files.size());
    Declare("workers8.zip", expected);
}
