#include "driver/exit_codes.h"

int UninstallOutcome(bool dataFolderKept, bool itemsRemain, bool restartNeeded, bool restartStarted) {
    if (dataFolderKept) return EXIT_DATA_FOLDER_KEPT;
    if (itemsRemain) return EXIT_ITEMS_REMAIN;
    if (restartStarted) return EXIT_RESTART_STARTED;
    return restartNeeded ? EXIT_RESTART_NEEDED : EXIT_DONE;
}

bool UninstallRanToItsEnd(long code) {
    return code == EXIT_DONE || code == EXIT_DATA_FOLDER_KEPT || code == EXIT_ITEMS_REMAIN ||
           code == EXIT_RESTART_NEEDED || code == EXIT_RESTART_STARTED;
}

const char* ExitCodeMeaning(long code) {
    switch (code) {
    case EXIT_DONE:
        return "uninstalled";
    case EXIT_NOT_INSTALLED:
        return "not installed";
    case EXIT_TEMP_UNDEFINED:
        return "TEMP undefined";
    case EXIT_LAUNCH_ERROR:
        return "launch error";
    case EXIT_MISUSE:
        return "misuse";
    case EXIT_NOT_ADMINISTRATOR:
        return "not an administrator";
    case EXIT_APPLICATION_RUNNING:
        return "DAZIV.EXE is running";
    case EXIT_DATA_FOLDER_KEPT:
        return "uninstalled, but the data folder was kept";
    case EXIT_LOG_REFUSED:
        return "the log cannot be written there";
    case EXIT_ITEMS_REMAIN:
        return "finished, but some items remain";
    case EXIT_USER_DECLINED:
        return "declined at the confirmation";
    case EXIT_STOPPED:
        return "the copy was stopped before it ended: run the uninstaller again to finish";
    case EXIT_ALREADY_RUNNING:
        return "another copy of the uninstaller is running";
    case EXIT_RESTART_STARTED:
        return "uninstalled, restart started";
    case EXIT_RESTART_NEEDED:
        return "uninstalled, restart needed and not done";
    default:
        return "the copy ended abnormally";
    }
}

// The writer's codes, as its header lists them.
const char* ZipResultMeaning(int result) {
    switch (result) {
    case 0:
        return "done";
    case 1:
        return "a file could not be created or opened";
    case 2:
        return "out of memory";
    case 3:
        return "a write failed, the drive may be full";
    case 7:
        return "a file could not be read";
    case 16:
        return "the archive could not be repositioned";
    case 18:
        return "too large for the zip format";
    case 19:
        return "the archive read back differs from what was written";
    default:
        return "zip error";
    }
}
