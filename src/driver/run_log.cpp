#include "driver/run_log.h"

#include "driver/driver_state.h"
#include "platform/windows_version.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;
const char* logStage = "";

// Texts of the run (paths, the catalogue's messages) in the ANSI code page,
// then the time and the stage in front; UTF-8 takes at most three bytes for
// each of those characters.
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

void WriteUtf8(const char* line) {
    wchar_t wide[LOG_LINE_CAPACITY];
    char utf8[3 * LOG_LINE_CAPACITY];
    if (MultiByteToWideChar(CP_ACP, 0, line, -1, wide, LOG_LINE_CAPACITY) == 0) return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (bytes <= 1) return;
    // Both stages write the same file, one after the other.
    SetFilePointer(logFile, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(logFile, utf8, static_cast<DWORD>(bytes - 1), &written, nullptr);
}

} // namespace

int RunLogOpen(const char* fullPath, bool create, const char* stage) {
    RunLogClose();
    // The reparse-point flag opens a link itself instead of what it points
    // to, so that the checks below see the link and nothing was written
    // through it; OPEN_ALWAYS changes nothing in an existing file. Windows 9x
    // has no links and does not know the flag.
    const bool windows9x = PlatformIsWindows9x();
    HANDLE file =
        CreateFileA(fullPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    create ? OPEN_ALWAYS : OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | (windows9x ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
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

    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[LOG_LINE_CAPACITY];
    std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u %-5s %s\r\n", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, logStage, text);
    WriteUtf8(line);
}

void RunLogRemovalFailed(const char* what, const char* name) {
    ++removalsFailed;
    RunLogWrite("could not remove %s: %s", what, name);
}

void RunLogClose() {
    if (logFile == INVALID_HANDLE_VALUE) return;
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}
