#include "clean/file_tests.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/folder_safety.h"
#include "driver/message_box.h"
#include "driver/private_copy.h"
#include "driver/relaunch_argument.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"
#include "driver/uninstall_key.h"
#include "platform/registry.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* const instanceMutexName = "_uninstKIVO___Instance_";
const char* const fallbackCaption = "uninstKIVO";

// Held for the whole run; the first stage gives it up just before it starts
// the copy, so that the copy never takes it for another instance.
HANDLE instanceMutex = nullptr;

void ReleaseInstanceMutex() {
    if (instanceMutex == nullptr) return;
    ReleaseMutex(instanceMutex);
    CloseHandle(instanceMutex);
    instanceMutex = nullptr;
}

// The error box of both stages before the console exists; returns exitCode.
int Refuse(MessageName message, int exitCode) {
    const char* caption = ownFileName[0] != '\0' ? ownFileName : fallbackCaption;
    ShowMessage(0, 1, 0, CatalogueText(message, languageCode), caption);
    return exitCode;
}

bool CopyText(char* out, int capacity, const char* text) {
    return TextFormat(out, capacity, "%s", text);
}

// The relaunch argument for installFolder, as the copy will check it.
bool ArgumentPasses(char* argument, int argumentCapacity) {
    char checked[PATH_CAPACITY];
    return RelaunchArgumentBuild(installFolder, argument, argumentCapacity) &&
           RelaunchArgumentCheck(argument, checked, sizeof checked) == RELAUNCH_OK;
}

// Sets installFolder; false when no usable installation was found. The folder
// must also pass the copy's own checks: a folder the copy would refuse (a
// whole drive, a network path, a text too long, a folder of Windows or of a
// user) is refused here, before the user is asked anything. The copy gets
// the folder made full and long.
bool LocateInstallation(char* argument, int argumentCapacity) {
    if (FindInstallFolder(installFolder) == 0) {
        if (!ProgramFolderParent(installFolder)) return false;
    } else {
        char candidate[PATH_CAPACITY];
        if (PathJoin(ownFolder, "KIVO\\KIVO.EXE", candidate, sizeof candidate) && FileExists(candidate)) {
            if (!CopyText(installFolder, sizeof installFolder, ownFolder)) return false;
        } else {
            finishingStoppedRun = UninstallInProgressFolder(installFolder, sizeof installFolder);
            if (!finishingStoppedRun) return false;
        }
    }
    return ArgumentPasses(argument, argumentCapacity) &&
           InstallFolderHold(installFolder, sizeof installFolder, nullptr, &installFolderHandle) ==
               FOLDER_SAFE &&
           ArgumentPasses(argument, argumentCapacity) &&
           (!finishingStoppedRun || UninstallInProgressFor(installFolder, installFolderHandle));
}

// The copy's own hold is the first stage's, passed on; from then on only
// the copy holds the folder, so that its removal is not kept waiting.
void LetGoOfFolder() {
    if (installFolderHandle == nullptr) return;
    CloseHandle(static_cast<HANDLE>(installFolderHandle));
    installFolderHandle = nullptr;
}

// The folder handle the first stage passed on, or null when none was (a
// copy started by hand, Windows 9x). False when the variable names no folder.
bool TakePassedFolder(void** folder) {
    HANDLE handle = nullptr;
    const bool taken = TakePassedHandle(folderHandleVariable, &handle);
    BY_HANDLE_FILE_INFORMATION information;
    if (taken && (handle == nullptr || (GetFileInformationByHandle(handle, &information) &&
                                        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))) {
        *folder = handle;
        return true;
    }
    if (handle != nullptr) CloseHandle(handle);
    *folder = nullptr;
    return false;
}

