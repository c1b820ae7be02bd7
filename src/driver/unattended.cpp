#include "driver/unattended.h"

#include "driver/driver_state.h"
#include "driver/run_log.h"

#include <cstring>

bool unattendedRun = false;
RunSwitches runSwitches = {};
bool restartStarted = false;

bool RunIsQuiet() {
    return unattendedRun && runSwitches.quiet;
}

int RunExitCode(int interactiveCode, int unattendedCode) {
    return unattendedRun ? unattendedCode : interactiveCode;
}

// The variable tells a copy of a run with switches; nothing is logged, since
// the instance that runs may be writing the same log.
int AlreadyRunningExitCode(ArgumentKind kind) {
    bool switches =
        kind == ARGUMENT_SWITCHES ||
        (kind == ARGUMENT_RELAUNCH && GetEnvironmentVariableA(unattendedVariable, nullptr, 0) != 0);
    return switches ? EXIT_ALREADY_RUNNING : 0;
}

int UnattendedEnd(int exitCode) {
    RunLogWrite("exit code %lu (%s)", static_cast<unsigned long>(static_cast<DWORD>(exitCode)),
                ExitCodeMeaning(exitCode));
    RunLogClose();
    return exitCode;
}

int UnattendedFirstStageBegin(const char* argumentText) {
    unattendedRun = true;
    if (SwitchesParse(argumentText, &runSwitches) != SWITCHES_OK) return EXIT_MISUSE;
    if (runSwitches.logPath[0] != '\0') {
        char full[PATH_CAPACITY];
        DWORD length = GetFullPathNameA(runSwitches.logPath, PATH_CAPACITY, full, nullptr);
        if (length == 0 || length >= static_cast<DWORD>(PATH_CAPACITY) || !LogPathIsPlain(full) ||
            RunLogOpen(full, true, "first") != 0)
            return EXIT_LOG_REFUSED;
        std::memcpy(runSwitches.logPath, full, length + 1);
    }
    RunLogWrite("uninstKIVO started with: %s", argumentText);
    RunLogWrite("quiet: %s; restart: %s", runSwitches.quiet ? "yes" : "no",
                runSwitches.noRestart ? "never"
                : runSwitches.quiet   ? "when needed"
                                      : "asked when needed");
    return 0;
}

bool UnattendedPassToCopy() {
    if (!unattendedRun) {
        SetEnvironmentVariableA(unattendedVariable, nullptr);
        return true;
    }
    char value[UNATTENDED_VALUE_CAPACITY];
    return UnattendedValueFormat(runSwitches, value, sizeof value) &&
           SetEnvironmentVariableA(unattendedVariable, value);
}

int FirstStageEnd(HANDLE copyProcess, const char* copyPath) {
    if (!unattendedRun) {
        CloseHandle(copyProcess);
        ExitProcess(0);
    }
    RunLogWrite("copy %s started; waiting for it to end", copyPath);
    DWORD code = 0;
    if (WaitForSingleObject(copyProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(copyProcess, &code))
        code = EXIT_LAUNCH_ERROR;
    CloseHandle(copyProcess);
    RunLogWrite("the copy ended with exit code %lu", static_cast<unsigned long>(code));
    return static_cast<int>(code);
}

// An empty value is taken for none: the first stage never sets one.
int UnattendedCopyBegin() {
    char value[UNATTENDED_VALUE_CAPACITY];
    DWORD length = GetEnvironmentVariableA(unattendedVariable, value, sizeof value);
    if (length == 0) return 0;
    unattendedRun = true;
    if (length >= sizeof value || !UnattendedValueParse(value, &runSwitches)) return EXIT_MISUSE;
    if (runSwitches.logPath[0] != '\0' && RunLogOpen(runSwitches.logPath, false, "copy") != 0)
        return EXIT_LOG_REFUSED;
    return 0;
}

void RunLogFilesStep(const char* dataFolder) {
    if (dataFolderKept != 0) {
        RunLogWrite("step Files: the data folder %s was kept, since its archive could not be completed",
                    dataFolder);
        return;
    }
    bool gone = GetFileAttributesA(dataFolder) == INVALID_FILE_ATTRIBUTES;
    RunLogWrite("step Files: archive %s written completely; the data folder %s was removed%s", archivePath,
                dataFolder, gone ? "" : " only in part");
}

int CopyOutcome() {
    if (restartNeeded != 0)
        RunLogWrite(restartStarted ? "restart needed: started" : "restart needed: not done");
    return UninstallOutcome(dataFolderKept != 0, restartNeeded != 0, restartStarted);
}

int CopyExitCode() {
    return unattendedRun ? UnattendedEnd(CopyOutcome()) : 0;
}
