// Runs with switches: the switches of this process, the exit codes of such a
// run, how the first stage hands the switches to the copy and waits for it,
// and what the copy reports at its end.
#pragma once

#include "driver/exit_codes.h"
#include "driver/switches.h"

#include <windows.h>

extern bool unattendedRun;      // switches were given (first stage) or passed on (copy)
extern RunSwitches runSwitches; // all zero without switches
extern bool restartStarted;     // the copy's restart request was accepted

//--- both stages
// /S or /quiet: no box, no console, no window; the log gets the texts.
bool RunIsQuiet();
// interactiveCode in a run without switches, unattendedCode in one with them.
int RunExitCode(int interactiveCode, int unattendedCode);
// The code when another instance holds the single-instance mutex.
int AlreadyRunningExitCode(ArgumentKind kind);
// Logs the exit code, closes the log and returns the code.
int UnattendedEnd(int exitCode);

//--- first stage
// Parses the switches and makes the log's path full, a relative path being
// taken from the current folder; 0, EXIT_MISUSE or EXIT_LOG_REFUSED (a path
// that names no plain file). The log opens later, with UnattendedLogOpen.
int UnattendedFirstStageBegin(const char* argumentText);
// Opens the log of a run with switches once the installation folder was
// checked, so that a refused log leaves nothing behind: folder is the
// installation (held in installFolderHandle, where the system can hold it),
// null when there is none. The log must not lie in it, by its text or by the
// identity of a folder on its path. The first stage creates a missing log
// and writes its switches first; a copy started by hand opens an existing
// one. True when opened or there is none to open; false ends the run with
// EXIT_LOG_REFUSED before anything is done.
bool UnattendedLogOpen(const char* folder);
// Before the copy is made. Without switches: removes the copy's variable, so
// that nothing inherited can make an interactive run quiet; with them, sets
// it. False when the variable could not be set.
bool UnattendedPassSwitches();
// Once the copy is made, with switches only: since this stage waits, it
// leaves the installation folder. TEMP becomes its current folder and its
// own file, when it lies directly in the installation folder, moves beside
// the copy for the time of the run.
void UnattendedLeaveFolder(const char* ownPath, const char* tempFolder, const char* copyPath);
// The copy could not start: this stage's own file goes back.
void UnattendedCopyNotStarted();
// After the copy started: without switches the process ends at once with 0;
// with them, waits for the copy, puts its own file back after a refusal or
// hands it to the interpreter for deletion after an uninstall, and returns
// the copy's exit code. Closes the handle.
int FirstStageEnd(HANDLE copyProcess, const char* copyPath);

//--- copy
// Takes the switches from the variable and the log the first stage passed
// on: 0 (no variable, or a valid one), EXIT_MISUSE (malformed) or
// EXIT_LOG_REFUSED.
int UnattendedCopyBegin();
// The Files step's outcome, from the driver state, for the log.
void RunLogFilesStep(const char* dataFolder);
// Logs what the uninstall left to do and returns the code it gives.
int CopyOutcome();
// The code the copy ends with once its file is handed over for deletion:
// 0 without switches, else the outcome, logged.
int CopyExitCode();
