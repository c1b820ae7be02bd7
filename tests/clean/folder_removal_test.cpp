// File and folder removal against Wine's file system.
#include "clean/clean.h"
#include "clean/clean_tree.h"
#include "platform/handle_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

using Tree = std::vector<std::string>;

namespace {

const Tree SAMPLE = {"a.txt", "hidden.dat", "sub\\b.txt", "sub\\deeper\\c.txt", "empty\\"};

std::string Fresh(const std::string& name) {
    const std::string root = "C:\\t\\" + name;
    bench::RemoveTree(root);
    EXPECT_TRUE(MakeTree(root, SAMPLE));
    AddAttributes(root + "\\hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return root;
}

} // namespace

TEST(FolderDeleteTree, ModesDecideWhichFoldersGo) {
    const std::string all = Fresh("all");
    EXPECT_EQ(0, FolderDeleteTree((all + "\\").c_str(), 1)); // the trailing "\" is dropped
    EXPECT_FALSE(bench::Exists(all));

    const std::string keepTop = Fresh("keepTop");
    EXPECT_EQ(0, FolderDeleteTree(keepTop.c_str(), 0));
    EXPECT_TRUE(bench::IsFolder(keepTop));
    EXPECT_EQ(Tree{}, bench::ListTree(keepTop));

    const std::string keepAll = Fresh("keepAll");
    EXPECT_EQ(0, FolderDeleteTree(keepAll.c_str(), -1));
    EXPECT_EQ((Tree{"empty\\", "sub\\", "sub\\deeper\\"}), bench::ListTree(keepAll));
}

TEST(FolderDeleteTree, ReadOnlyFileStaysWithEveryFolderAboveIt) {
    const std::string root = Fresh("readOnly");
    AddAttributes(root + "\\sub\\deeper\\c.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1, FolderDeleteTree(root.c_str(), 1));
    EXPECT_EQ((Tree{"sub\\", "sub\\deeper\\", "sub\\deeper\\c.txt"}), bench::ListTree(root));
    EXPECT_TRUE(HasAttributes(root + "\\sub\\deeper\\c.txt", FILE_ATTRIBUTE_READONLY));
}

TEST(FolderDeleteTree, EmptyOrMissingFolderTouchesNothing) {
    EXPECT_EQ(-1, FolderDeleteTree("", 1));
    EXPECT_EQ(-1, FolderDeleteTree("C:\\t\\missing", 1));
    EXPECT_EQ(-1, FolderDeleteTree(("C:\\t\\" + std::string(600, 'x')).c_str(), 1));
    const std::string root = Fresh("twice");
    EXPECT_EQ(0, FolderDeleteTree(root.c_str(), 0));
    EXPECT_EQ(0, FolderDeleteTree(root.c_str(), 0)); // a second run finds nothing to fail on
}

// A drive root handed in by mistake must never be emptied.
TEST(FolderDeleteTree, DriveRootsAreRefused) {
    ASSERT_TRUE(bench::WriteFileBytes("C:\\sentinel.txt", "keep"));
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    SetCurrentDirectoryA("C:\\");
    for (const char* root : {"C:\\", "C:", "c:\\\\", "\\", "C:\\.", "C:\\t\\..", "."}) {
        EXPECT_EQ(1, FolderDeleteTree(root, 0)) << root;
        EXPECT_EQ(1, FolderDeleteFiles(root, "*.txt")) << root;
    }
    EXPECT_EQ(1, FolderDeleteFiles("", "sentinel.txt")); // the current folder is the root
    SetCurrentDirectoryA(current);
    EXPECT_TRUE(bench::Exists("C:\\sentinel.txt"));
    EXPECT_TRUE(bench::IsFolder("C:\\windows"));
}

// Names in any script and paths beyond MAX_PATH are reached through the wide
// functions and the long path form.
TEST(FolderDeleteTree, NamesInAnyScriptAndPathsBeyondMaxPathGo) {
    const std::string root = Fresh("long");
    const std::string deep =
        std::string(200, 'a') + "\\" + std::string(200, 'b') + "\\" + std::string(150, 'c');
    ASSERT_TRUE(
        MakeTree(root, {deep + ".txt",
                        u8"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC\\\u65E5\u672C \U0001F600.txt",
                        u8"Za\u017C\u00F3\u0142\u0107.txt"}));
    EXPECT_EQ(0, FolderDeleteTree(root.c_str(), 1));
    EXPECT_FALSE(bench::Exists(root));
}

// What the filter refuses stays, with every folder above it; a link inside
// the tree (made on the Linux side, see tests.cmake) is neither entered nor
// asked about, and what it leads to stays. (Windows removes the link itself;
// Wine cannot, and refuses since its target is not empty.)
TEST(FolderDeleteTree, FilterKeepsWhatItRefusesAndLinksGoAsLinks) {
    const std::string root = "C:\\t\\linked";
    ASSERT_TRUE(bench::IsFolder(root + "\\out")) << "the link is made by the test's pre-run";
    ASSERT_TRUE(bench::WriteFileBytes("C:\\elsewhere\\marker.txt", "not ours"));
    ASSERT_TRUE(MakeTree(root, {"go.txt", "keep\\mine.txt", "sub\\go.txt"}));
    Tree asked;
    auto refuseMine = [](void* context, const wchar_t* relative, const HandleFacts&) {
        static_cast<Tree*>(context)->push_back(bench::Utf8(relative));
        return std::wcsstr(relative, L"mine") == nullptr;
    };
    EXPECT_EQ(1, FolderDeleteTreeFiltered(root.c_str(), 1, refuseMine, &asked));
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ((Tree{"go.txt", "keep\\mine.txt", "sub\\go.txt"}), asked);
    Tree kept = {"keep\\", "keep\\mine.txt"};
    if (bench::UnderWine()) kept.push_back("out\\");
    EXPECT_EQ(kept, bench::ListTree(root));
    EXPECT_TRUE(bench::Exists("C:\\elsewhere\\marker.txt"));
}

TEST(FolderDeleteFiles, DeletesMatchingFilesOfOneFolderOnly) {
    const std::string root = Fresh("files");
    ASSERT_TRUE(MakeTree(root, {"ro.txt", "c.TXT", "notes.txtbook"}));
    AddAttributes(root + "\\ro.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1, FolderDeleteFiles(root.c_str(), "*.TXT"));
    // notes.txtbook matches "*.TXT" only through its short name: it is data.
    EXPECT_EQ((Tree{"empty\\", "hidden.dat", "notes.txtbook", "ro.txt", "sub\\", "sub\\b.txt",
                    "sub\\deeper\\", "sub\\deeper\\c.txt"}),
              bench::ListTree(root));
    EXPECT_EQ(0, FolderDeleteFiles((root + "\\sub\\").c_str(), ""));
    EXPECT_EQ((Tree{"deeper\\", "deeper\\c.txt"}), bench::ListTree(root + "\\sub"));
    EXPECT_EQ(0, FolderDeleteFiles("C:\\t\\missing", nullptr));
}

TEST(ProgramFilesDelete, LeavesTheUsersDataForTheArchive) {
    const std::string install = "C:\\Apps\\KIVO";
    ASSERT_TRUE(MakeTree(install, {"KIVO.EXE", "uninstKIVO.exe", "run.log", "data.kvo", "DOC\\manual.pdf",
                                   "DOC\\extra\\notes.txt", "KIVO\\core.dll", "KIVO\\a.kiv", "KIVO\\KV.KV",
                                   "KIVO\\tool.exe", "KIVO\\mine.kivo", "KIVO\\KV.KVX", "ZAVURE\\z.bin",
                                   "ZAVURE\\z2.dat", "Data\\x.exe"}));
    ProgramFilesDelete(install.c_str());
    EXPECT_EQ((Tree{"DOC\\", "DOC\\extra\\", "DOC\\extra\\notes.txt", "Data\\", "Data\\x.exe", "KIVO\\",
                    "KIVO\\KV.KVX", "KIVO\\mine.kivo", "ZAVURE\\", "data.kvo"}),
              bench::ListTree(install));
}

// The links come from links.sh. Behind each lie files that the program-file
// masks would match: all stay.
TEST(ProgramFilesDelete, NothingBehindALinkBelowTheInstallationIsTouched) {
    const Tree outside = {"Doc\\",       "Doc\\manual.pdf", "Prog\\", "Prog\\KIVO.EXE", "Prog\\KV.KV",
                          "Prog\\a.kiv", "Prog\\core.dll",  "Zav\\",  "Zav\\z.bin"};
    ASSERT_TRUE(MakeTree("C:\\Outside", outside));
    ASSERT_TRUE(MakeTree("C:\\Linked\\KIVO", {"uninstKIVO.exe", "run.log", "data.kvo"}));
    ProgramFilesDelete("C:\\Linked\\KIVO");
    EXPECT_EQ(outside, bench::ListTree("C:\\Outside"));
    EXPECT_FALSE(bench::Exists("C:\\Linked\\KIVO\\uninstKIVO.exe"));
    EXPECT_TRUE(bench::Exists("C:\\Linked\\KIVO\\data.kvo"));

    // The folder-tree deletion takes the links, never what they lead to.
    FolderDeleteTree("C:\\Linked\\KIVO", 1);
    EXPECT_EQ(outside, bench::ListTree("C:\\Outside"));

    // A moved installation: the installation folder itself is a link, and
    // what lies below it is treated as usual.
    ASSERT_TRUE(MakeTree("C:\\Moved", {"KIVO.EXE", "DOC\\manual.pdf", "KIVO\\core.dll", "Data\\x.exe"}));
    ProgramFilesDelete("C:\\Moved");
    EXPECT_EQ((Tree{"DOC\\", "Data\\", "Data\\x.exe", "KIVO\\"}), bench::ListTree("C:\\Real\\Install"));
}

// The walks' primitives on Wine's links (links.sh): C:\Linked\KIVO\DOC leads
// to C:\Outside\Doc, C:\Moved to C:\Real\Install.
TEST(HandleWalk, ChildrenOpenRelativeAndLinksAreSeenAsLinks) {
    ASSERT_TRUE(HandleWalkAvailable());
    ASSERT_TRUE(MakeTree("C:\\Outside", {"Doc\\manual.pdf"}));
    ASSERT_TRUE(MakeTree("C:\\Linked\\KIVO", {"data.kvo", "Data\\x.txt"}));
    const HandleOpen folder = {FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER,
                               0};
    HANDLE kivo = INVALID_HANDLE_VALUE;
    HandleFacts facts = {};
    ASSERT_EQ(HANDLE_WALK_OK, HandleOpenPath(L"C:\\Linked\\KIVO", folder, &kivo, &facts));
    HANDLE opened = INVALID_HANDLE_VALUE;
    // Wine opens what a link leads to even when asked not to follow it, and
    // shows no reparse point on the handle: there only the listing sees it.
    if (!bench::UnderWine()) {
        EXPECT_EQ(HANDLE_WALK_LINK, HandleOpenChild(kivo, L"DOC", 3, folder, &opened, &facts));
        EXPECT_EQ(INVALID_HANDLE_VALUE, opened);
    }
    EXPECT_EQ(HANDLE_WALK_LINK, HandleOpenPath(L"C:\\Linked\\KIVO\\DOC\\manual.pdf",
                                               HandleOpen{GENERIC_READ, FILE_SHARE_READ, HANDLE_OPEN_FILE, 0},
                                               &opened, &facts));
    EXPECT_EQ(HANDLE_WALK_LINK, HandleOpenPath(L"C:\\Moved", folder, &opened, &facts));
    EXPECT_EQ(HANDLE_WALK_REFUSED, HandleOpenChild(kivo, L"..", 2, folder, &opened, &facts));
    EXPECT_EQ(HANDLE_WALK_REFUSED, HandleOpenChild(kivo, L"Data\\x.txt", 10, folder, &opened, &facts));
    EXPECT_EQ(HANDLE_WALK_GONE, HandleOpenChild(kivo, L"none", 4, folder, &opened, &facts));

    HandleListing listing;
    ASSERT_TRUE(HandleListBegin(&listing, kivo));
    HandleListed listed;
    Tree names;
    uint64_t dataIndex = 0;
    while (HandleListNext(&listing, &listed) == HANDLE_WALK_OK) {
        names.push_back(bench::Utf8(listed.found.cFileName) +
                        ((listed.found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "@" : ""));
        if (std::wcscmp(listed.found.cFileName, L"data.kvo") == 0) dataIndex = listed.index;
    }
    HandleListEnd(&listing);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((Tree{"DOC@", "Data", "KIVO@", "ZAVURE@", "data.kvo"}), names);
    EXPECT_NE(0u, dataIndex);
    // The listed identity is the opened one's; another is refused.
    HandleOpen file = {DELETE | GENERIC_READ, FILE_SHARE_READ, HANDLE_OPEN_FILE | HANDLE_OPEN_ONE_LINK,
                       dataIndex};
    EXPECT_EQ(HANDLE_WALK_OK, HandleOpenChild(kivo, L"data.kvo", 8, file, &opened, &facts));
    CloseHandle(opened);
    file.listedIndex = dataIndex + 1;
    EXPECT_EQ(HANDLE_WALK_CHANGED, HandleOpenChild(kivo, L"data.kvo", 8, file, &opened, &facts));
    file.listedIndex = dataIndex;
    ASSERT_EQ(HANDLE_WALK_OK, HandleOpenChild(kivo, L"data.kvo", 8, file, &opened, &facts));
    EXPECT_TRUE(HandleDelete(opened));
    CloseHandle(opened);
    EXPECT_FALSE(bench::Exists("C:\\Linked\\KIVO\\data.kvo"));
    CloseHandle(kivo);
}

// A folder swapped for a link to a victim's folder between a check and its
// use, at the walk's seam: before a folder is opened the Linux side renames
// it away and puts a link in its place (swapper.sh); before a deletion
// through a handle the folder that holds the file is to be renamed away.
struct Swap {
    int point;
    std::wstring name;
    std::string folder; // the folder swapped
    bool done;
    bool swapped;
};
Swap swap;

void SwapAtSeam(int point, const wchar_t* name, size_t length) {
    if (swap.done || point != swap.point || swap.name != std::wstring(name, length)) return;
    swap.done = true;
    swap.swapped = point == HANDLE_SEAM_OPEN
                       ? bench::SwapForLink(swap.folder, "C:\\victim")
                       : MoveFileA(swap.folder.c_str(), (swap.folder + ".away").c_str());
}

const Tree VICTIM = {"b.txt", "marker.txt", "secret\\", "secret\\marker.doc"};

// Nothing of the victim's goes, and the walk says what stayed.
TEST(HandleWalk, FolderSwappedForALinkLeadsNowhere) {
    for (int point : {HANDLE_SEAM_OPEN, HANDLE_SEAM_DELETE}) {
        bench::RemoveTree("C:\\victim");
        ASSERT_TRUE(MakeTree("C:\\victim", VICTIM));
        const std::string root = "C:\\t\\swapped" + std::to_string(point);
        ASSERT_TRUE(MakeTree(root, {"a.txt", "sub\\b.txt", "sub\\marker.txt"}));
        swap = Swap{point, point == HANDLE_SEAM_OPEN ? L"sub" : L"b.txt", root + "\\sub", false, false};
        handleWalkSeam = SwapAtSeam;
        Tree failed;
        const RemovalReport report = {[](void* context, const wchar_t* relative) {
                                          static_cast<Tree*>(context)->push_back(bench::Utf8(relative));
                                      },
                                      &failed, nullptr};
        const HANDLE held = FolderHold(root.c_str(), true);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        const int result = FolderDeleteTreeHeld(HeldFolder{held, root.c_str()}, 1, nullptr, nullptr, &report);
        CloseHandle(held);
        handleWalkSeam = nullptr;
        ASSERT_TRUE(swap.done) << point;
        EXPECT_EQ(VICTIM, bench::ListTree("C:\\victim")) << point;
        if (point == HANDLE_SEAM_OPEN) {
            // The link is not the folder listed: it and the folder renamed away
            // stay, told once (the folder holding them is not told again).
            ASSERT_TRUE(swap.swapped) << "the link is swapped in by swapper.sh, the test's pre-run";
            EXPECT_EQ(1, result);
            EXPECT_EQ((Tree{"sub"}), failed);
            EXPECT_EQ((Tree{"sub.away\\", "sub.away\\b.txt", "sub.away\\marker.txt", "sub\\"}),
                      bench::ListTree(root));
        } else {
            // The folder is held while its files go: nobody can rename it.
            EXPECT_FALSE(swap.swapped);
            EXPECT_EQ(0, result);
            EXPECT_EQ(Tree{}, failed);
            EXPECT_FALSE(bench::Exists(root));
        }
    }
}

// A program subfolder swapped for a link after the installation folder's
// listing showed it plain: the masks' files of the victim's folder stay.
TEST(HandleWalk, ProgramSubfolderSwappedForALinkLeadsNowhere) {
    const Tree victim = {"KIVO.EXE", "core.dll", "manual.pdf"};
    bench::RemoveTree("C:\\ProgramVictim");
    ASSERT_TRUE(MakeTree("C:\\ProgramVictim", victim));
    const std::string install = "C:\\Apps\\Swapped";
    ASSERT_TRUE(MakeTree(install, {"KIVO.EXE", "DOC\\manual.pdf", "data.kvo"}));
    swap = Swap{HANDLE_SEAM_OPEN, L"DOC", install + "\\DOC", false, false};
    handleWalkSeam = [](int point, const wchar_t* name, size_t length) {
        if (swap.done || point != swap.point || swap.name != std::wstring(name, length)) return;
        swap.done = true;
        swap.swapped = bench::SwapForLink(swap.folder, "C:\\ProgramVictim");
    };
    ProgramFilesDelete(install.c_str());
    handleWalkSeam = nullptr;
    ASSERT_TRUE(swap.swapped) << "the link is swapped in by swapper.sh, the test's pre-run";
    EXPECT_EQ(victim, bench::ListTree("C:\\ProgramVictim"));
    EXPECT_EQ((Tree{"DOC.away\\", "DOC.away\\manual.pdf", "DOC\\", "data.kvo"}), bench::ListTree(install));
}

TEST(PathIsInFolder, WholeComponentsIgnoringCaseOfAToZ) {
    EXPECT_TRUE(PathIsInFolder("C:\\Prog\\KIVO", "c:\\prog\\kivo\\x.exe"));
    EXPECT_TRUE(PathIsInFolder("C:\\Prog\\KIVO", "C:\\PROG\\KIVO"));
    EXPECT_FALSE(PathIsInFolder("C:\\Prog\\KIVO", "C:\\Prog\\KIVO2\\x.exe"));
    EXPECT_FALSE(PathIsInFolder("C:\\A", "C:\\AB"));
    EXPECT_FALSE(PathIsInFolder("C:\\A\\", "C:\\A\\B"));
    EXPECT_FALSE(PathIsInFolder("C:\\A\xC9", "C:\\a\xE9")); // only A to Z fold
}
