// Folder archiving: every file below a folder, depth-first, in the order in
// which the file system lists them. The walk lists the whole tree first, so
// that the archive knows how many bytes lie ahead, then adds the files. It
// works on wide names in the long path form, so that no name or depth the
// file system allows stops it, and it never enters or archives a link.
#include <windows.h>

#include "platform/wide_files.h"
#include "zip/zip.h"

#include <cstring>
#include <cwchar>

namespace {

// How a listed file is opened: as it is, refusing a link that replaced it
// since the listing, or through its reparse point, whose filter holds the
// data (a deduplicated or cloud file).
enum : wchar_t { OPEN_PLAIN = L'p', OPEN_THROUGH = L't' };

// One level of the walk: its search and the length of its folder's path.
struct Level {
    HANDLE search;
    size_t pathLength;
    bool pending; // the walk's item holds an entry of this level not yet taken
};

// The walk's working path and what every level shares.
struct FolderWalk {
    ZipArchive* archive;
    wchar_t* path;     // the folder being listed (long form), extended in place by each level
    size_t rootLength; // the folder's own part of the path
    wchar_t* files;    // the files found: an open mode, the path below the folder, a zero; back to back
    size_t filesLength;
    size_t filesCapacity;
    uint64_t bytes; // the listed sizes of the files
    Level* levels;
    size_t depth;
    size_t levelCapacity;
    WIN32_FIND_DATAW item;
};

bool IsSkippedFolder(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// Grows a heap block of units of the given size to hold needed units.
bool GrowBlock(void** block, size_t* capacity, size_t needed, size_t unit) {
    if (needed <= *capacity) return true;
    size_t grown = *capacity * 2 > needed ? *capacity * 2 : needed;
    if (grown < 256) grown = 256;
    if (uint64_t(grown) * unit > 0xFFFFFFF0u) return false;
    void* larger = ZipAlloc(static_cast<uint32_t>(grown * unit));
    if (larger == nullptr) return false;
    if (*block != nullptr) std::memcpy(larger, *block, *capacity * unit);
    ZipFree(*block);
    *block = larger;
    *capacity = grown;
    return true;
}

// Puts text at path[at], or refuses when it would not fit with its
// terminator: a walk that cannot hold a path must fail, not skip the file.
bool PlaceAt(FolderWalk* walk, size_t at, const wchar_t* text) {
    const size_t length = std::wcslen(text);
    if (at + length >= WIDE_PATH_CAPACITY) return false;
    std::memcpy(walk->path + at, text, (length + 1) * sizeof(wchar_t));
    return true;
}

// Starts listing the folder whose path (pathLength units) is in the working
// path. A folder that is not there holds nothing to lose; one that is there
// but cannot be listed may hold files, so the walk must not pass it.
int EnterFolder(FolderWalk* walk, size_t pathLength) {
    if (!PlaceAt(walk, pathLength, L"\\*")) return ZIP_ERR_TOOBIG;
    HANDLE search = WideFindFirst(walk->path, &walk->item);
    const DWORD cause = GetLastError();
    walk->path[pathLength] = L'\0';
    if (search == INVALID_HANDLE_VALUE)
        return cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND ? ZIP_OK : ZIP_ERR_OPEN;
    if (!GrowBlock(reinterpret_cast<void**>(&walk->levels), &walk->levelCapacity, walk->depth + 1,
                   sizeof(Level))) {
        FindClose(search);
        return ZIP_ERR_NOMEM;
    }
    walk->levels[walk->depth++] = Level{search, pathLength, true};
    return ZIP_OK;
}

int NoteFile(FolderWalk* walk, size_t pathLength, wchar_t mode) {
    const wchar_t* relative = walk->path + walk->rootLength + 1;
    const size_t length = pathLength - walk->rootLength - 1;
    if (!GrowBlock(reinterpret_cast<void**>(&walk->files), &walk->filesCapacity,
                   walk->filesLength + length + 2, sizeof(wchar_t)))
        return ZIP_ERR_NOMEM;
    walk->files[walk->filesLength] = mode;
    std::memcpy(walk->files + walk->filesLength + 1, relative, (length + 1) * sizeof(wchar_t));
    walk->filesLength += length + 2;
    walk->bytes += (uint64_t(walk->item.nFileSizeHigh) << 32) | walk->item.nFileSizeLow;
    return ZIP_OK;
}

// Takes the pending entry of the deepest level: a file is noted, a folder
// entered; links and the folder's own entries are passed by.
int TakeItem(FolderWalk* walk) {
    Level& level = walk->levels[walk->depth - 1];
    level.pending = false;
    const WIN32_FIND_DATAW& item = walk->item;
    const bool folder = (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((folder && IsSkippedFolder(item.cFileName)) || WideIsLink(item)) return ZIP_OK;
    if (!PlaceAt(walk, level.pathLength, L"\\") || !PlaceAt(walk, level.pathLength + 1, item.cFileName))
        return ZIP_ERR_TOOBIG;
    const size_t length = std::wcslen(walk->path);
    if (folder) return EnterFolder(walk, length);
    const bool through = (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return NoteFile(walk, length, through ? OPEN_THROUGH : OPEN_PLAIN);
}

// Lists every file below the folder, depth-first in listing order.
int ListTree(FolderWalk* walk) {
    int result = EnterFolder(walk, walk->rootLength);
    while (result == ZIP_OK && walk->depth > 0) {
        Level& level = walk->levels[walk->depth - 1];
        if (level.pending) {
            result = TakeItem(walk);
            continue;
        }
        if (WideFindNext(level.search, &walk->item)) {
            level.pending = true;
            continue;
        }
        // Anything but the end of the list means files went unseen.
        if (GetLastError() != ERROR_NO_MORE_FILES) result = ZIP_ERR_READ;
        FindClose(level.search);
        walk->depth -= 1;
    }
    while (walk->depth > 0)
        FindClose(walk->levels[--walk->depth].search);
    return result;
}

// Archives one listed file under namePrefix + its path below the folder. A
// file gone since the listing holds nothing to lose, and one that has become
// a link since then is passed by like any link.
int AddFile(FolderWalk* walk, const wchar_t* listed, wchar_t* name, size_t prefixLength) {
    const wchar_t* relative = listed + 1;
    walk->path[walk->rootLength] = L'\\';
    if (!PlaceAt(walk, walk->rootLength + 1, relative)) return ZIP_ERR_TOOBIG;
    const DWORD flags =
        FILE_FLAG_SEQUENTIAL_SCAN | (listed[0] == OPEN_PLAIN ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE file = WideOpenFile(walk->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD cause = GetLastError();
        return cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND ? ZIP_OK : ZIP_ERR_OPEN;
    }
    WideFileFacts opened;
    int result = WideFileFactsOf(file, &opened) ? ZIP_OK : ZIP_ERR_OPEN;
    if (result == ZIP_OK && listed[0] == OPEN_PLAIN && (opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(file);
        return ZIP_OK;
    }
    if (result == ZIP_OK) {
        std::memcpy(name + prefixLength, relative, (std::wcslen(relative) + 1) * sizeof(wchar_t));
        result = ZipAddEntryW(walk->archive, name, file, 0, ZIP_KIND_HANDLE);
    }
    CloseHandle(file);
    return result;
}

// Puts the folder's text, slashes made backslashes and without a final one,
// into text; its length, or 0 when it is empty or too long.
size_t FolderText(const char* folder, char* text) {
    size_t length = std::strlen(folder);
    if (length >= WIDE_PATH_CAPACITY) return 0;
    std::memcpy(text, folder, length + 1);
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '/') text[i] = '\\';
    if (length > 0 && text[length - 1] == '\\') text[--length] = '\0';
    return length;
}

int ArchiveTree(FolderWalk* walk, const char* folder, int prefixLength) {
    char* text = static_cast<char*>(ZipAlloc(WIDE_PATH_CAPACITY));
    wchar_t* wide = static_cast<wchar_t*>(ZipAlloc(WIDE_PATH_CAPACITY * sizeof(wchar_t)));
    wchar_t* name = static_cast<wchar_t*>(ZipAlloc(2 * WIDE_PATH_CAPACITY * sizeof(wchar_t)));
    int result = text != nullptr && wide != nullptr && name != nullptr ? ZIP_OK : ZIP_ERR_NOMEM;
    const size_t length = result == ZIP_OK ? FolderText(folder, text) : 0;
    if (result == ZIP_OK) result = ZipFolderNamePrefix(folder, prefixLength, name, WIDE_PATH_CAPACITY);
    // A bare drive stands for its root here, not for its current folder.
    if (result == ZIP_OK && length == 2 && text[1] == ':') std::memcpy(text + 2, "\\", 2);
    if (result == ZIP_OK && (!WideFromAnsi(text, wide, WIDE_PATH_CAPACITY) ||
                             !WideLongPath(wide, walk->path, WIDE_PATH_CAPACITY)))
        result = ZIP_ERR_TOOBIG;
    if (result == ZIP_OK) {
        walk->rootLength = std::wcslen(walk->path);
        if (walk->rootLength > 0 && walk->path[walk->rootLength - 1] == L'\\')
            walk->path[--walk->rootLength] = 0;
        result = ListTree(walk);
    }
    if (result == ZIP_OK) {
        walk->archive->progressTotal += walk->bytes;
        const size_t prefix = std::wcslen(name);
        for (size_t at = 0; result == ZIP_OK && at < walk->filesLength;
             at += std::wcslen(walk->files + at) + 1)
            result = AddFile(walk, walk->files + at, name, prefix);
    }
    ZipFree(text);
    ZipFree(wide);
    ZipFree(name);
    return result;
}

} // namespace

// The names keep the folder text from prefixLength on, then a backslash;
// from one past the folder's end on they are relative to the folder.
int ZipFolderNamePrefix(const char* folder, int prefixLength, wchar_t* out, size_t capacity) {
    if (folder == nullptr || prefixLength < -1 || capacity < 2) return ZIP_ERR_ARGS;
    char* text = static_cast<char*>(ZipAlloc(WIDE_PATH_CAPACITY));
    if (text == nullptr) return ZIP_ERR_NOMEM;
    const size_t length = FolderText(folder, text);
    const size_t skip = prefixLength == -1 ? length + 1 : size_t(prefixLength);
    int result = length != 0                                 ? ZIP_OK
                 : std::strlen(folder) >= WIDE_PATH_CAPACITY ? ZIP_ERR_TOOBIG
                                                             : ZIP_ERR_ARGS;
    if (result == ZIP_OK && skip > length + 1) result = ZIP_ERR_ARGS;
    out[0] = L'\0';
    if (result == ZIP_OK && skip <= length) {
        const int units = MultiByteToWideChar(CP_ACP, 0, text + skip, static_cast<int>(length - skip), out,
                                              static_cast<int>(capacity - 2));
        if (units == 0 && length > skip) result = ZIP_ERR_TOOBIG;
        out[units] = L'\\';
        out[units + 1] = L'\0';
    }
    ZipFree(text);
    return result;
}

int ZipAddFolderTree(ZipArchive* archive, const char* folder, int prefixLength) {
    if (archive == nullptr) return ZIP_ERR_ARGS;
    // An empty folder path would walk the root of the current drive.
    if (folder == nullptr || *folder == '\0' || prefixLength < -1) return ZIP_ERR_ARGS;
    FolderWalk walk = {};
    walk.archive = archive;
    walk.path = static_cast<wchar_t*>(ZipAlloc(WIDE_PATH_CAPACITY * sizeof(wchar_t)));
    const int result = walk.path != nullptr ? ArchiveTree(&walk, folder, prefixLength) : ZIP_ERR_NOMEM;
    ZipFree(walk.path);
    ZipFree(walk.files);
    ZipFree(walk.levels);
    return result;
}
