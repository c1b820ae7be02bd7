// The exit codes of a run with switches, what each means, and the code an
// uninstall that ran to its end gives. Plain C++ without windows.h.
#pragma once

// Runs without switches keep their own codes (0 also for a refusal shown in
// a box, a No, a second instance); 1 to 4 are the same in both.
enum ExitCode {
    EXIT_DONE = 0,
    EXIT_NOT_INSTALLED = 1,
    EXIT_TEMP_UNDEFINED = 2,
    EXIT_LAUNCH_ERROR = 3,
    EXIT_MISUSE = 4,
    EXIT_NOT_ADMINISTRATOR = 5,   // as ERROR_ACCESS_DENIED
    EXIT_APPLICATION_RUNNING = 6, // DAZIV.EXE runs
    EXIT_DATA_FOLDER_KEPT = 7,    // uninstalled, but the data folder could not be archived completely
    EXIT_LOG_REFUSED = 8,         // the log cannot be written where it was asked for; nothing was done
    EXIT_ITEMS_REMAIN = 9,        // uninstalled, but some items could not be removed (each logged)
    EXIT_USER_DECLINED = 1602,    // ERROR_INSTALL_USEREXIT
    EXIT_STOPPED = 1603,          // ERROR_INSTALL_FAILURE: the copy was stopped before it ended
    EXIT_ALREADY_RUNNING = 1618,  // ERROR_INSTALL_ALREADY_RUNNING
    EXIT_RESTART_STARTED = 1641,  // ERROR_SUCCESS_REBOOT_INITIATED
    EXIT_RESTART_NEEDED = 3010    // ERROR_SUCCESS_REBOOT_REQUIRED
};

// The code of an uninstall that ran to its end: a kept data folder first,
// since the user's data still waits for someone; then items that remain,
// which an administrator must remove; then a restart, started or needed.
int UninstallOutcome(bool dataFolderKept, bool itemsRemain, bool restartNeeded, bool restartStarted);
// Whether code ends an uninstall that ran to its end, whatever it left.
bool UninstallRanToItsEnd(long code);
// What a code means, for the log ("uninstalled, restart needed"); never null.
const char* ExitCodeMeaning(long code);
// What a result of the zip writer means, for the log; never null.
const char* ZipResultMeaning(int result);
