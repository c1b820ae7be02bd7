#include "clean/shortcut_places.h"

#include "clean/clean.h"
#include "clean/path_text.h"
#include "clean/shell_items.h"
#include "platform/paths.h"
#include "platform/profiles.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char QUICK_LAUNCH[] = "\\Microsoft\\Internet Explorer\\Quick Launch";
constexpr char TASKBAR_PINS[] = "\\User Pinned\\TaskBar";
constexpr char START_PINS[] = "\\User Pinned\\StartMenu";
constexpr char ROAMING[] = "AppData\\Roaming";
constexpr char COMMON_START_MENU[] = "\\Microsoft\\Windows\\Start Menu";

// The names Windows gives its own start-menu folders on the disk (translated
// only for display since Vista); the shell adds the current translations.
const char* const WINDOWS_FOLDERS[] = {
    "Programs",
    "Startup",
    "Administrative Tools",
    "Accessories",
    "Accessibility",
    "System Tools",
    "Maintenance",
    "Tablet PC",
    "Games",
    "Entertainment",
    "Communications",
    "Windows PowerShell",
    "Windows System",
    "Windows Tools",
    "Windows Administrative Tools",
    "Windows Accessories",
    "Windows Ease of Access",
};
const int SHELL_WINDOWS_FOLDERS[] = {CSIDL_PROGRAMS,       CSIDL_COMMON_PROGRAMS,  CSIDL_STARTUP,
                                     CSIDL_COMMON_STARTUP, CSIDL_ALTSTARTUP,       CSIDL_COMMON_ALTSTARTUP,
                                     CSIDL_ADMINTOOLS,     CSIDL_COMMON_ADMINTOOLS};
constexpr int SHELL_NAME_COUNT = sizeof SHELL_WINDOWS_FOLDERS / sizeof SHELL_WINDOWS_FOLDERS[0];

// A folder of a profile, relative to the profile folder.
struct ProfileFolder {
    char relative[MAX_PATH];
    ShortcutPlaceKind kind;
};
constexpr int PROFILE_FOLDER_CAPACITY = 16;

struct PlaceList {
    ShortcutPlace* places; // malloc'ed
    int count;
    int capacity;
    bool complete; // false once a place could not be listed
    ProfileFolder folders[PROFILE_FOLDER_CAPACITY];
    int folderCount;
    char shellNames[SHELL_NAME_COUNT][MAX_PATH]; // translated names of the start menu's own folders
};
PlaceList list;

// Upper case through the system's tables, so that names beyond A to Z
// (accented start menus of translated Windows XP) compare as the file
// system does.
bool MakeKey(const char* text, char* key) {
    if (!TextCopy(key, MAX_PATH, text)) return false;
    CharUpperBuffA(key, static_cast<DWORD>(std::strlen(key)));
    return true;
}

bool SameIgnoringCase(const char* a, const char* b) {
    char keyA[MAX_PATH];
    char keyB[MAX_PATH];
    return MakeKey(a, keyA) && MakeKey(b, keyB) && std::strcmp(keyA, keyB) == 0;
}

// A place whose path does not fit is not searched, and that is said.
bool Join(char* path, const char* folder, const char* separator, const char* name) {
    if (TextCopy(path, MAX_PATH, folder) && TextAppend(path, MAX_PATH, separator) &&
        TextAppend(path, MAX_PATH, name))
        return true;
    list.complete = false;
    return false;
}

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether a folder on the way from the profile down to its relative folder,
// that folder included, is a link: such a place is not walked, as the link
// leads out of the profile (the Vista "Start Menu" junction, for one).
bool LinkBelow(const char* profile, const char* relative) {
    char path[MAX_PATH];
    if (!TextCopy(path, MAX_PATH, profile)) return true;
    const size_t profileLength = std::strlen(path);
    if (!TextAppend(path, MAX_PATH, "\\") || !TextAppend(path, MAX_PATH, relative)) return true;
    for (size_t at = profileLength + 1; path[at - 1] != '\0'; ++at) {
        if (path[at] != '\\' && path[at] != '\0') continue;
        const char kept = path[at];
        path[at] = '\0';
        const bool link = IsLink(GetFileAttributesA(path));
        path[at] = kept;
        if (link) return true;
    }
    return false;
}

