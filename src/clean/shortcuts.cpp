#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
#include "clean/shell_items.h"
#include "clean/shell_notify.h"
#include "clean/shortcut_places.h"
#include "platform/handle_walk.h"
#include "platform/paths.h"
#include "platform/scoped_handles.h"
#include "platform/wide_files.h"
#include "platform/windows_version.h"

#include <objbase.h>
#include <shlobj.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

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

// One entry of a folder's listing: its name as the walk's path spells it
// and, where the walk goes by handle, as the file system does, with the
// index it was listed with.
struct Entry {
    char name[MAX_PATH];
    const wchar_t* wide;
    DWORD attributes;
    uint64_t index;
};

// The folder being scanned: held by handle on the NT family (the folder the
// walk opened relative to its parent, refusing renames while it is walked),
// reached by walk.root on Windows 9x.
struct Folder {
    HANDLE handle;
    bool removed; // its removal is set on the handle: it goes when that closes
};

// The NT family's handle to the folder scanned, for deletions through it.
bool ByHandle(const Folder& folder) {
    return folder.handle != INVALID_HANDLE_VALUE;
}

// Clears the read-only bit, which would stop the removal; a folder that
// stays gets it back, set. The start menu's own folders always stay.
int RemoveGroup(Folder& folder) {
    const char* separator = std::strrchr(walk.root, '\\');
    if (ShortcutFolderIsWindows(separator != nullptr ? separator + 1 : walk.root)) return 1;
    if (ByHandle(folder)) {
        HandleFacts facts;
        const bool known = HandleFactsOf(folder.handle, &facts, false);
        if (known && (facts.attributes & FILE_ATTRIBUTE_READONLY))
            HandleSetAttributes(folder.handle, facts.attributes & ~FILE_ATTRIBUTE_READONLY);
        if (HandleDelete(folder.handle)) {
            folder.removed = true;
            return 0;
        }
        if (known && (facts.attributes & FILE_ATTRIBUTE_READONLY))
            HandleSetAttributes(folder.handle, facts.attributes);
        return 1;
    }
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

int ShortcutScanFolder(Folder& folder);

// Reads the shortcut's target from its open file, through the shell's link
// object: what is judged is what was opened, not whatever the path names by
// then. A file too large for a shortcut has no target. ole32's memory stream
// is looked up at run time, as every call not established on the oldest
// systems; without it the target is unknown and the shortcut stays.
constexpr DWORD LARGEST_SHORTCUT = 1u << 20;
void ShortcutTargetOf(HANDLE file, char* target) {
    target[0] = '\0';
    using MemoryStreamFunction = HRESULT(WINAPI*)(HGLOBAL, BOOL, IStream**);
    const auto memoryStream =
        PlatformFunction<MemoryStreamFunction>(GetModuleHandleA("ole32.dll"), "CreateStreamOnHGlobal");
    const DWORD size = GetFileSize(file, nullptr);
    if (memoryStream == nullptr || size == INVALID_FILE_SIZE || size > LARGEST_SHORTCUT) return;
    if (!comInitialized && SUCCEEDED(CoInitialize(nullptr))) comInitialized = true;
    void* bytes = std::malloc(size != 0 ? size : 1);
    if (bytes == nullptr) return;
    DWORD got = 0;
    ULONG written = 0;
    const LARGE_INTEGER start = {};
    ComInterface<IStream> stream;
    const bool loaded = ReadFile(file, bytes, size, &got, nullptr) && got == size &&
                        SUCCEEDED(memoryStream(nullptr, TRUE, &stream.pointer)) &&
                        SUCCEEDED(stream.pointer->Write(bytes, size, &written)) && written == size &&
                        SUCCEEDED(stream.pointer->Seek(start, STREAM_SEEK_SET, nullptr));
    std::free(bytes);
    if (!loaded) return;
    ComInterface<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.pointer))))
        return;
    ComInterface<IPersistStream> persist;
    if (FAILED(
            link.pointer->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist.pointer))) ||
        FAILED(persist.pointer->Load(stream.pointer)))
        return;
    WIN32_FIND_DATAA data;
    if (FAILED(link.pointer->GetPath(target, MAX_PATH, &data, SLGP_UNCPRIORITY))) target[0] = '\0';
    target[MAX_PATH - 1] = '\0';
}

bool Qualifies(const char* target) {
    if (target[0] == '\0') return false;
    return walk.installFolder != nullptr ? PathIsInFolder(walk.installFolder, target)
                                         : GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES;
}

// 0 when the shortcut went (Explorer is told); 1 when it stays (reported).
int ShortcutOutcome(bool gone) {
    if (gone) {
        ShellNotifyFileDeleted(walk.root);
        return 0;
    }
    walk.failed = 1;
    RemovalFailed("shortcut", walk.root);
    return 1;
}

