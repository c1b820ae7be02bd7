#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
#include "clean/scoped_handles.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

bool comInitialized = false;

namespace {

constexpr size_t ROOT_CAPACITY = 261;
constexpr size_t NAME_CAPACITY = 100;
constexpr char DEFAULT_ROOT[] = "c:\\Documents and Settings";

// State of one ShortcutsRemove call, shared by the levels of its walk.
struct ShortcutWalk {
    char root[ROOT_CAPACITY]; // the folder being scanned; each level appends "\" and a name and cuts them off
    char desktopName[NAME_CAPACITY];   // last component of the desktop folder, as the shell names it
    char startMenuName[NAME_CAPACITY]; // last component of the start-menu folder
    const char* installFolder;         // null: a shortcut qualifies when its target is gone
    int depth;                         // of the folder being scanned; the root is 1
    int removalDepth;                  // only folders this deep or deeper are ever removed
    int failed;                        // 1 once a qualifying shortcut could not be deleted
};
ShortcutWalk walk;

bool SpecialFolderPath(int csidl, char* path) {
    path[0] = '\0';
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || items == nullptr) return false;
    const bool found = SHGetPathFromIDListA(items, path) != FALSE;
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(items);
        allocator->Release();
    }
    return found && path[0] != '\0';
}

// A name longer than the walk's name buffer keeps the default: no folder the
// walk compares it with could match a cut name anyway.
void TakeLastComponent(char* path, char* name) {
    char* separator = std::strrchr(path, '\\');
    if (separator == nullptr) return;
    TextCopy(name, NAME_CAPACITY, separator + 1);
    *separator = '\0';
}

bool AppendName(const char* name, size_t extra) {
    if (std::strlen(walk.root) + 1 + std::strlen(name) + extra >= ROOT_CAPACITY) return false;
    TextAppend(walk.root, ROOT_CAPACITY, "\\");
    TextAppend(walk.root, ROOT_CAPACITY, name);
    return true;
}

// Clears the read-only bit, which would stop the removal; a folder that
// stays gets it back, set.
int RemoveGroup() {
    const DWORD attributes = GetFileAttributesA(walk.root);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(walk.root, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (FolderRemoveOrGone(walk.root)) return 0;
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(walk.root, attributes | FILE_ATTRIBUTE_READONLY);
    return 1;
}

int ShortcutScanFolder();

// Returns 1 when the entry stays in its folder.
int ScanShortcut(const WIN32_FIND_DATAA& entry) {
    if (!AppendName(entry.cFileName, 0)) {
        walk.failed = 1; // not examined, so it may be one of ours
        return 1;
    }
    char target[MAX_PATH];
    ShortcutGetTarget(walk.root, target);
    if (target[0] == '\0') return 1;
    const bool qualifies = walk.installFolder != nullptr
                               ? PathIsInFolder(walk.installFolder, target)
                               : GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES;
    if (!qualifies) return 1;
    // A hidden shortcut is shown again rather than deleted.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0) {
        SetFileAttributesA(walk.root, entry.dwFileAttributes & ~FILE_ATTRIBUTE_HIDDEN);
        return 1;
    }
    if (FileDeleteOrGone(walk.root)) return 0;
    walk.failed = 1;
    return 1;
}

int ScanEntry(const WIN32_FIND_DATAA& entry) {
    const char* name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const bool shortcut = std::strlen(name) >= 5 && TextEndsWithAZ(name, ".lnk");
        return shortcut ? ScanShortcut(entry) : 1;
    }
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return 0;
    // In a profile only the desktop and the start menu are searched.
    if (walk.depth == 2 && std::strcmp(name, walk.desktopName) != 0 &&
        std::strcmp(name, walk.startMenuName) != 0)
        return 0;
    if (!AppendName(name, 4)) { // room for the sub-folder's "\*.*"
        walk.failed = 1;
        return 1;
    }
    return ShortcutScanFolder();
}

// Scans walk.root; returns 1 when something stays in it.
int ShortcutScanFolder() {
    const size_t length = std::strlen(walk.root);
    if (!TextAppend(walk.root, ROOT_CAPACITY, "\\*.*")) {
        walk.failed = 1; // a root too long to enumerate is not searched, and says so
        return 1;
    }
    ++walk.depth;
    bool listed = false;
    int keep = 0;
    {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA(walk.root, &entry));
        listed = find.valid();
        if (listed) {
            do {
                walk.root[length] = '\0';
                if (ScanEntry(entry) != 0) keep = 1;
            } while (FindNextFileA(find.handle, &entry));
        }
    }
    walk.root[length] = '\0';

    int result = 0;
    if (!listed && walk.depth >= walk.removalDepth) {
        const DWORD attributes = GetFileAttributesA(walk.root);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0) {
            SetFileAttributesA(walk.root, attributes & ~FILE_ATTRIBUTE_HIDDEN);
            result = 1;
        } else {
            result = RemoveGroup();
        }
    } else if (keep != 0) {
        result = 1;
    } else if (walk.depth >= walk.removalDepth) {
        result = RemoveGroup();
    }
    --walk.depth;
    return result;
}

} // namespace

int ShortcutsRemove(const char* installFolder) {
    TextCopy(walk.desktopName, NAME_CAPACITY, "Bureau");
    TextCopy(walk.startMenuName, NAME_CAPACITY, "Menu D\xE9marrer");
    const bool nt = (GetVersion() & 0x80000000u) == 0;

    char found[MAX_PATH];
    if (SpecialFolderPath(CSIDL_STARTMENU, found)) TakeLastComponent(found, walk.startMenuName);
    walk.root[0] = '\0';
    if (SpecialFolderPath(CSIDL_DESKTOPDIRECTORY, found) && std::strchr(found, '\\') != nullptr) {
        TakeLastComponent(found, walk.desktopName); // found is now the user's profile folder
        if (nt) {
            // The folder of all profiles, so that every profile is searched.
            char* separator = std::strrchr(found, '\\');
            if (separator != nullptr)
                *separator = '\0';
            else
                found[0] = '\0';
        }
        TextCopy(walk.root, ROOT_CAPACITY, found);
    }
    if (walk.root[0] == '\0') TextCopy(walk.root, ROOT_CAPACITY, DEFAULT_ROOT);
    if (!FolderExists(walk.root)) return 1;

    walk.depth = 0;
    walk.failed = 0;
    walk.removalDepth = nt ? 5 : 4;
    walk.installFolder = installFolder != nullptr && installFolder[0] != '\0' ? installFolder : nullptr;
    ShortcutScanFolder();
    return walk.failed == 0 ? 1 : 0;
}

// COM stays initialised from the first read until the driver's ReleaseCom.
void ShortcutGetTarget(const char* shortcutPath, char* target) {
    target[0] = '\0';
    if (!comInitialized && SUCCEEDED(CoInitialize(nullptr))) comInitialized = true;
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, shortcutPath, -1, widePath, MAX_PATH) == 0) return;
    ComInterface<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.pointer))))
        return;
    ComInterface<IPersistFile> file;
    if (FAILED(link.pointer->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.pointer))))
        return;
    if (FAILED(file.pointer->Load(widePath, STGM_READ))) return;
    WIN32_FIND_DATAA data;
    if (FAILED(link.pointer->GetPath(target, MAX_PATH, &data, SLGP_UNCPRIORITY))) target[0] = '\0';
    target[MAX_PATH - 1] = '\0';
}
