#include "driver/run_log.h"

#include "driver/driver_state.h"
#include "platform/handle_walk.h"
#include "platform/wide_files.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;
const char* logStage = "";

// Texts of the run (paths, the catalogue's messages) in the ANSI code page,
// a file's name as the file system spells it, then the time and the stage in
// front; UTF-8 takes at most three bytes for each UTF-16 unit.
constexpr int LOG_TEXT_CAPACITY = 1024;
constexpr int LOG_LINE_CAPACITY = LOG_TEXT_CAPACITY + 64;

// What a handle opened without following links must be for us to write it.
bool IsRegularFileWithOneName(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    // Some file systems count no names at all; none is no other name either.
    return (info.dwFileAttributes & refused) == 0 && info.nNumberOfLinks <= 1;
}

// The line's text in the ANSI code page, then name (may be null) as the
// file system spells it, so that a name no code page can spell reads right.
// False, and nothing written, when the two do not fit a line.
bool WriteUtf8(const char* line, const wchar_t* name) {
    wchar_t wide[LOG_LINE_CAPACITY];
    char utf8[3 * LOG_LINE_CAPACITY];
    const int converted = MultiByteToWideChar(CP_ACP, 0, line, -1, wide, LOG_LINE_CAPACITY);
    if (converted == 0) return false;
    if (name != nullptr) {
        // The name goes before the line's end.
        size_t at = size_t(converted) - 1;
        if (at < 2) return false;
        at -= 2;
        const size_t length = std::wcslen(name);
        if (at + length + 3 > LOG_LINE_CAPACITY) return false;
        for (size_t i = 0; i < length; ++i)
            wide[at + i] = name[i] == L'\r' || name[i] == L'\n' ? L' ' : name[i];
        std::memcpy(wide + at + length, L"\r\n", 3 * sizeof(wchar_t));
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (bytes <= 1) return false;
    // Both stages write the same file, one after the other.
    SetFilePointer(logFile, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(logFile, utf8, static_cast<DWORD>(bytes - 1), &written, nullptr);
    return true;
}

// The time and the stage in front of text.
bool WriteStamped(const char* text, const wchar_t* name) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[LOG_LINE_CAPACITY];
    std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u %-5s %s\r\n", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, logStage, text);
    return WriteUtf8(line, name);
}

bool SameFolder(HANDLE folder, const HandleFacts& held) {
    HandleFacts facts;
    return HandleFactsOf(folder, &facts, true) && facts.volume == held.volume && facts.index == held.index;
}

// Opens the log's folder from its root without following a link anywhere on
// the way, refuses it when it or any folder above it is the folder held, by
// identity (a short name or another spelling is the same folder), and only
// then opens the last name relative to the folder's handle, creating it
// when asked. The folder is held against renames until the file is open.
HANDLE OpenBelowFolders(const char* fullPath, bool create, HANDLE heldFolder) {
    wchar_t path[PATH_CAPACITY];
    if (!WideFromAnsi(fullPath, path, PATH_CAPACITY)) return INVALID_HANDLE_VALUE;
    const size_t length = std::wcslen(path);
    size_t nameAt = length;
    while (nameAt > 0 && path[nameAt - 1] != L'\\')
        --nameAt;
    if (nameAt == 0 || nameAt == length) return INVALID_HANDLE_VALUE;
    const wchar_t* name = path + nameAt;
    // The folder's text; a drive's root keeps its separator.
    wchar_t folderPath[PATH_CAPACITY];
    size_t folderLength = nameAt - 1;
    if (folderLength == 2 && path[1] == L':') folderLength = 3;
    std::memcpy(folderPath, path, folderLength * sizeof(wchar_t));
    folderPath[folderLength] = L'\0';
    HandleFacts held = {};
    if (heldFolder != nullptr && !HandleFactsOf(heldFolder, &held, true)) return INVALID_HANDLE_VALUE;

    const HandleOpen asFolder = {FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER, 0};
    const HandleOpen passing = {FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                HANDLE_OPEN_FOLDER, 0};
    HANDLE folder = INVALID_HANDLE_VALUE;
    HandleFacts facts;
    if (HandleOpenPath(folderPath, asFolder, &folder, &facts) != HANDLE_WALK_OK) return INVALID_HANDLE_VALUE;
    bool inside = heldFolder != nullptr && SameFolder(folder, held);
    // The folders above, each opened on its own the same way; one that does
    // not open as a folder (a share's server) cannot be the folder held.
    for (size_t cut = folderLength; heldFolder != nullptr && !inside;) {
        while (cut > 0 && folderPath[cut - 1] != L'\\')
            --cut;
        if (cut == 0) break;
        folderPath[--cut] = L'\0';
        HANDLE above = INVALID_HANDLE_VALUE;
        if (HandleOpenPath(folderPath, passing, &above, &facts) != HANDLE_WALK_OK) continue;
        inside = SameFolder(above, held);
        CloseHandle(above);
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!inside) {
        const size_t nameLength = length - nameAt;
        const HandleOpen asLog = {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  HANDLE_OPEN_FILE | HANDLE_OPEN_ONE_LINK, 0};
        const int opened = HandleOpenNamed(folder, name, nameLength, asLog, &file, &facts);
        if (opened == HANDLE_WALK_GONE && create)
            HandleCreateChild(folder, name, nameLength, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, &file);
        else if (opened != HANDLE_WALK_OK)
            file = INVALID_HANDLE_VALUE;
    }
    CloseHandle(folder);
    return file;
}

} // namespace

