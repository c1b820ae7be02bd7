#include "driver/relaunch_argument.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char* relaunchMarker = "//tmw//";

namespace {

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Windows drops trailing dots and blanks from a path component, so a component
// made of nothing else names no folder of its own (".." is handled apart).
// Only the blank itself is dropped: a tab is part of the name.
bool NamesNoFolder(const char* start, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (start[i] != '.' && start[i] != ' ') return false;
    return true;
}

// Control characters, wildcards, quotes, pipes and redirections never occur
// in a Windows file name; a ":" past the drive would name a data stream.
bool HoldsBadCharacter(const char* folder) {
    for (const char* c = folder; *c != '\0'; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u < 32 || std::strchr("<>\"|?*", *c) != nullptr || (*c == ':' && c != folder + 1)) return true;
    }
    return false;
}

// folder, "\" unless the folder ends with one (or, when driveIsEnough, with
// ":"), then name.
bool JoinBelow(const char* folder, const char* name, char* out, int capacity, bool driveIsEnough) {
    size_t length = strlen(folder);
    char last = length > 0 ? folder[length - 1] : '\0';
    bool ownSeparator = last == '\\' || (driveIsEnough && last == ':');
    return TextFormat(out, capacity, ownSeparator ? "%s%s" : "%s\\%s", folder, name);
}

} // namespace

bool TextFormat(char* out, int capacity, const char* format, ...) {
    if (capacity <= 0) return false;
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(out, static_cast<size_t>(capacity), format, arguments);
    va_end(arguments);
    if (length < 0 || length >= capacity) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool IsFirstStageArgument(const char* argumentText) {
    return strnlen(argumentText, FIRST_STAGE_LIMIT) < static_cast<size_t>(FIRST_STAGE_LIMIT);
}

// Layout: a double quote, the marker at 1 to 7, one character that is never
// examined at 8, the drive at 9 and 10, the rest of the folder, a double quote.
RelaunchCheck RelaunchArgumentCheck(const char* argumentText, char* folderOut, int folderCapacity) {
    if (folderCapacity > 0) folderOut[0] = '\0';
    size_t length = strnlen(argumentText, ARGUMENT_CAPACITY);
    if (length >= static_cast<size_t>(ARGUMENT_CAPACITY)) return RELAUNCH_TOO_LONG;
    if (length < static_cast<size_t>(FIRST_STAGE_LIMIT)) return RELAUNCH_TOO_SHORT;

    char work[ARGUMENT_CAPACITY];
    memcpy(work, argumentText, length + 1);
    if (work[0] != '"') return RELAUNCH_NO_OPENING_QUOTE;
    if (work[10] != ':') return RELAUNCH_NO_DRIVE;
    work[8] = '\0';
    if (strcmp(work + 1, relaunchMarker) != 0) return RELAUNCH_BAD_MARKER;
    if (work[length - 1] != '"') return RELAUNCH_NO_CLOSING_QUOTE;

    work[length - 1] = '\0';
    const char* folder = work + 9;
    size_t folderLength = length - 10;
    if (folderLength >= static_cast<size_t>(folderCapacity)) return RELAUNCH_FOLDER_TOO_LONG;
    // The later steps delete and archive this folder: a whole drive is never one.
    if (FolderIsRoot(folder)) return RELAUNCH_ROOT_FOLDER;
    // "C:KIVO" lies below whatever the copy's current folder on C: is, which
    // is not the folder the user confirmed.
    if (!IsSeparator(folder[2])) return RELAUNCH_RELATIVE_FOLDER;
    if (HoldsBadCharacter(folder)) return RELAUNCH_BAD_CHARACTER;
    memcpy(folderOut, folder, folderLength + 1);
    return RELAUNCH_OK;
}

bool RelaunchArgumentBuild(const char* folder, char* out, int capacity) {
    return TextFormat(out, capacity, "\"%s %s\"", relaunchMarker, folder);
}

// The name is quoted so that a program file name with blanks still leaves the
// copy exactly the relaunch argument as its argument text.
bool CopyCommandLineBuild(const char* programName, const char* argument, char* out, int capacity) {
    return TextFormat(out, capacity, "\"%s\" %s", programName, argument);
}

bool PathJoin(const char* folder, const char* name, char* out, int capacity) {
    return JoinBelow(folder, name, out, capacity, true);
}

// TEMP or an install location given as a bare drive still means that drive's
// root, not its current folder.
bool FolderJoin(const char* folder, const char* name, char* out, int capacity) {
    return JoinBelow(folder, name, out, capacity, false);
}

// Trailing backslashes are dropped first: "C:\Apps\KIVO\KIVO\" still has
// C:\Apps\KIVO above it, not the program folder itself.
bool ProgramFolderParent(char* folder) {
    size_t length = strlen(folder);
    while (length > 0 && folder[length - 1] == '\\')
        folder[--length] = '\0';
    char* last = strrchr(folder, '\\');
    if (last == nullptr) return false;
    *last = '\0';
    return true;
}

// Counts the folders below the root, with "." and ".." resolved, so that
// "C:\KIVO\.." is seen as the drive root it names.
bool FolderIsRoot(const char* folder) {
    const char* p = folder;
    if (IsLetter(p[0]) && p[1] == ':') {
        p += 2;
    } else if (IsSeparator(p[0]) && IsSeparator(p[1])) {
        p += 2;
        for (int part = 0; part < 2; ++part) { // server and share belong to the root
            while (*p && !IsSeparator(*p))
                ++p;
            while (IsSeparator(*p))
                ++p;
        }
    }
    int depth = 0;
    for (;;) {
        while (IsSeparator(*p))
            ++p;
        const char* start = p;
        while (*p && !IsSeparator(*p))
            ++p;
        size_t length = static_cast<size_t>(p - start);
        if (length == 0) break;
        if (length == 2 && start[0] == '.' && start[1] == '.') {
            if (depth > 0) --depth;
        } else if (!NamesNoFolder(start, length)) {
            ++depth;
        }
    }
    return depth == 0;
}
