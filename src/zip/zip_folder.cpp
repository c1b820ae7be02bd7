// Folder archiving: every file below a folder, depth-first, in the order in
// which the file system lists them.
#include <windows.h>

#include "zip/zip.h"

#include <cstring>

namespace {

// The walk's working path and what every level shares.
struct FolderWalk {
    ZipArchive* archive;
    char path[MAX_PATH]; // the folder being listed, extended in place by each level
    size_t prefixLength; // leading bytes of a full path that the archive name leaves out
    WIN32_FIND_DATAA item;
};

// Puts text at path[at], or refuses when it would not fit with its
// terminator: a walk that cannot hold a path must fail, not skip the file.
bool PlaceAt(FolderWalk* walk, size_t at, const char* text) {
    const size_t length = std::strlen(text);
    if (at + length >= sizeof(walk->path)) return false;
    std::memcpy(walk->path + at, text, length + 1);
    return true;
}

// Only the folder itself and its parent are skipped: a folder whose name
// merely begins with two dots holds files like any other, and leaving them
// out would let the folder be deleted with them.
bool IsSkippedFolder(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

int AddFile(FolderWalk* walk) {
    if (walk->prefixLength > std::strlen(walk->path)) return ZIP_ERR_ARGS;
    return ZipAddEntry(walk->archive, walk->path + walk->prefixLength, walk->path, 0, ZIP_KIND_FILE);
}

// Walks the folder whose path (of pathLength bytes) is in the working path.
int WalkFolder(FolderWalk* walk, size_t pathLength) {
    if (!PlaceAt(walk, pathLength, "\\*.*")) return ZIP_ERR_TOOBIG;
    HANDLE search = FindFirstFileA(walk->path, &walk->item);
    if (search == INVALID_HANDLE_VALUE) {
        // A folder that is not there holds nothing to lose; one that is there
        // but cannot be listed may hold files, so the walk must not pass it.
        const DWORD cause = GetLastError();
        return cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND ? ZIP_OK : ZIP_ERR_OPEN;
    }
    int result = ZIP_OK;
    for (;;) {
        // Each level reads the shared record before it descends.
        const bool isFolder = (walk->item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!(isFolder && IsSkippedFolder(walk->item.cFileName))) {
            walk->path[pathLength] = '\0';
            if (!PlaceAt(walk, pathLength, "\\") || !PlaceAt(walk, pathLength + 1, walk->item.cFileName))
                result = ZIP_ERR_TOOBIG;
            else if (isFolder)
                result = WalkFolder(walk, std::strlen(walk->path));
            else
                result = AddFile(walk);
            if (result != ZIP_OK) break;
        }
        if (!FindNextFileA(search, &walk->item)) {
            // Anything but the end of the list means files went unseen.
            if (GetLastError() != ERROR_NO_MORE_FILES) result = ZIP_ERR_READ;
            break;
        }
    }
    FindClose(search);
    return result;
}

} // namespace

int ZipAddFolderTree(ZipArchive* archive, const char* folder, int prefixLength) {
    if (archive == nullptr) return ZIP_ERR_ARGS;
    // An empty folder path would walk the root of the current drive.
    if (folder == nullptr || *folder == '\0' || prefixLength < -1) return ZIP_ERR_ARGS;
    FolderWalk walk = {};
    walk.archive = archive;
    if (!PlaceAt(&walk, 0, folder)) return ZIP_ERR_TOOBIG;
    size_t length = std::strlen(walk.path);
    for (size_t i = 0; i < length; ++i)
        if (walk.path[i] == '/') walk.path[i] = '\\';
    if (length > 0 && walk.path[length - 1] == '\\') walk.path[--length] = '\0';
    walk.prefixLength = prefixLength == -1 ? length + 1 : size_t(prefixLength);
    return WalkFolder(&walk, length);
}
