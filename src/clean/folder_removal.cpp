#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
#include "clean/scoped_handles.h"

#include <cstring>

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

bool HasRoomFor(const char* path, const char* name, size_t extra) {
    return std::strlen(path) + 1 + std::strlen(name) + extra < WORK_CAPACITY;
}

// State of one FolderDeleteTree call, shared by its recursion levels.
struct TreeWalk {
    char path[WORK_CAPACITY]; // the folder being walked; each level appends "\" and a name and cuts them off
    int failed;               // 1 once anything stayed
    bool removeSubfolders;    // mode >= 0
};
TreeWalk treeWalk;

void TreeWalkFolder(bool removeFolder);

void TreeWalkEntry(const WIN32_FIND_DATAA& entry) {
    const char* name = entry.cFileName;
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)) return;
    if (!folder && (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        treeWalk.failed = 1; // read-only files are never made writable
        return;
    }
    // A sub-folder also needs room for its own "\*.*".
    if (!HasRoomFor(treeWalk.path, name, folder ? 4 : 0)) {
        treeWalk.failed = 1;
        return;
    }
    TextAppend(treeWalk.path, WORK_CAPACITY, "\\");
    TextAppend(treeWalk.path, WORK_CAPACITY, name);
    if (!folder) {
        if (!FileDeleteOrGone(treeWalk.path)) treeWalk.failed = 1;
        return;
    }
    // A junction or link leads out of the tree: only the link itself goes,
    // never what it points to.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (treeWalk.removeSubfolders && !FolderRemoveOrGone(treeWalk.path)) treeWalk.failed = 1;
        return;
    }
    TreeWalkFolder(treeWalk.removeSubfolders);
}

void TreeWalkFolder(bool removeFolder) {
    const size_t length = std::strlen(treeWalk.path);
    if (TextAppend(treeWalk.path, WORK_CAPACITY, "\\*.*")) {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA(treeWalk.path, &entry));
        if (find.valid()) {
            do {
                treeWalk.path[length] = '\0';
                TreeWalkEntry(entry);
            } while (FindNextFileA(find.handle, &entry));
        }
    } else {
        treeWalk.failed = 1;
    }
    treeWalk.path[length] = '\0';
    if (removeFolder && !FolderRemoveOrGone(treeWalk.path)) treeWalk.failed = 1;
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
        if ((GetVersion() & 0x80000000u) != 0) {
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
    // A path beyond the working buffer names no folder the walk could reach.
    if (folder == nullptr || folder[0] == '\0' || !TextCopy(treeWalk.path, WORK_CAPACITY, folder)) return -1;
    const size_t length = std::strlen(treeWalk.path);
    if (treeWalk.path[length - 1] == '\\') treeWalk.path[length - 1] = '\0';
    if (treeWalk.path[0] == '\0' || FolderIsRoot(treeWalk.path)) return 1; // "" was "\", a root too
    if (!FolderExists(treeWalk.path)) return -1;
    treeWalk.failed = 0;
    treeWalk.removeSubfolders = mode >= 0;
    TreeWalkFolder(mode > 0);
    return treeWalk.failed;
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
