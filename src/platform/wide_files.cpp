#include "platform/wide_files.h"

#include "platform/windows_version.h"

#include <winternl.h>

#include <cstring>
#include <cwchar>

namespace {

// A wide path in the ANSI code page, for Windows 9x. A name that has no
// spelling there cannot be on a disk that system wrote.
bool AnsiPath(const wchar_t* path, char* out, int capacity) {
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, 0, path, -1, out, capacity, nullptr, &lossy);
    if (length == 0 || lossy) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return true;
}

void WideFound(const WIN32_FIND_DATAA& ansi, WIN32_FIND_DATAW* found) {
    found->dwFileAttributes = ansi.dwFileAttributes;
    found->ftCreationTime = ansi.ftCreationTime;
    found->ftLastAccessTime = ansi.ftLastAccessTime;
    found->ftLastWriteTime = ansi.ftLastWriteTime;
    found->nFileSizeHigh = ansi.nFileSizeHigh;
    found->nFileSizeLow = ansi.nFileSizeLow;
    found->dwReserved0 = ansi.dwReserved0;
    found->dwReserved1 = ansi.dwReserved1;
    MultiByteToWideChar(CP_ACP, 0, ansi.cFileName, -1, found->cFileName, MAX_PATH);
    MultiByteToWideChar(CP_ACP, 0, ansi.cAlternateFileName, -1, found->cAlternateFileName, 14);
}

// A reparse tag with this bit set names another object (Microsoft's
// IsReparseTagNameSurrogate).
constexpr DWORD NAME_SURROGATE_TAG = 0x20000000u;

typedef NTSTATUS(NTAPI* QueryInformationFileFunction)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                      FILE_INFORMATION_CLASS);

FILETIME FileTimeOf(const LARGE_INTEGER& time) {
    return FILETIME{static_cast<DWORD>(time.QuadPart), static_cast<DWORD>(uint64_t(time.QuadPart) >> 32)};
}

} // namespace

bool WideFileFactsOf(HANDLE file, WideFileFacts* facts) {
    // GetFileInformationByHandle also asks for the volume's serial number,
    // which costs several round trips per file under Wine (to its mount
    // manager); the two queries below are answered from the file alone.
    // Windows 9x has only the former.
    static const QueryInformationFileFunction query =
        PlatformIsWindows9x() ? nullptr
                              : PlatformFunction<QueryInformationFileFunction>(GetModuleHandleA("ntdll.dll"),
                                                                               "NtQueryInformationFile");
    if (query == nullptr) {
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file, &information)) return false;
        *facts = WideFileFacts{information.dwFileAttributes,
                               (uint64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow,
                               information.ftCreationTime, information.ftLastAccessTime,
                               information.ftLastWriteTime};
        return true;
    }
    IO_STATUS_BLOCK status;
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    if (!NT_SUCCESS(query(file, &status, &basic, sizeof basic, FileBasicInformation)) ||
        !NT_SUCCESS(query(file, &status, &standard, sizeof standard, FileStandardInformation)))
        return false;
    *facts = WideFileFacts{basic.FileAttributes, static_cast<uint64_t>(standard.EndOfFile.QuadPart),
                           FileTimeOf(basic.CreationTime), FileTimeOf(basic.LastAccessTime),
                           FileTimeOf(basic.LastWriteTime)};
    return true;
}

bool WideFromAnsi(const char* text, wchar_t* out, size_t capacity) {
    const int limit = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    return MultiByteToWideChar(CP_ACP, 0, text, -1, out, limit) != 0;
}

bool WideLongPath(const wchar_t* path, wchar_t* out, size_t capacity) {
    if (path == nullptr || *path == L'\0' || capacity < 9) return false;
    const size_t length = wcslen(path);
    if (PlatformIsWindows9x() || std::wcsncmp(path, L"\\\\?\\", 4) == 0 ||
        std::wcsncmp(path, L"\\\\.\\", 4) == 0) {
        if (length >= capacity) return false;
        std::memcpy(out, path, (length + 1) * sizeof(wchar_t));
        return true;
    }
    // Room is left in front for the longest lead, \\?\UNC\ in place of \\.
    const DWORD room = capacity - 8 > WIDE_PATH_CAPACITY ? WIDE_PATH_CAPACITY : DWORD(capacity - 8);
    const DWORD full = GetFullPathNameW(path, room, out + 8, nullptr);
    if (full == 0 || full >= room) return false;
    const bool share = out[8] == L'\\' && out[9] == L'\\';
    const wchar_t* lead = share ? L"\\\\?\\UNC" : L"\\\\?\\";
    const size_t leadLength = wcslen(lead);
    const wchar_t* rest = out + 8 + (share ? 1 : 0);
    std::memmove(out + leadLength, rest, (wcslen(rest) + 1) * sizeof(wchar_t));
    std::memcpy(out, lead, leadLength * sizeof(wchar_t));
    return true;
}

HANDLE WideOpenFile(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                    DWORD disposition, DWORD flags) {
    if (!PlatformIsWindows9x())
        return CreateFileW(path, access, share, security, disposition, flags, nullptr);
    char ansi[MAX_PATH];
    if (!AnsiPath(path, ansi, sizeof ansi)) return INVALID_HANDLE_VALUE;
    return CreateFileA(ansi, access, share, security, disposition, flags & ~FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

HANDLE WideFindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* found) {
    if (!PlatformIsWindows9x()) return FindFirstFileW(pattern, found);
    char ansi[MAX_PATH];
    if (!AnsiPath(pattern, ansi, sizeof ansi)) return INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA item;
    HANDLE search = FindFirstFileA(ansi, &item);
    if (search != INVALID_HANDLE_VALUE) WideFound(item, found);
    return search;
}

BOOL WideFindNext(HANDLE search, WIN32_FIND_DATAW* found) {
    if (!PlatformIsWindows9x()) return FindNextFileW(search, found);
    WIN32_FIND_DATAA item;
    if (!FindNextFileA(search, &item)) return FALSE;
    WideFound(item, found);
    return TRUE;
}

BOOL WideDeleteFile(const wchar_t* path) {
    if (!PlatformIsWindows9x()) return DeleteFileW(path);
    char ansi[MAX_PATH];
    return AnsiPath(path, ansi, sizeof ansi) && DeleteFileA(ansi);
}

BOOL WideRemoveFolder(const wchar_t* path) {
    if (!PlatformIsWindows9x()) return RemoveDirectoryW(path);
    char ansi[MAX_PATH];
    return AnsiPath(path, ansi, sizeof ansi) && RemoveDirectoryA(ansi);
}

DWORD WideAttributes(const wchar_t* path) {
    if (!PlatformIsWindows9x()) return GetFileAttributesW(path);
    char ansi[MAX_PATH];
    return AnsiPath(path, ansi, sizeof ansi) ? GetFileAttributesA(ansi) : INVALID_FILE_ATTRIBUTES;
}

bool WideIsLink(const WIN32_FIND_DATAW& found) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    return found.dwReserved0 == 0 || (found.dwReserved0 & NAME_SURROGATE_TAG) != 0;
}