// Adds an existing folder unless it is listed already. A shell folder may
// itself be a link (a redirected desktop: below null); a folder joined below
// a profile is opened from the profile, through no link, when it is walked.
void AddPlace(const char* path, ShortcutPlaceKind kind, const char* below) {
    ShortcutPlace place;
    place.heldFrom = 0;
    if (!PathFullLong(path, place.path, true)) return; // not there, nothing to walk
    const DWORD attributes = GetFileAttributesA(place.path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return;
    if (below != nullptr) {
        char folder[MAX_PATH];
        if (IsLink(attributes) || !PathFullLong(below, folder, true) || !PathIsInFolder(folder, place.path) ||
            place.path[std::strlen(folder)] != '\\')
            return;
        place.heldFrom = std::strlen(folder);
    }
    if (!MakeKey(place.path, place.key)) return;
    for (int i = 0; i < list.count; ++i)
        if (std::strcmp(list.places[i].key, place.key) == 0) return;
    if (list.count == list.capacity) {
        const int capacity = list.capacity == 0 ? 32 : list.capacity * 2;
        void* grown = std::realloc(list.places, static_cast<size_t>(capacity) * sizeof(ShortcutPlace));
        if (grown == nullptr) {
            list.complete = false;
            return;
        }
        list.places = static_cast<ShortcutPlace*>(grown);
        list.capacity = capacity;
    }
    place.kind = kind;
    list.places[list.count++] = place;
}

// The current user's Quick Launch and its two pin folders. Other users'
// pins are met as files in their Quick Launch: the shell's unpinning acts
// on the current user's taskbar only.
void AddOwnQuickLaunch(const char* appData) {
    char quickLaunch[MAX_PATH];
    char pins[MAX_PATH];
    if (!Join(quickLaunch, appData, "", QUICK_LAUNCH)) return;
    AddPlace(quickLaunch, PLACE_QUICK_LAUNCH, nullptr);
    if (Join(pins, quickLaunch, "", TASKBAR_PINS)) AddPlace(pins, PLACE_TASKBAR_PINS, nullptr);
    if (Join(pins, quickLaunch, "", START_PINS)) AddPlace(pins, PLACE_START_PINS, nullptr);
}

void AddProfileFolder(const char* relative, ShortcutPlaceKind kind) {
    if (relative[0] == '\0' || list.folderCount == PROFILE_FOLDER_CAPACITY) return;
    for (int i = 0; i < list.folderCount; ++i)
        if (list.folders[i].kind == kind && SameIgnoringCase(list.folders[i].relative, relative)) return;
    ProfileFolder& folder = list.folders[list.folderCount];
    if (!TextCopy(folder.relative, MAX_PATH, relative)) return;
    folder.kind = kind;
    ++list.folderCount;
}

void AddQuickLaunchFolder(const char* appData) {
    char relative[MAX_PATH];
    if (Join(relative, appData, "", QUICK_LAUNCH)) AddProfileFolder(relative, PLACE_QUICK_LAUNCH);
}

// The part of the current user's folder below the profile, or "" when the
// folder lies elsewhere (redirected).
const char* BelowProfile(const char* profile, const char* folder) {
    const size_t length = std::strlen(profile);
    if (length == 0 || !PathIsInFolder(profile, folder) || folder[length] != '\\') return "";
    return folder + length + 1;
}

// Every profile is searched in the layouts of all Windows families: the
// names since Vista, the names beside the current user's desktop, and where
// the current user's own folders lie within the profile.
void LearnProfileLayout(const char* profile, const char* desktopName, const char* startMenuName) {
    list.folderCount = 0;
    AddProfileFolder("Desktop", PLACE_DESKTOP);
    AddProfileFolder("AppData\\Roaming\\Microsoft\\Windows\\Start Menu", PLACE_START_MENU);
    AddQuickLaunchFolder(ROAMING);
    AddProfileFolder(desktopName, PLACE_DESKTOP);
    AddProfileFolder(startMenuName, PLACE_START_MENU);
    char folder[MAX_PATH];
    if (ShellFolderPath(CSIDL_DESKTOPDIRECTORY, folder))
        AddProfileFolder(BelowProfile(profile, folder), PLACE_DESKTOP);
    if (ShellFolderPath(CSIDL_STARTMENU, folder))
        AddProfileFolder(BelowProfile(profile, folder), PLACE_START_MENU);
    if (ShellFolderPath(CSIDL_APPDATA, folder) && BelowProfile(profile, folder)[0] != '\0')
        AddQuickLaunchFolder(BelowProfile(profile, folder));
}

void AddProfile(const char* profile) {
    char path[MAX_PATH];
    for (int i = 0; i < list.folderCount; ++i) {
        const ProfileFolder& folder = list.folders[i];
        if (Join(path, profile, "\\", folder.relative) && !LinkBelow(profile, folder.relative))
            AddPlace(path, folder.kind, profile);
    }
}

// Each profile's folder, the profiles shared by all users and the default
// profile (new users' copies), and the common start menu under ProgramData.
void AddRegisteredProfiles() {
    if (!ProfilesVisit([](const char* profile, void*) { AddProfile(profile); }, nullptr))
        list.complete = false;
    char folder[MAX_PATH];
    char path[MAX_PATH];
    if (ProfileListReadPath("ProgramData", folder) && Join(path, folder, "", COMMON_START_MENU))
        AddPlace(path, PLACE_START_MENU, folder);
}

} // namespace

