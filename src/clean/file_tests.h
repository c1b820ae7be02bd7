// File tests and file copy of the first stage and the shortcut walk.
#pragma once

#include "platform/paths.h" // FileExists

bool FolderExists(const char* path);
const char* PathSkipRoot(const char* path); // null when the path has no root
int FolderCreatePath(const char* folder);   // 0 every folder exists, -1 otherwise
bool PathSameFileName(const char* a, const char* b);
int FileCompareTimes(const char* a, const char* b); // 1 a later, 0 same, -1 earlier
// 0 copied or nothing to do, 1 no source, 2 destination is a folder,
// 3 destination folder not created, 4 copy failed.
int FileCopy(const char* source, const char* destination, int mode);
