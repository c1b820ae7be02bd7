// The folders where shortcuts to the product can be, besides the walk of the
// profiles' folder: the shell's folders of the current user and of all
// users, and the desktops, start menus, Quick Launch and pin folders of every
// profile the registry lists. Each folder is listed once, by its full long
// path; none is reached through a link below a profile.
#pragma once

#include <windows.h>

enum ShortcutPlaceKind {
    PLACE_DESKTOP,      // groups below its own sub-folders may go
    PLACE_START_MENU,   // the same, except the start menu's own folders
    PLACE_QUICK_LAUNCH, // its folders (other users' pins among them) belong to the shell and stay
    PLACE_TASKBAR_PINS, // the current user's: shortcuts are unpinned from the taskbar first
    PLACE_START_PINS,   // the current user's: shortcuts are unpinned from the start menu first
};

struct ShortcutPlace {
    char path[MAX_PATH];
    char key[MAX_PATH]; // the path in upper case, for comparisons
    ShortcutPlaceKind kind;
    // 0 for a shell folder, which may itself be a link (a redirected
    // desktop); else the length of the profile (or common) folder it lies
    // below, from which the walk opens it name by name, through no link.
    size_t heldFrom;
};

//--- the list, valid from Collect to Release
// desktopName and startMenuName are the last components of the current
// user's folders, also looked for in every profile (the layout before
// Vista). False when a place could not be listed.
bool ShortcutPlacesCollect(const char* desktopName, const char* startMenuName);
int ShortcutPlaceCount();
const ShortcutPlace& ShortcutPlaceAt(int index);
// Whether path, full and long, names a listed place (any case).
bool ShortcutPathIsPlace(const char* path);
void ShortcutPlacesRelease();

//--- names
// Programs, Startup, Administrative Tools and the other folders that Windows
// itself keeps in a start menu: never removed, even when emptied.
bool ShortcutFolderIsWindows(const char* name);
