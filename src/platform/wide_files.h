// Files and folders by their wide (UTF-16) names, so that every name the file
// system allows can be reached, at any path length through the \\?\ form. The
// NT family answers through the wide functions; the Windows 9x family, which
// only has stubs of them, through the ANSI ones, in whose code page every name
// it can hold is spelt.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The longest path the wide functions accept, terminating zero included.
constexpr size_t WIDE_PATH_CAPACITY = 32768;

//--- paths
// The full form of path that passes the length limit (\\?\C:\..., \\?\UNC\...)
// into out; the path itself on Windows 9x. False when it does not fit.
bool WideLongPath(const wchar_t* path, wchar_t* out, size_t capacity);
// The ANSI text as a wide one; false when out cannot hold it.
bool WideFromAnsi(const char* text, wchar_t* out, size_t capacity);

//--- the file system
HANDLE WideOpenFile(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                    DWORD disposition, DWORD flags);
HANDLE WideFindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* found);
BOOL WideFindNext(HANDLE search, WIN32_FIND_DATAW* found);
BOOL WideDeleteFile(const wchar_t* path);
BOOL WideRemoveFolder(const wchar_t* path);
DWORD WideAttributes(const wchar_t* path); // INVALID_FILE_ATTRIBUTES when there is nothing

// What an open file's handle tells of the file.
struct WideFileFacts {
    DWORD attributes;
    uint64_t size;
    FILETIME created, accessed, written;
};
// Asks the file system for its attributes, size and times only; false when
// the handle cannot be asked.
bool WideFileFactsOf(HANDLE file, WideFileFacts* facts);

//--- links
// Whether a listed entry is a link to something elsewhere (a junction, mount
// point or symbolic link), which no walk may follow. A folder with any
// reparse point counts as one; a file only with a tag that names another
// object, or with none (Wine), since others (deduplicated or cloud files) hold
// their own data.
bool WideIsLink(const WIN32_FIND_DATAW& found);
