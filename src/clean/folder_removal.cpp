#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
#include "platform/handle_walk.h"
#include "platform/scoped_handles.h"
#include "platform/wide_files.h"
#include "platform/windows_version.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// The deletions' working path: a folder of at most 259 characters plus the
// names appended on the way down. An entry whose path would not fit is left
// alone and counts as a failure.
constexpr size_t WORK_CAPACITY = 520;
constexpr char ALL_FILES[] = "*.*";

bool IsGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A drive or share root is never emptied, whatever a caller hands in: the
// text itself, then what it stands for ("C:\.", "\" or "." in a root).
bool FolderIsRoot(const char* folder) {
    if (PathIsDriveRoot(folder)) return true;
    char full[WORK_CAPACITY];
    char* filePart = nullptr;
    const DWORD length = GetFullPathNameA(folder, sizeof full, full, &filePart);
    return length != 0 && length < sizeof full && PathIsDriveRoot(full);
}

bool DoneOrGone(BOOL done) {
    return done || IsGone(GetLastError());
}

// One folder of a tree deletion: its search, and the length of its path.
struct TreeLevel {
    HANDLE search;
    size_t pathLength;
    bool pending;   // the walk's entry belongs to this level and is not taken yet
    bool holdsLeft; // something in the folder stayed
};

// State of one tree deletion, shared by its levels. The path is wide and in
// the long form, so that every name and depth the file system allows is
// reached; the levels are a list rather than a recursion, which that depth
// could take past the stack.
struct TreeWalk {
    std::vector<wchar_t> path; // the folder being walked; each level appends "\name" and cuts it off
    size_t rootLength;
    std::vector<TreeLevel> levels;
    WIN32_FIND_DATAW entry;
    int failed;            // 1 once anything stayed
    bool rootHoldsLeft;    // something directly in the walked folder stayed
    bool removeSubfolders; // mode >= 0
    TreeFileFilter mayDelete;
    void* context;
    const RemovalReport* report;
};

// What the listing tells of a file on Windows 9x, which has no file indexes.
HandleFacts ListedFacts(const WIN32_FIND_DATAW& found) {
    return HandleFacts{0,
                       0,
                       (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                       (uint64_t(found.ftLastWriteTime.dwHighDateTime) << 32) |
                           found.ftLastWriteTime.dwLowDateTime,
                       found.dwFileAttributes,
                       1,
                       0};
}

void Report(const RemovalReport* report, const wchar_t* relative, bool kept = false) {
    if (report == nullptr) return;
    const RemovalLeft told = kept && report->kept != nullptr ? report->kept : report->failed;
    if (told != nullptr) told(report->context, relative);
}

// Either walk's entry that stayed: a failure, marked in the folder holding it.
template <typename Walk> void MarkLeft(Walk& walk) {
    walk.failed = 1;
    if (!walk.levels.empty()) walk.levels.back().holdsLeft = true;
}

// A folder that could not be removed: told unless what stayed in it tells why.
template <typename Walk> void FolderLeft(Walk& walk, bool holdsLeft, void (*stayed)(Walk&, bool)) {
    if (holdsLeft)
        MarkLeft(walk);
    else
        stayed(walk, false);
}

// The path walk's entry that stayed, told by its path below the folder.
void Stayed(TreeWalk& walk, bool kept = false) {
    MarkLeft(walk);
    const size_t at = walk.rootLength + 1;
    Report(walk.report, std::wcslen(&walk.path[0]) > walk.rootLength ? &walk.path[at] : L"", kept);
}

// Appends "\name" (and room for a level's "\*") at the path's end; false,
// and a failure, when that would not fit.
bool Descend(TreeWalk& walk, size_t at, const wchar_t* name) {
    const size_t length = std::wcslen(name);
    if (at + 1 + length + 2 >= walk.path.size()) {
        walk.failed = 1;
        return false;
    }
    walk.path[at] = L'\\';
    std::memcpy(&walk.path[at + 1], name, (length + 1) * sizeof(wchar_t));
    return true;
}

// Starts listing the folder whose path (pathLength units) is in the path. A
// folder that cannot be listed may still hold something, which then stays.
void EnterFolder(TreeWalk& walk, size_t pathLength) {
    std::memcpy(&walk.path[pathLength], L"\\*", 3 * sizeof(wchar_t));
    HANDLE search = WideFindFirst(&walk.path[0], &walk.entry);
    const DWORD cause = GetLastError();
    walk.path[pathLength] = L'\0';
    if (search != INVALID_HANDLE_VALUE)
        walk.levels.push_back(TreeLevel{search, pathLength, true, false});
    else if (!IsGone(cause))
        Stayed(walk);
}

void DeleteFileEntry(TreeWalk& walk) {
    const WIN32_FIND_DATAW& entry = walk.entry;
    // A link holds no data of its own: it goes, not what it points to.
    if (!WideIsLink(entry)) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            Stayed(walk); // read-only files are never made writable
            return;
        }
        if (walk.mayDelete != nullptr &&
            !walk.mayDelete(walk.context, &walk.path[walk.rootLength + 1], ListedFacts(entry))) {
            Stayed(walk, true);
            return;
        }
    }
    if (!DoneOrGone(WideDeleteFile(&walk.path[0]))) Stayed(walk);
}

