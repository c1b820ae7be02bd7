// The hives of the machine's other users, as the registry's profile list
// names them (the NT family only: Windows 9x keeps one user's settings at a time).
#pragma once

#include <windows.h>

// A SID in text form: "S-1-" and at most 15 numbers of at most 10 digits.
constexpr int SID_TEXT_CAPACITY = 184;

// One user's hive as the visit sees it. user is null when the hive could not
// be loaded (error says why); classes is null when the user has no classes
// hive of its own (before Windows 2000, or none was found) or when the one
// found could not be loaded (classesError says why).
struct UserHive {
    const char* sid;
    const char* file; // the NTUSER.DAT loaded; empty for a logged-on user's hive
    HKEY user;
    HKEY classes;
    LONG error;
    LONG classesError;
};

// Tests only: when set, the account taken for the one running the program.
extern const char* userHivesRunningSid;

// The running account's SID as text into sid (SID_TEXT_CAPACITY bytes);
// false when it cannot be read.
bool UserHivesRunningSid(char* sid);

// Calls visit for every user of the profile list but the running account
// (compared by SID): with the user's loaded hive under HKEY_USERS, or else
// with the profile's NTUSER.DAT (and UsrClass.dat) loaded under private,
// unpredictable names while the visit runs, with the backup and restore
// privileges enabled only for that time. Keys of the list that are no SID
// (a ".bak" copy) are not users. Nothing on Windows 9x. False, visiting
// nobody, when the running account's SID cannot be read.
bool UserHivesVisit(void (*visit)(const UserHive* hive, void* context), void* context);

// Unloads every hive a stopped run left loaded under HKEY_USERS (named
// "KIVO-" and exactly 16 hexadecimal digits, as the visit names them; no
// second run is ever under way), with the backup and restore privileges
// enabled for that time; told is called with each name and the unload's
// result. Nothing on Windows 9x.
void UserHivesUnloadLeftOver(void (*told)(const char* name, LONG result, void* context), void* context);
