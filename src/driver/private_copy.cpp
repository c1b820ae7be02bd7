#include "driver/private_copy.h"

#include "clean/path_text.h"
#include "driver/delete_command.h"
#include "driver/driver_state.h"
#include "driver/relaunch_argument.h"
#include "driver/stages.h"
#include "platform/paths.h"
#include "platform/security.h"
#include "platform/windows_version.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

void (*beforeCopyHook)() = nullptr;
const char* const folderHandleVariable = "KIVO_FOLDER_HANDLE";
const char* const logHandleVariable = "KIVO_LOG_HANDLE";

namespace {

// Names already taken under TEMP are skipped; so many clashes mean that
// somebody prepares names faster than chance allows.
constexpr int FOLDER_ATTEMPTS = 8;

// Nobody but the current user, SYSTEM and the Administrators can add, change
// or replace a file in the folder.
bool FolderCreatePrivate(const char* folder) {
    if (IsWindowsNT() == 0) return CreateDirectoryA(folder, nullptr) != 0; // Windows 9x has no access control
    SecurityPrivate access;
    if (!SecurityPrivateMake(&access)) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &access.descriptor, FALSE};
    return CreateDirectoryA(folder, &attributes) != 0;
}

// A new private folder below tempFolder, named by chance so that nobody can
// prepare it; never one that existed before.
bool PrivateFolderCreate(const char* tempFolder, char* folder) {
    for (int attempt = 0; attempt < FOLDER_ATTEMPTS; ++attempt) {
        unsigned char random[PRIVATE_FOLDER_RANDOM_BYTES];
        char name[PRIVATE_FOLDER_NAME_CAPACITY];
        if (!SecurityRandomBytes(random, sizeof random) ||
            !PrivateFolderNameFormat(name, sizeof name, random) ||
            !FolderJoin(tempFolder, name, folder, PATH_CAPACITY))
            return false;
        if (FolderCreatePrivate(folder)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

// Whether the view of a file holds the program this process runs from:
// ntdll compares the files behind the two mappings where it can (NT 4 and
// later); otherwise every section of the running image that nothing writes
// must be the file's, byte for byte, at the place its headers give.
bool IsRunningImage(const BYTE* view, DWORD size) {
    const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    using SameFiles = LONG(WINAPI*)(void*, void*);
    const auto sameFiles =
        PlatformFunction<SameFiles>(GetModuleHandleA("ntdll.dll"), "NtAreMappedFilesTheSame");
    if (sameFiles != nullptr) return sameFiles(const_cast<BYTE*>(image), const_cast<BYTE*>(view)) == 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    bool compared = false;
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        if ((section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0 || section->SizeOfRawData == 0) continue;
        const DWORD length = section->Misc.VirtualSize < section->SizeOfRawData ? section->Misc.VirtualSize
                                                                                : section->SizeOfRawData;
        if (section->PointerToRawData > size || length > size - section->PointerToRawData ||
            std::memcmp(view + section->PointerToRawData, image + section->VirtualAddress, length) != 0)
            return false;
        compared = true;
    }
    return compared;
}

// Writes the program's file, read through a handle that nobody can write
// or delete through meanwhile, into the new file copyPath; -2 when it is not
// the running program.
int CopyRunningProgram(const char* sourcePath, const char* copyPath) {
    HANDLE source =
        CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) return -1;
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(source, &sizeHigh);
    HANDLE mapping = size != INVALID_FILE_SIZE && sizeHigh == 0 && size != 0
                         ? CreateFileMappingA(source, nullptr, PAGE_READONLY, 0, 0, nullptr)
                         : nullptr;
    const BYTE* view = mapping != nullptr
                           ? static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))
                           : nullptr;
    int result = view == nullptr ? -1 : IsRunningImage(view, size) ? 0 : -2;
    if (result == 0) {
        // "Create new": the copy is a new file, never one prepared under its name.
        HANDLE copy =
            CreateFileA(copyPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        const bool complete =
            copy != INVALID_HANDLE_VALUE && WriteFile(copy, view, size, &written, nullptr) && written == size;
        if (copy != INVALID_HANDLE_VALUE && !CloseHandle(copy)) result = -1;
        if (!complete) result = -1;
    }
    if (view != nullptr) UnmapViewOfFile(view);
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(source);
    return result;
}

void RemoveCopy(const char* copyPath, const char* folder) {
    DeleteFileA(copyPath);
    RemoveDirectoryA(folder);
}

} // namespace

int PrivateCopyMake(const char* sourcePath, const char* tempFolder, const char* fileName, char* copyPath,
                    HANDLE* held) {
    *held = INVALID_HANDLE_VALUE;
    copyPath[0] = '\0';
    char folder[PATH_CAPACITY];
    if (!PrivateFolderCreate(tempFolder, folder)) return -1;
    if (beforeCopyHook != nullptr) beforeCopyHook();
    const int copied =
        FolderJoin(folder, fileName, copyPath, PATH_CAPACITY) ? CopyRunningProgram(sourcePath, copyPath) : -1;
    if (copied != 0) {
        RemoveCopy(copyPath, folder);
        copyPath[0] = '\0';
        return copied;
    }
    // Shared for reading only, so nobody can write the copy before it runs.
    *held = CreateFileA(copyPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (*held == INVALID_HANDLE_VALUE) {
        RemoveCopy(copyPath, folder);
        copyPath[0] = '\0';
        return -1;
    }
    return 0;
}

namespace {

// An inheritable duplicate of handle, named in variable for the copy's start
// only; false, with the variable removed, when there is none to pass.
bool PassHandle(HANDLE handle, const char* variable, HANDLE* inherited) {
    *inherited = nullptr;
    char value[2 * sizeof(void*) + 1];
    int formatted = 0;
    const bool passing =
        handle != nullptr &&
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), inherited, 0, TRUE,
                        DUPLICATE_SAME_ACCESS) &&
        (formatted =
             std::snprintf(value, sizeof value, "%llx",
                           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(*inherited)))) > 0 &&
        formatted < static_cast<int>(sizeof value);
    SetEnvironmentVariableA(variable, passing ? value : nullptr);
    return passing;
}

} // namespace