bool ShortcutPlacesCollect(const char* desktopName, const char* startMenuName) {
    ShortcutPlacesRelease();
    list.complete = true;
    char folder[MAX_PATH];
    for (int i = 0; i < SHELL_NAME_COUNT; ++i) {
        list.shellNames[i][0] = '\0';
        if (ShellFolderPath(SHELL_WINDOWS_FOLDERS[i], folder))
            TextCopy(list.shellNames[i], MAX_PATH, PathLastName(folder));
    }

    // The shell's own answers first: they may lie anywhere, even behind a link.
    const struct {
        int csidl;
        ShortcutPlaceKind kind;
    } shellPlaces[] = {{CSIDL_DESKTOPDIRECTORY, PLACE_DESKTOP},
                       {CSIDL_STARTMENU, PLACE_START_MENU},
                       {CSIDL_COMMON_DESKTOPDIRECTORY, PLACE_DESKTOP},
                       {CSIDL_COMMON_STARTMENU, PLACE_START_MENU}};
    for (const auto& shellPlace : shellPlaces)
        if (ShellFolderPath(shellPlace.csidl, folder)) AddPlace(folder, shellPlace.kind, nullptr);
    if (ShellFolderPath(CSIDL_APPDATA, folder)) AddOwnQuickLaunch(folder);

    // The current user's profile, which Windows 9x does not name.
    char profile[MAX_PATH];
    if (!ShellFolderPath(CSIDL_PROFILE, profile)) {
        if (ShellFolderPath(CSIDL_DESKTOPDIRECTORY, profile) && std::strrchr(profile, '\\') != nullptr)
            *std::strrchr(profile, '\\') = '\0';
        else
            profile[0] = '\0';
    }
    LearnProfileLayout(profile, desktopName, startMenuName);
    if (profile[0] != '\0') AddProfile(profile);
    AddRegisteredProfiles();
    return list.complete;
}

int ShortcutPlaceCount() {
    return list.count;
}

const ShortcutPlace& ShortcutPlaceAt(int index) {
    return list.places[index];
}

bool ShortcutPathIsPlace(const char* path) {
    char key[MAX_PATH];
    if (!MakeKey(path, key)) return false;
    for (int i = 0; i < list.count; ++i)
        if (std::strcmp(list.places[i].key, key) == 0) return true;
    return false;
}

void ShortcutPlacesRelease() {
    std::free(list.places);
    list.places = nullptr;
    list.count = 0;
    list.capacity = 0;
}

bool ShortcutFolderIsWindows(const char* name) {
    for (const char* windowsName : WINDOWS_FOLDERS)
        if (SameIgnoringCase(name, windowsName)) return true;
    for (const char* shellName : list.shellNames)
        if (shellName[0] != '\0' && SameIgnoringCase(name, shellName)) return true;
    return false;
}