// Only a Yes goes on: a box that could not be shown is no consent. A quiet
// run was told to go on by whoever started it.
bool Confirm(const char* question, const char* title) {
    if (RunIsQuiet()) {
        RunLogWrite("confirmation taken as given (quiet)");
        return true;
    }
    bool yes = MessageBoxA(nullptr, question, title, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    RunLogWrite(yes ? "confirmed" : "declined at the confirmation");
    return yes;
}

int RunFirstStage() {
    const char* title = CatalogueText(MSG_TITLE, languageCode);
    const char* confirm = CatalogueText(MSG_CONFIRM, languageCode);

    char ownPath[PATH_CAPACITY];
    const bool ownFound =
        FindOwnPath(ownFolder, ownFileName) == 0 && PathJoin(ownFolder, ownFileName, ownPath, sizeof ownPath);
    char argument[ARGUMENT_CAPACITY];
    const bool located = ownFound && LocateInstallation(argument, sizeof argument);
    if (!UnattendedLogOpen(located ? installFolder : nullptr)) return Refuse(MSG_MISUSE, EXIT_LOG_REFUSED);
    if (!ownFound) return Refuse(MSG_NOT_INSTALLED, 1);
    if (!located) {
        RunLogWrite(
            "no installation folder: no KIVO.EXE through the KIVO variable, the uninstall key or "
            "beside the program, nor a stopped uninstall's folder that is still the one marked; or the "
            "folder found is a drive, relative or too long");
        return Refuse(MSG_NOT_INSTALLED, 1);
    }
    RunLogWrite(finishingStoppedRun ? "installation folder %s, whose uninstall was stopped before it ended"
                                    : "installation folder %s",
                installFolder);
    char commandLine[COMMAND_LINE_CAPACITY];
    if (!CopyCommandLineBuild(ownFileName, argument, commandLine, sizeof commandLine))
        return Refuse(MSG_NOT_INSTALLED, 1);

    char question[ARGUMENT_CAPACITY];
    if (!TextFormat(question, sizeof question, "%s\r\r%s", installFolder, confirm))
        return Refuse(MSG_NOT_INSTALLED, 1);
    if (!Confirm(question, title)) return RunExitCode(0, EXIT_USER_DECLINED);

    CopyText(ownFolder, sizeof ownFolder, ownPath);

    char tempFolder[PATH_CAPACITY];
    DWORD tempLength = GetEnvironmentVariableA("TEMP", tempFolder, sizeof tempFolder);
    if (tempLength == 0) return Refuse(MSG_TEMP_UNDEFINED, 2);
    HANDLE copyHeld = INVALID_HANDLE_VALUE;
    if (tempLength >= sizeof tempFolder || !UnattendedPassSwitches()) return Refuse(MSG_LAUNCH_ERROR, 3);
    const int made = PrivateCopyMake(ownFolder, tempFolder, ownFileName, tempCopyPath, &copyHeld);
    if (made == -2)
        RunLogWrite("%s is no longer the program that runs (it was replaced): no copy is started", ownFolder);
    if (made != 0) return Refuse(MSG_LAUNCH_ERROR, 3);
    UnattendedLeaveFolder(ownPath, tempFolder, tempCopyPath);

    ReleaseInstanceMutex();
    HANDLE copyProcess = nullptr;
    const int started =
        PrivateCopyStart(tempCopyPath, commandLine, copyHeld, static_cast<HANDLE>(installFolderHandle),
                         RunLogHandle(), &copyProcess);
    LetGoOfFolder();
    if (started != 0) {
        UnattendedCopyNotStarted();
        return Refuse(MSG_LAUNCH_ERROR, 3);
    }
    return FirstStageEnd(copyProcess, tempCopyPath);
}

} // namespace

