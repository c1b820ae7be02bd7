// The machine's user profiles, as the registry's profile list names them:
// the NT family's list (for a 32-bit program on 64-bit Windows, the system's
// own view of it), the Windows 9x one on Windows 9x.
#pragma once

// A path value of the list itself ("ProfilesDirectory", "ProgramData"), its
// environment references expanded, into path (MAX_PATH bytes). False when
// there is no list or value, or the value is empty, not text or too long.
bool ProfileListReadPath(const char* name, char* path);

// Calls visit with the folder of every profile the list names: each user's
// ProfileImagePath, the profiles shared by all users ("Public") and copied
// for new users ("Default"), and before Vista their names inside the
// profiles' folder ("AllUsersProfile", "DefaultUserProfile"). False when a
// named folder could not be visited because its path does not fit.
bool ProfilesVisit(void (*visit)(const char* profile, void* context), void* context);

// Calls visit with the name of each user's key of the list (the account's
// SID on the NT family) and that profile's folder. False as above.
bool ProfilesVisitUsers(void (*visit)(const char* key, const char* profile, void* context), void* context);
