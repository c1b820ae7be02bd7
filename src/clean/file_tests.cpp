#include "clean/file_tests.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr int CREATE_PATH_CAPACITY = 520; // FileCopy's targets reach this length

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char FoldCase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The last write in whole seconds, 0 when the file cannot be found. Read
// from the folder's listing, which every Windows has (msvcrt's 64-bit stat
// came with Me and 2000); a name with wildcards finds nothing.
long long ModificationTime(const char* path) {
    if (std::strchr(path, '*') != nullptr || std::strchr(path, '?') != nullptr) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32) |
        found.ftLastWriteTime.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000u);
}

} // namespace

bool FolderExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A bare drive, a drive root and a drive-relative path have nothing behind a
// root; neither has a relative path. For \\server\share\rest it is "rest".
const char* PathSkipRoot(const char* path) {
    size_t length = strlen(path);
    if (length >= 2 && IsLetter(path[0]) && path[1] == ':')
        return length > 3 && path[2] == '\\' ? path + 3 : nullptr;
    if (path[0] != '\\' || length <= 1) return nullptr;
    if (path[1] != '\\') return path + 1;
    const char* server = strchr(path + 2, '\\');
    if (server == nullptr) return nullptr;
    const char* share = strchr(server + 1, '\\');
    return share != nullptr ? share + 1 : nullptr;
}

int FolderCreatePath(const char* folder) {
    char work[CREATE_PATH_CAPACITY];
    size_t length = strnlen(folder, CREATE_PATH_CAPACITY);
    if (length >= CREATE_PATH_CAPACITY) return -1;
    memcpy(work, folder, length + 1);
    const char* rest = PathSkipRoot(work);
    if (rest == nullptr) return -1;
    char* part = work + (rest - work);
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    while (*part != '\0') {
        char* separator = strchr(part, '\\');
        if (separator != nullptr) *separator = '\0';
        // An existing folder along the way is what we want; a file of that
        // name is not, and the path cannot be completed through it.
        if (!CreateDirectoryA(work, &security) &&
            (GetLastError() != ERROR_ALREADY_EXISTS || !FolderExists(work)))
            return -1;
        if (separator == nullptr) break;
        *separator = '\\';
        part = separator + 1;
    }
    return 0;
}

bool PathSameFileName(const char* a, const char* b) {
    const char* nameA = strrchr(a, '\\');
    const char* nameB = strrchr(b, '\\');
    if (nameA == nullptr) nameA = a;
    if (nameB == nullptr) nameB = b;
    for (; *nameA != '\0' && FoldCase(*nameA) == FoldCase(*nameB); ++nameA, ++nameB) {
    }
    return FoldCase(*nameA) == FoldCase(*nameB);
}

int FileCompareTimes(const char* a, const char* b) {
    long long timeA = ModificationTime(a);
    long long timeB = ModificationTime(b);
    return timeA > timeB ? 1 : (timeA == timeB ? 0 : -1);
}
