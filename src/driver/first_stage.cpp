#include "clean/file_tests.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/message_box.h"
#include "driver/relaunch_argument.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"
#include "platform/registry.h"

#include <windows.h>

#include <commdlg.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* const instanceMutexName = "_uninstKIVO___Instance_";
const char* const fallbackCaption = "uninstKIVO";
const char* const uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";

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

// Sets installFolder; false when no usable installation was found. The folder
// must also pass the copy's own argument check: a folder the copy would refuse
// (a whole drive, a network path, a text too long) is refused here, before
// the user is asked anything.
bool LocateInstallation(char* argument, int argumentCapacity) {
    if (FindInstallFolder(installFolder) == 0) {
        if (!ProgramFolderParent(installFolder)) return false;
    } else {
        char candidate[PATH_CAPACITY];
        if (!PathJoin(ownFolder, "KIVO\\KIVO.EXE", candidate, sizeof candidate) || !FileExists(candidate))
            return false;
        if (!CopyText(installFolder, sizeof installFolder, ownFolder)) return false;
    }
    char checked[PATH_CAPACITY];
    return RelaunchArgumentBuild(installFolder, argument, argumentCapacity) &&
           RelaunchArgumentCheck(argument, checked, sizeof checked) == RELAUNCH_OK;
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

    if (FindOwnPath(ownFolder, ownFileName) != 0) return Refuse(MSG_NOT_INSTALLED, 1);
    char ownPath[PATH_CAPACITY];
    if (!PathJoin(ownFolder, ownFileName, ownPath, sizeof ownPath)) return Refuse(MSG_NOT_INSTALLED, 1);

    char argument[ARGUMENT_CAPACITY];
    if (!LocateInstallation(argument, sizeof argument)) {
        RunLogWrite("no installation folder: no KIVO.EXE through the KIVO variable, the uninstall key or "
                    "beside the program, or the folder found is a drive, relative or too long");
        return Refuse(MSG_NOT_INSTALLED, 1);
    }
    RunLogWrite("installation folder %s", installFolder);
    if (UnattendedLogInFolder(installFolder)) return Refuse(MSG_MISUSE, EXIT_LOG_REFUSED);
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
    if (tempLength >= sizeof tempFolder ||
        !FolderJoin(tempFolder, ownFileName, tempCopyPath, sizeof tempCopyPath))
        return Refuse(MSG_LAUNCH_ERROR, 3);
    if (FileCopy(ownFolder, tempCopyPath, 1) != 0) return Refuse(MSG_LAUNCH_ERROR, 3);

    if (!UnattendedPrepareCopy(ownPath, tempFolder)) return Refuse(MSG_LAUNCH_ERROR, 3);
    ReleaseInstanceMutex();
    // The copy starts in the TEMP folder: started from Explorer, this stage's
    // current folder is the installation folder, which the copy must remove.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(tempCopyPath, commandLine, nullptr, nullptr, TRUE, 0, nullptr, tempFolder, &startup,
                        &process))
        return Refuse(MSG_LAUNCH_ERROR, 3);
    CloseHandle(process.hThread);
    return FirstStageEnd(process.hProcess, tempCopyPath);
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

    if (RelaunchArgumentCheck(argumentText, installFolder, sizeof installFolder) != RELAUNCH_OK)
        return UnattendedEnd(Refuse(MSG_MISUSE, 4));
    RunLogWrite("copy started for the installation folder %s", installFolder);
    return UnattendedEnd(RunSecondStage(instance));
}

int FindOwnPath(char* folderOut, char* fileNameOut) {
    folderOut[0] = '\0';
    fileNameOut[0] = '\0';
    const char* commandLine = GetCommandLineA();
    if (strnlen(commandLine, COMMAND_LINE_CAPACITY) >= static_cast<size_t>(COMMAND_LINE_CAPACITY)) return -1;
    char token[PATH_CAPACITY];
    if (!ProgramNameToken(commandLine, token, sizeof token)) return -1;
    // The title may lack the extension, depending on the user's display settings.
    char title[PATH_CAPACITY];
    if (GetFileTitleA(token, title, sizeof title) != 0) return -1;

    char* name = nullptr;
    DWORD found = SearchPathA(nullptr, title, ".exe", PATH_CAPACITY, folderOut, &name);
    if (found == 0 || found >= static_cast<DWORD>(PATH_CAPACITY) || name == nullptr || name == folderOut) {
        folderOut[0] = '\0';
        return -1;
    }
    size_t nameLength = strlen(name);
    bool hasExe = nameLength > 4 && _stricmp(name + nameLength - 4, ".exe") == 0;
    bool named = nameLength > 4 && !hasExe ? TextFormat(fileNameOut, PATH_CAPACITY, "%s.exe", name)
                                           : CopyText(fileNameOut, PATH_CAPACITY, name);
    if (!named) {
        folderOut[0] = '\0';
        return -1;
    }
    // A program in a drive's root keeps the root's backslash (C:\).
    if (name - folderOut >= 2 && name[-2] == ':')
        name[0] = '\0';
    else
        name[-1] = '\0';
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
        if (RegistryReadValue(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", &data, &size) >= 0 &&
            size != 0)
            FolderJoin(static_cast<const char*>(data), "KIVO", out, PATH_CAPACITY);
        free(data);
    }
    if (out[0] == '\0') return -1;
    char program[PATH_CAPACITY];
    if (!PathJoin(out, "KIVO.EXE", program, sizeof program)) return -1;
    return FileExists(program) ? 0 : -1;
}