// Takes the pending entry of the deepest level.
void TakeEntry(TreeWalk& walk) {
    TreeLevel& level = walk.levels.back();
    level.pending = false;
    const WIN32_FIND_DATAW& entry = walk.entry;
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0))
        return;
    const size_t at = level.pathLength;
    if (!Descend(walk, at, entry.cFileName)) return;
    if (!folder)
        DeleteFileEntry(walk);
    else if (WideIsLink(entry)) {
        // A junction or link leads out of the tree: only the link itself goes.
        if (walk.removeSubfolders && !DoneOrGone(WideRemoveFolder(&walk.path[0]))) Stayed(walk);
    } else {
        const size_t depth = walk.levels.size();
        EnterFolder(walk, std::wcslen(&walk.path[0]));
        if (walk.levels.size() > depth) return; // the path stays on it while it is walked
    }
    walk.path[at] = L'\0';
}

// Walks the tree below the root in the path, depth-first, each folder
// removed (but the root) once everything in it went, as the mode says.
void WalkTree(TreeWalk& walk) {
    EnterFolder(walk, walk.rootLength);
    while (!walk.levels.empty()) {
        TreeLevel& level = walk.levels.back();
        if (level.pending) {
            TakeEntry(walk);
            continue;
        }
        if (WideFindNext(level.search, &walk.entry)) {
            level.pending = true;
            continue;
        }
        FindClose(level.search);
        const bool holdsLeft = level.holdsLeft;
        walk.levels.pop_back();
        if (walk.levels.empty()) {
            walk.rootHoldsLeft = holdsLeft;
            break;
        }
        // The path holds the folder just listed: it goes, and the path returns to its parent.
        if (walk.removeSubfolders && !DoneOrGone(WideRemoveFolder(&walk.path[0])))
            FolderLeft(walk, holdsLeft, Stayed);
        walk.path[walk.levels.back().pathLength] = L'\0';
    }
}

//--- the walks by handle (the NT family)

// One folder of a tree deletion by handle: held, refusing deletion and so
// renames by anyone else, while it is listed; the length of its path below
// the walked folder.
struct HeldLevel {
    HANDLE folder;
    HandleListing listing;
    size_t pathLength;
    bool holdsLeft; // something in the folder stayed
};

struct HeldWalk {
    std::vector<wchar_t> relative; // the entry's path below the walked folder
    std::vector<HeldLevel> levels;
    HandleListed item;
    int failed;
    bool rootHoldsLeft;
    bool removeSubfolders;
    TreeFileFilter mayDelete;
    void* context;
    const RemovalReport* report;
};

void HeldStayed(HeldWalk& walk, bool kept = false) {
    MarkLeft(walk);
    Report(walk.report, &walk.relative[0], kept);
}

bool HeldEnter(HeldWalk& walk, HANDLE folder, size_t pathLength) {
    HeldLevel level = {folder, {}, pathLength, false};
    if (!HandleListBegin(&level.listing, folder)) {
        HandleListEnd(&level.listing);
        return false;
    }
    walk.levels.push_back(level);
    return true;
}

// Deletes a link itself, opened as a link; where the system opens what it
// leads to instead (Wine), it stays.
void HeldDeleteLink(HeldWalk& walk, HANDLE parent, const wchar_t* name, size_t length) {
    const HandleOpen open = {DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_LINK, walk.item.index};
    HANDLE link;
    HandleFacts facts;
    const int result = HandleOpenChild(parent, name, length, open, &link, &facts);
    if (result == HANDLE_WALK_GONE) return;
    const bool gone = result == HANDLE_WALK_LINK && HandleDeleteNamed(link, name, length);
    if (link != INVALID_HANDLE_VALUE) CloseHandle(link);
    if (!gone) HeldStayed(walk);
}

