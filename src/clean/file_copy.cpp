#include "clean/file_tests.h"
#include "clean/path_text.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int TARGET_CAPACITY = 520;

// False when the target does not fit: it is refused, never cut short.
bool BuildTarget(const char* source, const char* destination, char* target) {
    size_t length = strlen(destination);
    int written;
    if (length == 0)
        written = snprintf(target, TARGET_CAPACITY, "%s", PathLastName(source));
    else if (destination[length - 1] == '\\')
        written = snprintf(target, TARGET_CAPACITY, "%s%s", destination, PathLastName(source));
    else
        written = snprintf(target, TARGET_CAPACITY, "%s", destination);
    return written >= 0 && written < TARGET_CAPACITY;
}

// Creates the folder part of the target when it is missing; false on failure.
bool EnsureTargetFolder(char* target) {
    char* separator = strrchr(target, '\\');
    if (separator == nullptr) return true;
    *separator = '\0';
    bool ready = target[0] == '\0' || FolderExists(target) || FolderCreatePath(target) == 0;
    *separator = '\\';
    return ready;
}

} // namespace

int FileCopy(const char* source, const char* destination, int mode) {
    if (source == nullptr || source[0] == '\0' || !FileExists(source)) return 1;
    char target[TARGET_CAPACITY];
    if (!BuildTarget(source, destination != nullptr ? destination : "", target)) return 4;

    bool targetExists = FileExists(target);
    if (!targetExists) {
        if (FolderExists(target)) return 2;
        if (!EnsureTargetFolder(target)) return 3;
    }

    bool copy = mode > 0 || !targetExists || !PathSameFileName(source, target);
    if (!copy && mode < 0) copy = FileCompareTimes(source, target) == 1;
    if (!copy) return 0;
    return CopyFileA(source, target, FALSE) ? 0 : 4;
}