int UninstallerMain(HINSTANCE instance, const char* argumentText) {
    ArgumentKind kind = ArgumentKindOf(argumentText);
    instanceMutex = CreateMutexA(nullptr, TRUE, instanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(instanceMutex);
        instanceMutex = nullptr;
        return AlreadyRunningExitCode(kind);
    }
    languageCode = ChooseLanguage();
    int refused = kind == ARGUMENT_SWITCHES   ? UnattendedFirstStageBegin(argumentText)
                  : kind == ARGUMENT_RELAUNCH ? UnattendedCopyBegin()
                                              : 0;
    if (refused != 0) return UnattendedEnd(Refuse(MSG_MISUSE, refused));
    if (kind != ARGUMENT_RELAUNCH) return UnattendedEnd(RunFirstStage());

    // A copy started by hand gets the same refusals: the checks run again on
    // the folder it holds.
    void* passed = nullptr;
    const bool known = TakePassedFolder(&passed);
    if (!known || RelaunchArgumentCheck(argumentText, installFolder, sizeof installFolder) != RELAUNCH_OK) {
        if (passed != nullptr) CloseHandle(static_cast<HANDLE>(passed));
        return UnattendedEnd(Refuse(MSG_MISUSE, UnattendedLogOpen(nullptr) ? 4 : EXIT_LOG_REFUSED));
    }
    const bool held =
        InstallFolderHold(installFolder, sizeof installFolder, passed, &installFolderHandle) == FOLDER_SAFE;
    if (!UnattendedLogOpen(held ? installFolder : nullptr))
        return UnattendedEnd(Refuse(MSG_MISUSE, EXIT_LOG_REFUSED));
    if (!held) {
        RunLogWrite("the folder %s is not one this program may remove, or not the one checked before",
                    installFolder);
        return UnattendedEnd(Refuse(MSG_MISUSE, 4));
    }
    // As the first stage: a folder without the product's program is no
    // installation of it, whoever started the copy, unless it is the one whose
    // uninstall was stopped before it ended.
    char program[PATH_CAPACITY];
    if (!PathJoin(installFolder, "KIVO\\KIVO.EXE", program, sizeof program) || !FileExists(program)) {
        if (!UninstallInProgressFor(installFolder, installFolderHandle)) {
            RunLogWrite("no KIVO.EXE in %s\\KIVO: not an installation, nothing was done", installFolder);
            return UnattendedEnd(Refuse(MSG_NOT_INSTALLED, EXIT_NOT_INSTALLED));
        }
        RunLogWrite(
            "no KIVO.EXE in %s\\KIVO, but its uninstall was stopped before it ended: it is finished, and "
            "what is left of it all archived",
            installFolder);
        finishingStoppedRun = true;
    }
    RunLogWrite("copy started for the installation folder %s", installFolder);
    return UnattendedEnd(RunSecondStage(instance));
}

// The module's own path: a command line's first word may name any file.
int FindOwnPath(char* folderOut, char* fileNameOut) {
    folderOut[0] = '\0';
    fileNameOut[0] = '\0';
    char path[PATH_CAPACITY];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A path that fills the buffer may have been cut.
    if (length == 0 || length >= sizeof path) return -1;
    const char* name = strrchr(path, '\\');
    if (name == nullptr || name[1] == '\0') return -1;
    CopyText(fileNameOut, PATH_CAPACITY, name + 1);
    // A program in a drive's root keeps the root's backslash (C:\).
    size_t folderLength = static_cast<size_t>(name - path);
    if (folderLength == 2 && path[1] == ':') folderLength = 3;
    memcpy(folderOut, path, folderLength);
    folderOut[folderLength] = '\0';
    return 0;
}

int FindInstallFolder(char* out) {
    out[0] = '\0';
    char value[PATH_CAPACITY];
    SetLastError(0);
    DWORD length = GetEnvironmentVariableA("KIVO", value, sizeof value);
    if (length >= sizeof value) return -1; // too long to be a folder of ours
    if (length > 0) {
        CopyText(out, PATH_CAPACITY, value);
    } else if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        void* data = nullptr;
        DWORD size = 0;
        if (RegistryReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "InstallLocation", &data, &size) >= 0 &&
            size != 0)
            FolderJoin(static_cast<const char*>(data), "KIVO", out, PATH_CAPACITY);
        free(data);
    }
    if (out[0] == '\0') return -1;
    char program[PATH_CAPACITY];
    if (!PathJoin(out, "KIVO.EXE", program, sizeof program)) return -1;
    return FileExists(program) ? 0 : -1;
}