void HeldDeleteFile(HeldWalk& walk, HANDLE parent, const wchar_t* name, size_t length) {
    if (walk.item.found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        HeldStayed(walk); // read-only files are never made writable
        return;
    }
    // What the filter passes is what goes: the file stays held, refusing
    // renames, from its check to its deletion. One with further hard links
    // holds data that is also elsewhere: not this walk's to judge.
    const unsigned how = HANDLE_OPEN_FILE | (walk.mayDelete != nullptr ? unsigned(HANDLE_OPEN_ONE_LINK) : 0u);
    const HandleOpen open = {DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, how, walk.item.index};
    HANDLE file;
    HandleFacts facts;
    const int result = HandleOpenChild(parent, name, length, open, &file, &facts);
    if (result == HANDLE_WALK_GONE) return;
    bool gone = false;
    // Under a filter, what is not the file listed was never judged by it.
    bool kept = walk.mayDelete != nullptr && (result == HANDLE_WALK_CHANGED || result == HANDLE_WALK_LINK);
    if (result == HANDLE_WALK_OK && !(facts.attributes & FILE_ATTRIBUTE_READONLY)) {
        kept = walk.mayDelete != nullptr && !walk.mayDelete(walk.context, &walk.relative[0], facts);
        if (!kept) gone = HandleDeleteNamed(file, name, length);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!gone) HeldStayed(walk, kept);
}

// Takes the entry just listed in the deepest level.
void HeldTake(HeldWalk& walk) {
    const HeldLevel& level = walk.levels.back();
    const HANDLE parent = level.folder;
    const WIN32_FIND_DATAW& found = walk.item.found;
    const size_t length = std::wcslen(found.cFileName);
    const size_t at = level.pathLength + (level.pathLength > 0 ? 1 : 0);
    if (at + length + 1 >= walk.relative.size()) {
        walk.failed = 1;
        return;
    }
    if (level.pathLength > 0) walk.relative[level.pathLength] = L'\\';
    std::memcpy(&walk.relative[at], found.cFileName, (length + 1) * sizeof(wchar_t));
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (WideIsLink(found)) {
        // A junction or link leads out of the tree: only the link itself goes.
        if (!folder || walk.removeSubfolders) HeldDeleteLink(walk, parent, found.cFileName, length);
    } else if (!folder) {
        HeldDeleteFile(walk, parent, found.cFileName, length);
    } else {
        const DWORD access = FILE_LIST_DIRECTORY | (walk.removeSubfolders ? DELETE : 0);
        const HandleOpen open = {access, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER,
                                 walk.item.index};
        HANDLE child;
        HandleFacts facts;
        const int result = HandleOpenChild(parent, found.cFileName, length, open, &child, &facts);
        if (result == HANDLE_WALK_OK && HeldEnter(walk, child, at + length)) return; // the path stays on it
        if (child != INVALID_HANDLE_VALUE) CloseHandle(child);
        if (result != HANDLE_WALK_GONE) HeldStayed(walk);
    }
    walk.relative[level.pathLength] = L'\0';
}

// Walks the tree below the held root, depth-first, each folder deleted
// through its own handle once everything in it went, as the mode says.
void HeldWalkTree(HeldWalk& walk, HANDLE root) {
    if (!HeldEnter(walk, root, 0)) {
        HeldStayed(walk);
        return;
    }
    while (!walk.levels.empty()) {
        HeldLevel& level = walk.levels.back();
        const int listed = HandleListNext(&level.listing, &walk.item);
        if (listed == HANDLE_WALK_OK) {
            HeldTake(walk);
            continue;
        }
        // A folder that could not be listed to its end may still hold something.
        if (listed != HANDLE_WALK_GONE) HeldStayed(walk);
        HandleListEnd(&level.listing);
        const HANDLE folder = level.folder;
        const size_t pathLength = level.pathLength;
        const bool holdsLeft = level.holdsLeft;
        walk.levels.pop_back();
        if (walk.levels.empty()) {
            walk.rootHoldsLeft = holdsLeft;
            break;
        }
        // The relative path holds the folder just listed: it goes, and the path returns to its parent.
        const size_t nameAt = walk.levels.back().pathLength + (walk.levels.back().pathLength > 0 ? 1 : 0);
        if (walk.removeSubfolders && !HandleDeleteNamed(folder, &walk.relative[nameAt], pathLength - nameAt))
            FolderLeft(walk, holdsLeft, HeldStayed);
        CloseHandle(folder);
        walk.relative[walk.levels.back().pathLength] = L'\0';
    }
}

