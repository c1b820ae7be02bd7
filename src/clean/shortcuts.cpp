#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
#include "platform/scoped_handles.h"
#include "clean/shell_items.h"
#include "clean/shell_notify.h"
#include "clean/shortcut_places.h"
#include "platform/paths.h"
#include "platform/windows_version.h"

#include <objbase.h>
#include <shlobj.h>

#include <climits>
#include <cstring>

bool comInitialized = false;
int (*shortcutUnpin)(const char* path, const char* verb) = ShellItemInvokeVerb;

namespace {

constexpr size_t ROOT_CAPACITY = 261;
constexpr size_t NAME_CAPACITY = 100;
constexpr char DEFAULT_ROOT[] = "c:\\Documents and Settings";
constexpr int NEVER_REMOVED = INT_MAX;

// State of one ShortcutsRemove call, shared by the levels of its walks.
struct ShortcutWalk {
    char root[ROOT_CAPACITY]; // the folder being scanned; each level appends "\" and a name and cuts them off
    char desktopName[NAME_CAPACITY];   // last component of the desktop folder, as the shell names it
    char startMenuName[NAME_CAPACITY]; // last component of the start-menu folder
    const char* installFolder;         // null: a shortcut qualifies when its target is gone
    int depth;                         // of the folder being scanned; the root is 1
    int removalDepth;                  // only folders this deep or deeper are ever removed
    int profileDepth;                  // below this depth only desktops and start menus are entered (0: all)
    const char* unpinVerb;             // in a pin folder, the shell's verb that unpins its shortcuts
    int failed;                        // 1 once a qualifying shortcut could not be deleted
};
ShortcutWalk walk;

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
// stays gets it back, set. The start menu's own folders always stay.
int RemoveGroup() {
    const char* separator = std::strrchr(walk.root, '\\');
    if (ShortcutFolderIsWindows(separator != nullptr ? separator + 1 : walk.root)) return 1;
    const DWORD attributes = GetFileAttributesA(walk.root);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(walk.root, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (FolderRemoveOrGone(walk.root)) {
        ShellNotifyFolderRemoved(walk.root);
        return 0;
    }
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
    // Unpinned by the shell, the taskbar forgets the icon at once; where the
    // shell offers no way, deleting the pin's file is all there is.
    if (walk.unpinVerb != nullptr) shortcutUnpin(walk.root, walk.unpinVerb);
    if (FileDeleteOrGone(walk.root)) {
        ShellNotifyFileDeleted(walk.root);
        return 0;
    }
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
    if (walk.depth == walk.profileDepth && std::strcmp(name, walk.desktopName) != 0 &&
        std::strcmp(name, walk.startMenuName) != 0)
        return 0;
    // A junction, symbolic link or mount point leads out of the folder being
    // walked: it is never entered, and it stays.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 1;
    if (!AppendName(name, 4)) { // room for the sub-folder's "\*.*"
        walk.failed = 1;
        return 1;
    }
    if (ShortcutPathIsPlace(walk.root)) return 1; // walked once, as a place of its own
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

// The folder that holds the profiles, as Windows 2000 and XP lay them out
// (on Windows 9x the folder that holds the desktop), and the names of the
// desktop and start menu within a profile.
void FindProfilesRoot(bool nt, char* root) {
    TextCopy(walk.desktopName, NAME_CAPACITY, "Bureau");
    TextCopy(walk.startMenuName, NAME_CAPACITY, "Menu D\xE9marrer");
    char found[MAX_PATH];
    if (ShellFolderPath(CSIDL_STARTMENU, found)) TakeLastComponent(found, walk.startMenuName);
    root[0] = '\0';
    if (ShellFolderPath(CSIDL_DESKTOPDIRECTORY, found) && std::strchr(found, '\\') != nullptr) {
        TakeLastComponent(found, walk.desktopName); // found is now the user's profile folder
        if (nt) {
            // The folder of all profiles, so that every profile is searched.
            char* separator = std::strrchr(found, '\\');
            if (separator != nullptr)
                *separator = '\0';
            else
                found[0] = '\0';
        }
        TextCopy(root, ROOT_CAPACITY, found);
    }
    if (root[0] == '\0') TextCopy(root, ROOT_CAPACITY, DEFAULT_ROOT);
}

// Depth 1 is the profiles' folder, 2 a profile, 3 its desktop or start menu,
// 4 their own sub-folders (Programs); groups lie below (one level higher on
// Windows 9x, whose walk starts in the profile).
void WalkProfiles(const char* root, bool nt) {
    TextCopy(walk.root, ROOT_CAPACITY, root);
    walk.depth = 0;
    walk.removalDepth = nt ? 5 : 4;
    walk.profileDepth = 2;
    walk.unpinVerb = nullptr;
    ShortcutScanFolder();
}

// Level 1 is the place, 2 its own sub-folders (Programs); groups lie below.
// The shell keeps the folders of Quick Launch and the pins itself.
void WalkPlace(const ShortcutPlace& place) {
    TextCopy(walk.root, ROOT_CAPACITY, place.path);
    walk.depth = 0;
    const bool groups = place.kind == PLACE_DESKTOP || place.kind == PLACE_START_MENU;
    walk.removalDepth = groups ? 3 : NEVER_REMOVED;
    walk.profileDepth = 0;
    walk.unpinVerb = place.kind == PLACE_TASKBAR_PINS ? "taskbarunpin"
                     : place.kind == PLACE_START_PINS ? "startunpin"
                                                      : nullptr;
    ShortcutScanFolder();
}

} // namespace

// Today's walk of the profiles' folder keeps the layouts of Windows 9x to XP;
// the places add those of Vista and later and profiles stored elsewhere.
// Each folder is walked once: the profile walk passes over the places.
int ShortcutsRemove(const char* installFolder) {
    const bool nt = !PlatformIsWindows9x();
    walk.installFolder = installFolder != nullptr && installFolder[0] != '\0' ? installFolder : nullptr;
    walk.failed = 0;
    char root[ROOT_CAPACITY];
    FindProfilesRoot(nt, root);
    if (!ShortcutPlacesCollect(walk.desktopName, walk.startMenuName)) walk.failed = 1;
    char full[MAX_PATH];
    if (PathFullLong(root, full, true) && FolderExists(full) && !ShortcutPathIsPlace(full))
        WalkProfiles(full, nt);
    for (int i = 0; i < ShortcutPlaceCount(); ++i)
        WalkPlace(ShortcutPlaceAt(i));
    ShortcutPlacesRelease();
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
