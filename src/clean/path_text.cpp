#include "clean/path_text.h"

#include <cstring>

bool TextCopy(char* buffer, size_t capacity, const char* text) {
    const size_t length = std::strlen(text);
    if (length >= capacity) return false;
    std::memcpy(buffer, text, length + 1);
    return true;
}

bool TextAppend(char* buffer, size_t capacity, const char* text) {
    const size_t used = std::strlen(buffer);
    const size_t length = std::strlen(text);
    if (used + length >= capacity) return false;
    std::memcpy(buffer + used, text, length + 1);
    return true;
}

const char* PathLastName(const char* path) {
    const char* separator = std::strrchr(path, '\\');
    return separator != nullptr ? separator + 1 : path;
}

bool PathFolderOf(const char* path, char* folder, size_t capacity) {
    const char* separator = std::strrchr(path, '\\');
    if (separator == nullptr) return false;
    const size_t length = static_cast<size_t>(separator - path);
    if (length >= capacity) return false;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    return true;
}

// Only A to Z: other bytes of the ANSI code page keep their case, as the
// paths written by the installer never depend on them.
char LowerAZ(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool TextEqualAZ(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (LowerAZ(a[i]) != LowerAZ(b[i])) return false;
    return true;
}

bool TextEndsWithAZ(const char* text, const char* ending) {
    const size_t length = std::strlen(text);
    const size_t endingLength = std::strlen(ending);
    return length >= endingLength && TextEqualAZ(text + length - endingLength, ending, endingLength);
}

namespace {

bool OnlySeparators(const char* text) {
    while (*text == '\\')
        ++text;
    return *text == '\0';
}

} // namespace

bool PathIsDriveRoot(const char* path) {
    if (path[0] == '\0') return false;
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (letter && path[1] == ':') return OnlySeparators(path + 2);
    if (path[0] != '\\') return false;
    if (path[1] != '\\') return OnlySeparators(path);
    // "\\server\share": the separators in front of the share and behind it.
    const char* share = std::strchr(path + 2, '\\');
    if (share == nullptr || OnlySeparators(share)) return true;
    const char* rest = std::strchr(share + 1, '\\');
    return rest == nullptr || OnlySeparators(rest);
}

bool MaskMatches(const char* mask, const char* name) {
    if (std::strcmp(mask, "*.*") == 0) return true;
    // Backtracking over the last "*" is enough for masks of "*" and "?".
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask == '?' || (*mask != '\0' && LowerAZ(*mask) == LowerAZ(*name))) {
            ++mask;
            ++name;
        } else if (star != nullptr) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == '\0';
}