int HeldDeleteTree(HANDLE root, int mode, TreeFileFilter mayDelete, void* context,
                   const RemovalReport* report) {
    HeldWalk walk = {};
    walk.relative.assign(WIDE_PATH_CAPACITY, L'\0');
    walk.removeSubfolders = mode >= 0;
    walk.mayDelete = mayDelete;
    walk.context = context;
    walk.report = report;
    HeldWalkTree(walk, root);
    walk.relative[0] = L'\0';
    if (mode > 0 && !HandleDelete(root)) FolderLeft(walk, walk.rootHoldsLeft, HeldStayed);
    return walk.failed;
}

// Deletes the files of the held folder whose long name matches pattern,
// each through its own handle; relative is the folder's path below the
// installation folder, for the report.
int HeldDeleteFiles(HANDLE folder, const char* pattern, const wchar_t* relative,
                    const RemovalReport* report) {
    HandleListing listing;
    HandleListed item;
    int result = 0;
    int listed = HANDLE_WALK_FAILED;
    wchar_t path[2 * MAX_PATH];
    char utf8[4 * MAX_PATH];
    if (HandleListBegin(&listing, folder)) {
        while ((listed = HandleListNext(&listing, &item)) == HANDLE_WALK_OK) {
            const WIN32_FIND_DATAW& found = item.found;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
            // The masks are plain ASCII; a name in UTF-8 meets them letter for letter.
            if (WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, utf8, sizeof utf8, nullptr, nullptr) ==
                    0 ||
                !MaskMatches(pattern, utf8))
                continue;
            const size_t length = std::wcslen(found.cFileName);
            const HandleOpen open = {DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     WideIsLink(found) ? HANDLE_OPEN_LINK : HANDLE_OPEN_FILE, item.index};
            HANDLE file;
            HandleFacts facts;
            const int opened = HandleOpenChild(folder, found.cFileName, length, open, &file, &facts);
            if (opened == HANDLE_WALK_GONE) continue;
            // A link goes only as itself, opened as a link.
            const bool gone = opened == (WideIsLink(found) ? HANDLE_WALK_LINK : HANDLE_WALK_OK) &&
                              !(facts.attributes & FILE_ATTRIBUTE_READONLY) &&
                              HandleDeleteNamed(file, found.cFileName, length);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            if (gone) continue;
            result = 1;
            // Told by its path below the folder; one too long for the buffer by its folder's.
            const size_t relativeLength = std::wcslen(relative);
            const size_t at = relativeLength != 0 ? relativeLength + 1 : 0;
            if (at + length >= sizeof path / sizeof path[0]) {
                Report(report, relative);
                continue;
            }
            std::memcpy(path, relative, relativeLength * sizeof(wchar_t));
            if (at != 0) path[relativeLength] = L'\\';
            std::memcpy(path + at, found.cFileName, (length + 1) * sizeof(wchar_t));
            Report(report, path);
        }
    }
    HandleListEnd(&listing);
    if (listed != HANDLE_WALK_GONE) {
        Report(report, relative);
        result = 1;
    }
    return result;
}

// The path walk's folder: the ANSI text, made a wide long path.
bool WideFolder(const char* folder, std::vector<wchar_t>& path) {
    std::vector<wchar_t> given(WIDE_PATH_CAPACITY);
    path.assign(WIDE_PATH_CAPACITY, L'\0');
    return WideFromAnsi(folder, &given[0], given.size()) && WideLongPath(&given[0], &path[0], path.size());
}

