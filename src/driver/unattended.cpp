#include "driver/unattended.h"

#include "clean/clean.h"
#include "clean/file_tests.h"
#include "clean/path_text.h"
#include "driver/driver_state.h"
#include "driver/private_copy.h"
#include "driver/relaunch_argument.h"
#include "driver/run_log.h"
#include "driver/uninstall_key.h"

#include <cstring>

bool unattendedRun = false;
RunSwitches runSwitches = {};
bool restartStarted = false;

namespace {

// The first stage's own file while it waits in the copy's private folder,
// and where it came from.
char ownFileAside[PATH_CAPACITY];
char ownFileHome[PATH_CAPACITY];

// A running program's file cannot be deleted but can be renamed on its
// volume. Only the file directly in the installation folder moves: that is
// where the program files the uninstall deletes lie. It waits beside the
// copy, in the folder that only this user and the administrators can write.
void MoveOwnFileAside(const char* ownPath, const char* privateFolder) {
    const char* name = std::strrchr(ownPath, '\\');
    if (name == nullptr || static_cast<size_t>(name - ownPath) != std::strlen(installFolder) ||
        !PathIsInFolder(installFolder, ownPath))
        return;
    char aside[PATH_CAPACITY];
    if (!FolderJoin(privateFolder, name + 1, aside, sizeof aside) ||
        !TextFormat(ownFileAside, sizeof ownFileAside, "%s.waiting", aside) ||
        !TextFormat(ownFileHome, sizeof ownFileHome, "%s", ownPath) || !MoveFileA(ownPath, ownFileAside)) {
        RunLogWrite(
            "this program's file %s could not leave the installation folder (error %lu) and stays there",
            ownPath, static_cast<unsigned long>(GetLastError()));
        ownFileAside[0] = '\0';
        return;
    }
    RunLogWrite("this program's file moved to %s while it waits", ownFileAside);
}

// The file and the private folder go to an interpreter of their own; the
// copy's interpreter and this one each remove the folder once it is empty.
bool HandOwnFileOver() {
    char folder[PATH_CAPACITY];
    return PathFolderOf(ownFileAside, folder, sizeof folder) &&
           PrivateCopyDelete(folder, PathLastName(ownFileAside)) == 0;
}

// Only an uninstall makes the file superfluous; after a refusal the
// installation keeps its uninstaller.
void SettleOwnFile(DWORD code) {
    if (ownFileAside[0] == '\0') return;
    if (!UninstallRanToItsEnd(code)) {
        bool back = MoveFileA(ownFileAside, ownFileHome) != 0;
        RunLogWrite(back ? "this program's file is back in %s"
                         : "this program's file could not go back to %s; it is %s",
                    ownFileHome, ownFileAside);
    } else if (HandOwnFileOver()) {
        RunLogWrite("this program's file %s is deleted once this program has ended", ownFileAside);
    } else {
        RunLogWrite("this program's file %s could not be handed over for deletion and stays", ownFileAside);
    }
}

} // namespace

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

namespace {

// What the first stage was started with, logged as soon as the log is open.
const char* startedWith = nullptr;

} // namespace

int UnattendedFirstStageBegin(const char* argumentText) {
    unattendedRun = true;
    if (SwitchesParse(argumentText, &runSwitches) != SWITCHES_OK) return EXIT_MISUSE;
    if (runSwitches.logPath[0] != '\0') {
        char full[PATH_CAPACITY];
        DWORD length = GetFullPathNameA(runSwitches.logPath, PATH_CAPACITY, full, nullptr);
        if (length == 0 || length >= static_cast<DWORD>(PATH_CAPACITY) || !LogPathIsPlain(full))
            return EXIT_LOG_REFUSED;
        std::memcpy(runSwitches.logPath, full, length + 1);
    }
    startedWith = argumentText;
    return 0;
}

bool UnattendedLogOpen(const char* folder) {
    if (!unattendedRun || runSwitches.logPath[0] == '\0' || RunLogIsOpen()) return true;
    const bool first = startedWith != nullptr;
    HANDLE held = folder != nullptr ? static_cast<HANDLE>(installFolderHandle) : nullptr;
    if ((folder != nullptr && PathIsInFolder(folder, runSwitches.logPath)) ||
        RunLogOpen(runSwitches.logPath, first, first ? "first" : "copy", held) != 0)
        return false;
    if (!first) return true;
    RunLogWrite("uninstKIVO started with: %s", startedWith);
    RunLogWrite("quiet: %s; restart: %s", runSwitches.quiet ? "yes" : "no",
                runSwitches.noRestart ? "never"
                : runSwitches.quiet   ? "when needed"
                                      : "asked when needed");
    return true;
}