int RunLogOpen(const char* fullPath, bool create, const char* stage, HANDLE heldFolder) {
    RunLogClose();
    HANDLE file = INVALID_HANDLE_VALUE;
    if (HandleWalkAvailable()) {
        file = OpenBelowFolders(fullPath, create, heldFolder);
    } else {
        // Windows 9x has no links; OPEN_ALWAYS changes nothing in an existing file.
        file = CreateFileA(fullPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) return -1;
    return RunLogAdopt(file, stage);
}

int RunLogAdopt(HANDLE file, const char* stage) {
    RunLogClose();
    if (!IsRegularFileWithOneName(file)) {
        CloseHandle(file);
        return -1;
    }
    logFile = file;
    logStage = stage;
    return 0;
}

HANDLE RunLogHandle() {
    return logFile != INVALID_HANDLE_VALUE ? logFile : nullptr;
}

bool RunLogIsOpen() {
    return logFile != INVALID_HANDLE_VALUE;
}

void RunLogWrite(const char* format, ...) {
    if (logFile == INVALID_HANDLE_VALUE) return;
    char text[LOG_TEXT_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0 || length >= LOG_TEXT_CAPACITY)
        std::snprintf(text, sizeof text, "(a line too long for the log was left out)");
    for (char* c = text; *c != '\0'; ++c)
        if (*c == '\r' || *c == '\n') *c = ' ';
    WriteStamped(text, nullptr);
}

bool RunLogWriteNamed(const char* text, const char* folder, const wchar_t* relative) {
    if (logFile == INVALID_HANDLE_VALUE) return true;
    char front[LOG_TEXT_CAPACITY];
    const int length = std::snprintf(front, sizeof front, "%s%s\\", text, folder);
    if (length < 0 || length >= LOG_TEXT_CAPACITY) return false;
    return WriteStamped(front, relative);
}

void RunLogRemovalFailed(const char* what, const char* name) {
    ++removalsFailed;
    RunLogWrite("could not remove %s: %s", what, name);
}

void RunLogRemovalFailedBelow(const char* what, const char* folder, const wchar_t* relative) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "could not remove %s: ", what);
    // A name too long for the line is still counted, under its folder.
    if (length < 0 || length >= int(sizeof text) || !RunLogWriteNamed(text, folder, relative))
        RunLogWrite("could not remove %s: %s", what, folder);
    ++removalsFailed;
}

void RunLogClose() {
    if (logFile == INVALID_HANDLE_VALUE) return;
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}
