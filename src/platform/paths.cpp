#include "platform/paths.h"

#include "platform/windows_version.h"

#include <windows.h>

#include <cstring>

bool PathFullLong(const char* path, char* full, bool mustExist) {
    char expanded[MAX_PATH];
    char* filePart = nullptr;
    const DWORD fullLength = GetFullPathNameA(path, MAX_PATH, expanded, &filePart);
    if (fullLength == 0 || fullLength >= MAX_PATH) return false;
    // Windows 95 and NT 4 have no long-name call, and a program that imported
    // it would not start there; their shell gives long names anyway.
    using LongPathFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    static const LongPathFunction longPath =
        PlatformFunction<LongPathFunction>(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA");
    if (longPath != nullptr) {
        const DWORD length = longPath(expanded, full, MAX_PATH);
        if (length != 0 && length < MAX_PATH) return true;
        if (mustExist) return false;
    } else if (mustExist && GetFileAttributesA(expanded) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    std::memcpy(full, expanded, fullLength + 1);
    return true;
}

bool FileExists(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

unsigned PathSystemWindowsFolder(char* path, unsigned capacity) {
    using WindowsFolderFunction = UINT(WINAPI*)(LPSTR, UINT);
    static const WindowsFolderFunction systemWindowsFolder = PlatformFunction<WindowsFolderFunction>(
        GetModuleHandleA("kernel32.dll"), "GetSystemWindowsDirectoryA");
    return systemWindowsFolder != nullptr ? systemWindowsFolder(path, capacity)
                                          : GetWindowsDirectoryA(path, capacity);
}