bool UnattendedPassSwitches() {
    if (!unattendedRun) {
        SetEnvironmentVariableA(unattendedVariable, nullptr);
        return true;
    }
    char value[UNATTENDED_VALUE_CAPACITY];
    return UnattendedValueFormat(runSwitches, value, sizeof value) &&
           SetEnvironmentVariableA(unattendedVariable, value);
}

void UnattendedLeaveFolder(const char* ownPath, const char* tempFolder, const char* copyPath) {
    if (!unattendedRun) return;
    char folder[PATH_CAPACITY];
    if (!PathFolderOf(copyPath, folder, sizeof folder)) return;
    SetCurrentDirectoryA(tempFolder);
    MoveOwnFileAside(ownPath, folder);
}

void UnattendedCopyNotStarted() {
    SettleOwnFile(EXIT_LAUNCH_ERROR);
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
    // A copy ended from outside (a kill, a deployment tool's time-out) may
    // leave any code, 0 too. One that ran to its end took its mark away, and
    // the uninstall key too unless it had to say that items remain.
    const bool marked = UninstallInProgressFor(installFolder, nullptr);
    if (UninstallRanToItsEnd(code) && (marked || (code != EXIT_ITEMS_REMAIN && UninstallKeyPresent()))) {
        RunLogWrite("but the uninstall key is still there%s: the copy was stopped before it ended",
                    marked ? ", marking its uninstall in progress" : "");
        code = EXIT_STOPPED;
    }
    SettleOwnFile(code);
    return static_cast<int>(code);
}

// An empty value is taken for none: the first stage never sets one.
int UnattendedCopyBegin() {
    char value[UNATTENDED_VALUE_CAPACITY];
    DWORD length = GetEnvironmentVariableA(unattendedVariable, value, sizeof value);
    if (length == 0) return 0;
    unattendedRun = true;
    HANDLE passed = nullptr;
    const bool taken = TakePassedHandle(logHandleVariable, &passed);
    if (length >= sizeof value || !taken || !UnattendedValueParse(value, &runSwitches)) {
        if (passed != nullptr) CloseHandle(passed);
        return EXIT_MISUSE;
    }
    // The log the first stage opened and passed on; a copy started by hand
    // opens the one its variable names once its folder is held.
    if (passed != nullptr) return RunLogAdopt(passed, "copy") == 0 ? 0 : EXIT_LOG_REFUSED;
    return 0;
}

void RunLogFilesStep(const char* dataFolder) {
    if (archivePath[0] == '\0') {
        RunLogWrite("step Files: the data folder %s was kept, since its archive could not be completed",
                    dataFolder);
        return;
    }
    if (dataFolderKept == 0) {
        RunLogWrite("step Files: archive %s written completely and verified; the data folder %s was removed",
                    archivePath, dataFolder);
        return;
    }
    // Why it stayed: what could not be deleted is in the archive; what the
    // archive does not hold unchanged is only on the disk.
    char undeleted[160] = "";
    char unarchived[160] = "";
    if (dataFilesUndeleted != 0)
        TextFormat(
            undeleted, sizeof undeleted,
            "; %d of its files or folders that the archive holds could not be deleted (each named above)",
            dataFilesUndeleted);
    if (dataFilesUnarchived != 0)
        TextFormat(
            unarchived, sizeof unarchived,
            "; %d of its files stayed since the archive does not hold them unchanged (changed or added "
            "after they were read, or with other names; each named above)",
            dataFilesUnarchived);
    RunLogWrite("step Files: archive %s written completely and verified; the data folder %s was kept%s%s",
                archivePath, dataFolder, undeleted, unarchived);
}

int CopyOutcome() {
    if (restartNeeded != 0)
        RunLogWrite(restartStarted ? "restart needed: started" : "restart needed: not done");
    if (removalsFailed != 0) RunLogWrite("%d items could not be removed (each named above)", removalsFailed);
    return UninstallOutcome(dataFolderKept != 0, removalsFailed != 0, restartNeeded != 0, restartStarted);
}

int CopyExitCode() {
    return unattendedRun ? UnattendedEnd(CopyOutcome()) : 0;
}
