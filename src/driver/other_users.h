// The per-user traces of the product in every user's hive, not only in the
// running account's.
#pragma once

#include <windows.h>

// Software\TMW\KIVO of one user's hive, and Software\TMW with it when that
// then holds nothing else. 0 gone; 1 never there; -1 KIVO's key stayed.
int UserSettingsRemove(HKEY userRoot);

// Every other user of the profile list: the per-user associations, the two
// user variables and, with removeUserSettings, the settings. A hive that
// cannot be loaded is logged and skipped; a change to a logged-on user's
// variables is announced with the running user's.
void OtherUsersRemoveTraces(int removeUserSettings);