// Deletes the files matching mask in the folder at path, by name (Windows
// 9x, which has neither links nor folder handles); relative is the folder's
// path below the installation folder, for the report.
int PathDeleteFiles(const char* folder, const char* mask, const char* relative, const RemovalReport* report) {
    char path[WORK_CAPACITY];
    if (folder == nullptr || folder[0] == '\0') {
        const DWORD length = GetCurrentDirectoryA(sizeof path, path);
        if (length == 0 || length >= sizeof path) return 1;
    } else if (!TextCopy(path, sizeof path, folder)) {
        return 1;
    }
    if (FolderIsRoot(path)) return 1;
    const size_t folderLength = std::strlen(path);
    if (folderLength > 0 && path[folderLength - 1] != '\\' && !TextAppend(path, sizeof path, "\\")) return 1;
    const size_t nameAt = std::strlen(path);
    const char* pattern = mask != nullptr && mask[0] != '\0' ? mask : ALL_FILES;
    if (!TextAppend(path, sizeof path, pattern)) return 1;

    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA(path, &entry));
    if (!find.valid()) return 0;
    int result = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (!MaskMatches(pattern, entry.cFileName)) continue;
        path[nameAt] = '\0';
        if (!TextAppend(path, sizeof path, entry.cFileName) || !FileDeleteOrGone(path)) {
            result = 1;
            // Told by its path below the installation folder, as the walk by handle tells it.
            char below[WORK_CAPACITY];
            wchar_t name[WORK_CAPACITY];
            const bool named = TextCopy(below, sizeof below, relative) &&
                               (relative[0] == '\0' || TextAppend(below, sizeof below, "\\")) &&
                               TextAppend(below, sizeof below, entry.cFileName);
            // One too long for the buffer is told by its folder's.
            if (!named) TextCopy(below, sizeof below, relative);
            if (WideFromAnsi(below, name, WORK_CAPACITY)) Report(report, name);
        }
    } while (FindNextFileA(find.handle, &entry));
    return result;
}

} // namespace

bool FileDeleteOrGone(const char* path) {
    return DeleteFileA(path) || IsGone(GetLastError());
}

bool FolderRemoveOrGone(const char* path) {
    return RemoveDirectoryA(path) || IsGone(GetLastError());
}

// The comparison stops at the folder's length, so C:\A holds C:\A\B but not
// C:\AB; a folder given with a trailing "\" holds nothing longer than itself.
bool PathIsInFolder(const char* folder, const char* path) {
    if (folder == nullptr || path == nullptr) return false;
    const size_t folderLength = std::strlen(folder);
    const size_t pathLength = std::strlen(path);
    if (pathLength < folderLength) return false;
    if (pathLength > folderLength && path[folderLength] != '\\') return false;
    return TextEqualAZ(folder, path, folderLength);
}

HANDLE FolderHold(const char* folder, bool removable) {
    std::vector<wchar_t> path;
    if (folder == nullptr || folder[0] == '\0' || FolderIsRoot(folder) || !WideFolder(folder, path))
        return INVALID_HANDLE_VALUE;
    return HandleHoldFolder(&path[0], removable ? DELETE : 0);
}

// The system's wildcards also match the short (8.3) names, so "*.LOG" would
// take "notes.logbook" through NOTES~1.LOG; the long name must match as well,
// as whatever the program files' masks miss is the user's data.
int FolderDeleteFiles(const char* folder, const char* mask) {
    if (!HandleWalkAvailable()) return PathDeleteFiles(folder, mask, "", nullptr);
    if (folder == nullptr || folder[0] == '\0' || FolderIsRoot(folder)) return 1;
    const HANDLE held = FolderHold(folder, false);
    if (held == INVALID_HANDLE_VALUE) return IsGone(GetLastError()) ? 0 : 1;
    const int result =
        HeldDeleteFiles(held, mask != nullptr && mask[0] != '\0' ? mask : ALL_FILES, L"", nullptr);
    CloseHandle(held);
    return result;
}

int FolderDeleteTree(const char* folder, int mode) {
    return FolderDeleteTreeFiltered(folder, mode, nullptr, nullptr);
}

int FolderDeleteTreeFiltered(const char* folder, int mode, TreeFileFilter mayDelete, void* context) {
    if (folder == nullptr || folder[0] == '\0') return -1;
    if (FolderIsRoot(folder)) return 1;
    if (!HandleWalkAvailable())
        return FolderDeleteTreeHeld(HeldFolder{INVALID_HANDLE_VALUE, folder}, mode, mayDelete, context,
                                    nullptr);
    const HANDLE held = FolderHold(folder, mode > 0);
    if (held == INVALID_HANDLE_VALUE) return -1;
    const int result = FolderDeleteTreeHeld(HeldFolder{held, folder}, mode, mayDelete, context, nullptr);
    CloseHandle(held);
    return result;
}