// The NT family: the shortcut is read through a handle of its own, then, when
// it qualifies, opened again to be deleted, and must be the same file.
// Returns 1 when it stays.
int ScanShortcutByHandle(const Folder& folder, const Entry& entry) {
    const size_t length = std::wcslen(entry.wide);
    HANDLE read;
    HandleFacts facts;
    const HandleOpen reading = {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                HANDLE_OPEN_FILE, entry.index};
    const int opened = HandleOpenChild(folder.handle, entry.wide, length, reading, &read, &facts);
    if (opened == HANDLE_WALK_GONE) return 0;
    if (opened != HANDLE_WALK_OK) return 1; // a link, or no longer what was listed: not ours to judge
    char target[MAX_PATH];
    ShortcutTargetOf(read, target);
    CloseHandle(read);
    if (!Qualifies(target)) return 1;
    HANDLE file;
    const HandleOpen removing = {DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 HANDLE_OPEN_FILE, facts.index};
    const int reopened = HandleOpenChild(folder.handle, entry.wide, length, removing, &file, &facts);
    if (reopened == HANDLE_WALK_GONE) return 0;
    bool gone = false;
    if (reopened == HANDLE_WALK_OK && (facts.attributes & FILE_ATTRIBUTE_HIDDEN)) {
        // A hidden shortcut is shown again rather than deleted.
        HandleSetAttributes(file, facts.attributes & ~FILE_ATTRIBUTE_HIDDEN);
        CloseHandle(file);
        return 1;
    }
    if (reopened == HANDLE_WALK_OK) {
        // Unpinned by the shell, the taskbar forgets the icon at once; where
        // the shell offers no way, deleting the pin's file is all there is.
        if (walk.unpinVerb != nullptr) shortcutUnpin(walk.root, walk.unpinVerb);
        gone = HandleDeleteNamed(file, entry.wide, length);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return ShortcutOutcome(gone);
}

// Returns 1 when the entry stays in its folder.
int ScanShortcut(const Folder& folder, const Entry& entry) {
    if (!AppendName(entry.name, 0)) {
        walk.failed = 1; // not examined, so it may be one of ours
        return 1;
    }
    if (ByHandle(folder)) return ScanShortcutByHandle(folder, entry);
    char target[MAX_PATH];
    ShortcutGetTarget(walk.root, target);
    if (!Qualifies(target)) return 1;
    if ((entry.attributes & FILE_ATTRIBUTE_HIDDEN) != 0) {
        SetFileAttributesA(walk.root, entry.attributes & ~FILE_ATTRIBUTE_HIDDEN);
        return 1;
    }
    if (walk.unpinVerb != nullptr) shortcutUnpin(walk.root, walk.unpinVerb);
    return ShortcutOutcome(FileDeleteOrGone(walk.root));
}

// Scans the subfolder whose path walk.root holds: on the NT family opened
// by its name relative to the folder that listed it, and checked to be the
// folder listed. Returns 1 when something stays of it.
int ScanSubfolder(const Folder& parent, const Entry& entry) {
    if (!ByHandle(parent)) {
        Folder folder = {INVALID_HANDLE_VALUE, false};
        return ShortcutScanFolder(folder);
    }
    const HandleOpen open = {FILE_LIST_DIRECTORY | DELETE | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER, entry.index};
    Folder folder = {INVALID_HANDLE_VALUE, false};
    HandleFacts facts;
    const int opened =
        HandleOpenChild(parent.handle, entry.wide, std::wcslen(entry.wide), open, &folder.handle, &facts);
    if (opened == HANDLE_WALK_GONE) return 0;
    if (opened != HANDLE_WALK_OK) return 1; // a link, or no longer the folder listed, stays
    const int result = ShortcutScanFolder(folder);
    CloseHandle(folder.handle);
    if (folder.removed) ShellNotifyFolderRemoved(walk.root);
    return result;
}

int ScanEntry(const Folder& folder, const Entry& entry) {
    const char* name = entry.name;
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const bool shortcut = std::strlen(name) >= 5 && TextEndsWithAZ(name, ".lnk");
        return shortcut ? ScanShortcut(folder, entry) : 1;
    }
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return 0;
    // In a profile only the desktop and the start menu are searched.
    if (walk.depth == walk.profileDepth && std::strcmp(name, walk.desktopName) != 0 &&
        std::strcmp(name, walk.startMenuName) != 0)
        return 0;
    // A junction, symbolic link or mount point leads out of the folder being
    // walked: it is never entered, and it stays.
    if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 1;
    if (!AppendName(name, 4)) { // room for the sub-folder's "\*.*"
        walk.failed = 1;
        return 1;
    }
    if (ShortcutPathIsPlace(walk.root)) return 1; // walked once, as a place of its own
    return ScanSubfolder(folder, entry);
}

