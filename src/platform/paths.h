// Paths made full and long, as Windows spells them on the disk: relative
// parts, "." and "..", "/" and short (8.3) names resolved, so that two
// spellings of one folder compare equal.
#pragma once

// The full path of path with long names into full (MAX_PATH bytes). A path
// that does not exist, or whose long form does not fit, gives false when
// mustExist, otherwise its full form as it is. False when the full form
// does not fit. A trailing "\" stays.
bool PathFullLong(const char* path, char* full, bool mustExist);

// Whether path names a file (not a folder) that exists.
bool FileExists(const char* path);

// The shared Windows folder into path, as GetSystemWindowsDirectoryA: on a
// terminal server GetWindowsDirectoryA gives each user's own. Systems before
// Windows 2000 lack the call and have one Windows folder. The length, or 0.
unsigned PathSystemWindowsFolder(char* path, unsigned capacity);
