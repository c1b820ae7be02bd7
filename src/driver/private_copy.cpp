#include "driver/private_copy.h"

#include "clean/path_text.h"
#include "driver/delete_command.h"
#include "driver/driver_state.h"
#include "driver/relaunch_argument.h"
#include "driver/stages.h"
#include "platform/paths.h"
#include "platform/security.h"

#include <cstring>

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
    // "Fail if it exists": the copy is a new file, never one prepared under its name.
    if (!FolderJoin(folder, fileName, copyPath, PATH_CAPACITY) || !CopyFileA(sourcePath, copyPath, TRUE)) {
        RemoveCopy(copyPath, folder);
        copyPath[0] = '\0';
        return -1;
    }
    // A read-only program gives a read-only copy, which the deletion at the
    // end would have to force.
    const DWORD attributes = GetFileAttributesA(copyPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesA(copyPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    // Shared for reading only, so nobody can write the copy before it runs.
    *held = CreateFileA(copyPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (*held == INVALID_HANDLE_VALUE) {
        RemoveCopy(copyPath, folder);
        copyPath[0] = '\0';
        return -1;
    }
    return 0;
}

int PrivateCopyStart(const char* copyPath, char* commandLine, HANDLE held, HANDLE* processOut) {
    *processOut = nullptr;
    char folder[PATH_CAPACITY];
    const bool located = PathFolderOf(copyPath, folder, PATH_CAPACITY);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Its current folder is its own: started from Explorer, this stage's is
    // the installation folder, which the copy must remove.
    const bool started = located && CreateProcessA(copyPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                                   folder, &startup, &process) != 0;
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