// Lists the folder, each entry handed to ScanEntry; false when it could not
// be listed at all. keep becomes 1 when something stays.
bool ListFolder(const Folder& folder, size_t length, int* keep) {
    if (ByHandle(folder)) {
        HandleListing listing;
        HandleListed listed;
        bool any = HandleListBegin(&listing, folder.handle);
        int next = HANDLE_WALK_FAILED;
        while (any && (next = HandleListNext(&listing, &listed)) == HANDLE_WALK_OK) {
            Entry entry = {"", listed.found.cFileName, listed.found.dwFileAttributes, listed.index};
            // The walk's path spells the name in the ANSI code page, as the shell's calls take it.
            if (WideCharToMultiByte(CP_ACP, 0, entry.wide, -1, entry.name, MAX_PATH, nullptr, nullptr) == 0)
                entry.name[0] = '\0';
            walk.root[length] = '\0';
            if (entry.name[0] == '\0' || ScanEntry(folder, entry) != 0) *keep = 1;
        }
        HandleListEnd(&listing);
        walk.root[length] = '\0';
        // A folder not listed to its end may hold what was not seen.
        if (any && next != HANDLE_WALK_GONE) *keep = 1;
        return any;
    }
    WIN32_FIND_DATAA found;
    FindHandle find(FindFirstFileA(walk.root, &found));
    if (!find.valid()) return false;
    do {
        walk.root[length] = '\0';
        Entry entry = {"", nullptr, found.dwFileAttributes, 0};
        std::memcpy(entry.name, found.cFileName, sizeof found.cFileName);
        if (ScanEntry(folder, entry) != 0) *keep = 1;
    } while (FindNextFileA(find.handle, &found));
    return true;
}

// Scans walk.root; returns 1 when something stays in it.
int ShortcutScanFolder(Folder& folder) {
    const size_t length = std::strlen(walk.root);
    if (!TextAppend(walk.root, ROOT_CAPACITY, "\\*.*")) {
        walk.failed = 1; // a root too long to enumerate is not searched, and says so
        return 1;
    }
    ++walk.depth;
    int keep = 0;
    const bool listed = ListFolder(folder, length, &keep);
    walk.root[length] = '\0';

    int result = 0;
    if (!listed && walk.depth >= walk.removalDepth) {
        HandleFacts facts = {};
        const DWORD attributes =
            ByHandle(folder)
                ? (HandleFactsOf(folder.handle, &facts, false) ? facts.attributes : INVALID_FILE_ATTRIBUTES)
                : GetFileAttributesA(walk.root);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0) {
            if (ByHandle(folder))
                HandleSetAttributes(folder.handle, attributes & ~FILE_ATTRIBUTE_HIDDEN);
            else
                SetFileAttributesA(walk.root, attributes & ~FILE_ATTRIBUTE_HIDDEN);
            result = 1;
        } else {
            result = RemoveGroup(folder);
        }
    } else if (keep != 0) {
        result = 1;
    } else if (walk.depth >= walk.removalDepth) {
        result = RemoveGroup(folder);
    }
    --walk.depth;
    return result;
}

// Opens the place a walk starts from: on the NT family held by handle, the
// part below its profile reached name by name through no link; the shell's
// own folders may be links themselves. False when it is not there.
bool OpenPlace(const char* path, size_t heldFrom, Folder* folder) {
    folder->handle = INVALID_HANDLE_VALUE;
    folder->removed = false;
    if (!HandleWalkAvailable()) return true;
    wchar_t wide[MAX_PATH];
    if (!WideFromAnsi(path, wide, MAX_PATH)) return false;
    const size_t from = heldFrom != 0
                            ? size_t(MultiByteToWideChar(CP_ACP, 0, path, int(heldFrom), nullptr, 0))
                            : std::wcslen(wide);
    const wchar_t kept = wide[from];
    wide[from] = L'\0';
    HANDLE held = HandleHoldFolder(wide, 0);
    wide[from] = kept;
    const wchar_t* name = wide + from;
    while (held != INVALID_HANDLE_VALUE && *name == L'\\') {
        ++name;
        const wchar_t* end = name;
        while (*end != L'\0' && *end != L'\\')
            ++end;
        const HandleOpen open = {FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER,
                                 0};
        HANDLE next;
        HandleFacts facts;
        if (HandleOpenNamed(held, name, size_t(end - name), open, &next, &facts) != HANDLE_WALK_OK)
            next = INVALID_HANDLE_VALUE;
        CloseHandle(held);
        held = next;
        name = end;
    }
    folder->handle = held;
    return held != INVALID_HANDLE_VALUE;
}

void ScanPlace(const char* path, size_t heldFrom) {
    Folder folder;
    if (!OpenPlace(path, heldFrom, &folder)) return;
    ShortcutScanFolder(folder);
    if (ByHandle(folder)) CloseHandle(folder.handle);
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
    ScanPlace(root, 0);
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
    ScanPlace(place.path, place.heldFrom);
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
