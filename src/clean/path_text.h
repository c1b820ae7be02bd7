// Path texts of the cleaning operations: bounded copies, comparisons that
// ignore the case of A to Z, and the tests the deletions make before they
// touch anything. Plain C++, no system calls.
#pragma once

#include <cstddef>

//--- bounded buffers (false and the buffer unchanged when the text does not fit)
bool TextCopy(char* buffer, size_t capacity, const char* text);
bool TextAppend(char* buffer, size_t capacity, const char* text);

//--- parts
// What follows the path's last "\" (the whole path when it has none).
const char* PathLastName(const char* path);
// The path before its last "\"; false (folder unchanged) when it has none or
// that does not fit.
bool PathFolderOf(const char* path, char* folder, size_t capacity);

//--- comparisons
char LowerAZ(char c);
bool TextEqualAZ(const char* a, const char* b, size_t length); // first length bytes
bool TextEndsWithAZ(const char* text, const char* ending);

//--- tests
// A bare drive ("C:"), a drive root ("C:\"), the current drive's root ("\")
// or a share root ("\\server\share"), with or without trailing "\".
bool PathIsDriveRoot(const char* path);
// Whether a long file name matches a mask of "*" and "?" (A to Z without
// regard to case; "*.*" matches every name).
bool MaskMatches(const char* mask, const char* name);