int FolderDeleteTreeHeld(const HeldFolder& folder, int mode, TreeFileFilter mayDelete, void* context,
                         const RemovalReport* report) {
    if (folder.handle != INVALID_HANDLE_VALUE)
        return HeldDeleteTree(folder.handle, mode, mayDelete, context, report);
    if (folder.path == nullptr || folder.path[0] == '\0') return -1;
    if (FolderIsRoot(folder.path)) return 1;
    TreeWalk walk = {};
    // A path beyond what the system accepts names no folder the walk could reach.
    if (!WideFolder(folder.path, walk.path)) return -1;
    walk.rootLength = std::wcslen(&walk.path[0]);
    if (walk.path[walk.rootLength - 1] == L'\\') walk.path[--walk.rootLength] = L'\0';
    const DWORD attributes = WideAttributes(&walk.path[0]);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    walk.removeSubfolders = mode >= 0;
    walk.mayDelete = mayDelete;
    walk.context = context;
    walk.report = report;
    WalkTree(walk);
    if (mode > 0 && !DoneOrGone(WideRemoveFolder(&walk.path[0])))
        FolderLeft(walk, walk.rootHoldsLeft, Stayed);
    return walk.failed;
}

namespace {

struct ProgramFiles {
    const wchar_t* subfolder;
    const char* mask;
};

const ProgramFiles PROGRAM_FILES[] = {
    {L"", "*.EXE"},     {L"", "*.LOG"},     {L"DOC", ALL_FILES}, {L"KIVO", "*.EXE"},
    {L"KIVO", "*.DLL"}, {L"KIVO", "*.KIV"}, {L"KIVO", "KV.KV"},  {L"ZAVURE", ALL_FILES},
};

// Windows 9x: by path. A subfolder that is not a plain folder is passed by.
void ProgramFilesByPath(const char* installFolder, const RemovalReport* report) {
    for (const ProgramFiles& files : PROGRAM_FILES) {
        char folder[WORK_CAPACITY];
        char subfolder[16];
        WideCharToMultiByte(CP_ACP, 0, files.subfolder, -1, subfolder, sizeof subfolder, nullptr, nullptr);
        if (!TextCopy(folder, sizeof folder, installFolder) ||
            (subfolder[0] != '\0' &&
             (!TextAppend(folder, sizeof folder, "\\") || !TextAppend(folder, sizeof folder, subfolder))))
            continue;
        const DWORD attributes = GetFileAttributesA(folder);
        if (subfolder[0] != '\0' &&
            (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
             (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
            continue;
        PathDeleteFiles(folder, files.mask, subfolder, report);
    }
}

} // namespace

void ProgramFilesDeleteHeld(const HeldFolder& install, const RemovalReport* report) {
    if (install.handle == INVALID_HANDLE_VALUE) {
        // An empty folder would stand for the current folder and "\DOC" for a
        // folder at the root of the current drive: nothing is deleted then.
        if (install.path != nullptr && install.path[0] != '\0') ProgramFilesByPath(install.path, report);
        return;
    }
    // Each subfolder is held while its files go, refusing renames, and
    // nothing behind a link below the installation folder is ever touched.
    for (const ProgramFiles& files : PROGRAM_FILES) {
        if (files.subfolder[0] == L'\0') {
            HeldDeleteFiles(install.handle, files.mask, L"", report);
            continue;
        }
        const HandleOpen open = {FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER,
                                 0};
        HANDLE folder;
        HandleFacts facts;
        if (HandleOpenNamed(install.handle, files.subfolder, std::wcslen(files.subfolder), open, &folder,
                            &facts) != HANDLE_WALK_OK)
            continue;
        HeldDeleteFiles(folder, files.mask, files.subfolder, report);
        CloseHandle(folder);
    }
}

void ProgramFilesDelete(const char* installFolder) {
    if (installFolder == nullptr || installFolder[0] == '\0') return;
    if (!HandleWalkAvailable()) {
        ProgramFilesByPath(installFolder, nullptr);
        return;
    }
    // The installation folder itself may be a link (a moved installation).
    const HANDLE held = FolderHold(installFolder, false);
    if (held == INVALID_HANDLE_VALUE) return;
    ProgramFilesDeleteHeld(HeldFolder{held, installFolder}, nullptr);
    CloseHandle(held);
}
