// Trees of files and folders in the prefix for the cleaning tests.
#pragma once

#include "bench/bench.h"

#include <string>
#include <vector>

// Makes every entry below root: a name ending in "\" is a folder, any other
// a small file. Returns false when one could not be made.
inline bool MakeTree(const std::string& root, const std::vector<std::string>& entries) {
    bool made = bench::MakeFolders(root);
    for (const std::string& entry : entries) {
        const std::string path = root + "\\" + entry;
        if (entry.back() == '\\') {
            made = bench::MakeFolders(path.substr(0, path.size() - 1)) && made;
        } else {
            const size_t slash = path.rfind('\\');
            made = bench::MakeFolders(path.substr(0, slash)) && bench::WriteFileBytes(path, entry) && made;
        }
    }
    return made;
}

inline void AddAttributes(const std::string& path, DWORD attributes) {
    SetFileAttributesA(path.c_str(), GetFileAttributesA(path.c_str()) | attributes);
}

inline bool HasAttributes(const std::string& path, DWORD attributes) {
    const DWORD found = GetFileAttributesA(path.c_str());
    return found != INVALID_FILE_ATTRIBUTES && (found & attributes) == attributes;
}

// Paths beyond MAX_PATH go through the wide functions and the "\\?\" form.
inline std::wstring LongPath(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}
inline bool MakeLongFolder(const std::string& path) {
    return CreateDirectoryW(LongPath(path).c_str(), nullptr);
}
inline bool MakeLongFile(const std::string& path) {
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}
inline bool LongExists(const std::string& path) {
    return GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
