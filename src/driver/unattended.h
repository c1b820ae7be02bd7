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
// Parses the switches and opens the log, a relative path being taken from
// the current folder; 0, EXIT_MISUSE or EXIT_LOG_REFUSED.
int UnattendedFirstStageBegin(const char* argumentText);
// Just before the copy starts: sets the copy's variable in a run with
// switches, removes it otherwise, so that nothing inherited can make an
// interactive run quiet. False when it could not be set.
bool UnattendedPassToCopy();
// After the copy started: without switches the process ends at once with 0;
// with them, waits for the copy and returns its exit code. Closes the handle.
int FirstStageEnd(HANDLE copyProcess, const char* copyPath);

//--- copy
// Takes the switches from the variable and opens the log: 0 (no variable, or
// a valid one), EXIT_MISUSE (malformed) or EXIT_LOG_REFUSED.
int UnattendedCopyBegin();
// The Files step's outcome, from the driver state, for the log.
void RunLogFilesStep(const char* dataFolder);
// Logs what the uninstall left to do and returns the code it gives.
int CopyOutcome();
// The code the copy ends with once its file is handed over for deletion:
// 0 without switches, else the outcome, logged.
int CopyExitCode();
