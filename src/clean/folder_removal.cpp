#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
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
    bool pending; // the walk's entry belongs to this level and is not taken yet
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
    bool removeSubfolders; // mode >= 0
    TreeFileFilter mayDelete;
    void* context;
};

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
        walk.levels.push_back(TreeLevel{search, pathLength, true});
    else if (!IsGone(cause))
        walk.failed = 1;
}

void DeleteFileEntry(TreeWalk& walk) {
    const WIN32_FIND_DATAW& entry = walk.entry;
    // A link holds no data of its own: it goes, not what it points to.
    if (!WideIsLink(entry)) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            walk.failed = 1; // read-only files are never made writable
            return;
        }
        if (walk.mayDelete != nullptr &&
            !walk.mayDelete(walk.context, &walk.path[walk.rootLength + 1], entry)) {
            walk.failed = 1;
            return;
        }
    }
    if (!DoneOrGone(WideDeleteFile(&walk.path[0]))) walk.failed = 1;
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
        if (walk.removeSubfolders && !DoneOrGone(WideRemoveFolder(&walk.path[0]))) walk.failed = 1;
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
        walk.levels.pop_back();
        if (walk.levels.empty()) break;
        // The path holds the folder just listed: it goes, and the path returns to its parent.
        if (walk.removeSubfolders && !DoneOrGone(WideRemoveFolder(&walk.path[0]))) walk.failed = 1;
        walk.path[walk.levels.back().pathLength] = L'\0';
    }
}

// A program subfolder (DOC, KIVO, ZAVURE) that may be entered: it is no link
// and, on the NT family, it stays open while its files go, shared without
// the right to delete, so that nobody can rename it or swap a link in for it
// meanwhile. Windows 9x has neither links nor folder handles.
struct SubfolderHold {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool usable = false;

    explicit SubfolderHold(const char* folder) {
        const DWORD attributes = GetFileAttributesA(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return;
        if (PlatformIsWindows9x()) {
            usable = true;
            return;
        }
        handle = CreateFileA(folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        // What was opened is the folder itself, even if a link took its name
        // after the test above.
        BY_HANDLE_FILE_INFORMATION opened;
        usable = handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &opened) &&
                 (opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
    ~SubfolderHold() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    SubfolderHold(const SubfolderHold&) = delete;
    SubfolderHold& operator=(const SubfolderHold&) = delete;
};

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

// The system's wildcards also match the short (8.3) names, so "*.LOG" would
// take "notes.logbook" through NOTES~1.LOG; the long name must match as well,
// as whatever the program files' masks miss is the user's data.
int FolderDeleteFiles(const char* folder, const char* mask) {
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
        if (!TextAppend(path, sizeof path, entry.cFileName) || !FileDeleteOrGone(path)) result = 1;
    } while (FindNextFileA(find.handle, &entry));
    return result;
}

int FolderDeleteTree(const char* folder, int mode) {
    return FolderDeleteTreeFiltered(folder, mode, nullptr, nullptr);
}

int FolderDeleteTreeFiltered(const char* folder, int mode, TreeFileFilter mayDelete, void* context) {
    if (folder == nullptr || folder[0] == '\0') return -1;
    if (FolderIsRoot(folder)) return 1;
    std::vector<wchar_t> given(WIDE_PATH_CAPACITY);
    TreeWalk walk = {};
    walk.path.resize(WIDE_PATH_CAPACITY);
    // A path beyond what the system accepts names no folder the walk could reach.
    if (!WideFromAnsi(folder, &given[0], given.size()) ||
        !WideLongPath(&given[0], &walk.path[0], walk.path.size()))
        return -1;
    walk.rootLength = std::wcslen(&walk.path[0]);
    if (walk.path[walk.rootLength - 1] == L'\\') walk.path[--walk.rootLength] = L'\0';
    const DWORD attributes = WideAttributes(&walk.path[0]);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    walk.removeSubfolders = mode >= 0;
    walk.mayDelete = mayDelete;
    walk.context = context;
    WalkTree(walk);
    if (mode > 0 && !DoneOrGone(WideRemoveFolder(&walk.path[0]))) walk.failed = 1;
    return walk.failed;
}

void ProgramFilesDelete(const char* installFolder) {
    // An empty folder would stand for the current folder and "\DOC" for a
    // folder at the root of the current drive: nothing is deleted then.
    if (installFolder == nullptr || installFolder[0] == '\0') return;
    static const struct {
        const char* subfolder;
        const char* mask;
    } programFiles[] = {
        {"", "*.EXE"},       {"", "*.LOG"},       {"\\DOC", ALL_FILES}, {"\\KIVO", "*.EXE"},
        {"\\KIVO", "*.DLL"}, {"\\KIVO", "*.KIV"}, {"\\KIVO", "KV.KV"},  {"\\ZAVURE", ALL_FILES},
    };
    for (const auto& files : programFiles) {
        char folder[WORK_CAPACITY];
        if (!TextCopy(folder, sizeof folder, installFolder) ||
            !TextAppend(folder, sizeof folder, files.subfolder))
            continue;
        // The installation folder itself may be a link (a moved installation);
        // nothing behind a link below it is ever touched.
        if (files.subfolder[0] == '\0') {
            FolderDeleteFiles(folder, files.mask);
            continue;
        }
        SubfolderHold held(folder);
        if (held.usable) FolderDeleteFiles(folder, files.mask);
    }
}