bool TakePassedHandle(const char* variable, HANDLE* handle) {
    *handle = nullptr;
    char value[2 * sizeof(void*) + 2];
    const DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
    SetEnvironmentVariableA(variable, nullptr);
    if (length == 0) return true;
    if (length >= sizeof value) return false;
    uintptr_t number = 0;
    for (const char* digit = value; *digit != '\0'; ++digit) {
        const char c = *digit;
        const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (nibble < 0) return false;
        number = number << 4 | static_cast<uintptr_t>(nibble);
    }
    if (number == 0) return false;
    // Not passed on again: the console's host, started by this process,
    // would inherit it.
    return DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(number), GetCurrentProcess(), handle,
                           0, FALSE, DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE) != 0 &&
           GetFileType(*handle) == FILE_TYPE_DISK;
}

int PrivateCopyStart(const char* copyPath, char* commandLine, HANDLE held, HANDLE folderHeld, HANDLE log,
                     HANDLE* processOut) {
    *processOut = nullptr;
    char folder[PATH_CAPACITY];
    const bool located = PathFolderOf(copyPath, folder, PATH_CAPACITY);
    // Of the handles this program opens, only these duplicates are
    // inheritable, so they are the ones the copy gets.
    HANDLE inheritedFolder = nullptr;
    HANDLE inheritedLog = nullptr;
    const bool passingFolder = PassHandle(folderHeld, folderHandleVariable, &inheritedFolder);
    const bool passingLog = PassHandle(log, logHandleVariable, &inheritedLog);
    // A process's current folder is held through an inheritable handle: the
    // copy would inherit a hold on the installation folder, started from
    // there, which would keep the folder from going. The system folder is
    // one nobody removes.
    char systemFolder[PATH_CAPACITY];
    const UINT systemLength = GetSystemDirectoryA(systemFolder, PATH_CAPACITY);
    if (passingFolder && systemLength > 0 && systemLength < static_cast<UINT>(PATH_CAPACITY))
        SetCurrentDirectoryA(systemFolder);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Its current folder is its own: started from Explorer, this stage's is
    // the installation folder, which the copy must remove.
    const bool started = located && CreateProcessA(copyPath, commandLine, nullptr, nullptr,
                                                   passingFolder || passingLog ? TRUE : FALSE, 0, nullptr,
                                                   folder, &startup, &process) != 0;
    SetEnvironmentVariableA(folderHandleVariable, nullptr);
    SetEnvironmentVariableA(logHandleVariable, nullptr);
    if (inheritedFolder != nullptr) CloseHandle(inheritedFolder);
    if (inheritedLog != nullptr) CloseHandle(inheritedLog);
    CloseHandle(held);
    if (!started) {
        if (located) RemoveCopy(copyPath, folder);
        return -1;
    }
    CloseHandle(process.hThread);
    *processOut = process.hProcess;
    return 0;
}

// The interpreter of the NT family is the system folder's cmd.exe, whatever
// COMSPEC says; it runs in the system folder, which nobody else can write,
// and sees only the environment it needs. Windows 9x has only COMSPEC.
int PrivateCopyDelete(const char* folder, const char* fileName) {
    char systemFolder[PATH_CAPACITY];
    char windowsFolder[PATH_CAPACITY];
    UINT length = GetSystemDirectoryA(systemFolder, PATH_CAPACITY);
    if (length == 0 || length >= static_cast<UINT>(PATH_CAPACITY)) return -1;
    length = PathSystemWindowsFolder(windowsFolder, PATH_CAPACITY);
    if (length == 0 || length >= static_cast<UINT>(PATH_CAPACITY)) return -1;
    char interpreter[PATH_CAPACITY];
    if (IsWindowsNT() != 0) {
        if (!FolderJoin(systemFolder, "cmd.exe", interpreter, PATH_CAPACITY)) return -1;
    } else {
        const DWORD comspecLength = GetEnvironmentVariableA("COMSPEC", interpreter, PATH_CAPACITY);
        if (comspecLength == 0 || comspecLength >= static_cast<DWORD>(PATH_CAPACITY)) return -1;
    }
    char ping[PATH_CAPACITY];
    char copyPath[PATH_CAPACITY];
    if (!FolderJoin(systemFolder, "PING.EXE", ping, PATH_CAPACITY) ||
        !FolderJoin(folder, fileName, copyPath, PATH_CAPACITY))
        return -1;
    const char* folderName = std::strrchr(folder, '\\');
    const bool privateFolder = folderName != nullptr && IsPrivateFolderName(folderName + 1);
    char commandLine[DELETE_COMMAND_CAPACITY];
    char environment[DELETE_ENVIRONMENT_CAPACITY];
    if (DeleteCommandFormat(commandLine, sizeof commandLine, interpreter, ping, copyPath, privateFolder) !=
            0 ||
        DeleteEnvironmentFormat(environment, sizeof environment, windowsFolder, copyPath, folder) != 0)
        return -1;

    // A console of its own, hidden, so that ours closes as this process ends
    // and the waiting command shows nothing.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(interpreter, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, environment,
                        systemFolder, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
