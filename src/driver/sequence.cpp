// The uninstall sequence of the second stage: six labelled steps, each with
// its label blinking on the busy indicator's worker while the main thread works.
#include "clean/clean.h"
#include "clean/shell_notify.h"
#include "console/console.h"
#include "driver/archive_name.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/files_step.h"
#include "driver/message_box.h"
#include "driver/other_users.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"
#include "driver/uninstall_key.h"
#include "platform/handle_walk.h"
#include "platform/registry.h"

#include <windows.h>

// Slot 1 of the thread table holds the busy indicator's worker.
static const int BUSY_SLOT = 1;

// The label is set before the flag and the worker start, and stays unchanged
// until the worker has ended, so the worker never sees a half-changed step.
// A quiet run has no console, hence no indicator.
static void StepBegin(const char* label) {
    if (workSeam != nullptr) workSeam(WORK_SEAM_STEP);
    if (RunIsQuiet()) return;
    busyLabel = label;
    busyFlag = 1;
    ThreadStart(BUSY_SLOT);
}

// Waits until the worker has drawn the label in its final colours and ended;
// only then may the main thread touch the console again.
static void StepEnd() {
    if (RunIsQuiet()) return;
    busyFlag = 0;
    ThreadWait(BUSY_SLOT);
}

// The uninstall key stays until the Files step has ended: with the mark
// that the sequence puts in it first, it is what lets a later run find and
// finish a run stopped once the variable or the program files were gone.
static void DeleteRegistryEntries(int removeUserSettings) {
    const int settings = removeUserSettings != 0 ? UserSettingsRemove(HKEY_CURRENT_USER) : 1;
    if (settings == -1) RunLogRemovalFailed("registry key", "HKCU\\Software\\TMW\\KIVO");
    if (settings == -2) RunLogRemovalFailed("registry key", "HKCU\\Software\\TMW");
    OtherUsersRemoveTraces(removeUserSettings);
}

// What a step's log line ends with: whether a removal of the step failed,
// each already logged by name.
static const char* StepResult(int failedBefore) {
    return removalsFailed == failedBefore ? "done" : "some items remain (see above)";
}

void RunUninstallSequence(const char* shortcutFolder, const char* dataFolder, int removeUserSettings) {
    const char* labelShortcuts = CatalogueText(MSG_LABEL_SHORTCUTS, languageCode);
    const char* labelAssociations = CatalogueText(MSG_LABEL_ASSOCIATIONS, languageCode);
    const char* labelVariables = CatalogueText(MSG_LABEL_VARIABLES, languageCode);
    const char* labelRegistry = CatalogueText(MSG_LABEL_REGISTRY, languageCode);
    const char* labelFiles = CatalogueText(MSG_LABEL_FILES, languageCode);
    const char* labelEnded = CatalogueText(MSG_LABEL_ENDED, languageCode);

    // Nothing has been removed yet, so ending here loses nothing.
    if (!RunIsQuiet() && ThreadCreate(BUSY_SLOT, BusyIndicatorRoutine, nullptr) != 0) {
        MessageBeep(MB_ICONEXCLAMATION);
        ReleaseCom();
        RunLogWrite("the busy indicator could not be set up; nothing was removed");
        ExitProcess(UnattendedEnd(RunExitCode(0, EXIT_LAUNCH_ERROR)));
    }

    removalFailed = RunLogRemovalFailed;
    if (UninstallMarkInProgress(dataFolder, installFolderHandle))
        RunLogWrite("the uninstall of %s is marked in progress in the uninstall key", dataFolder);
    else
        RunLogWrite("the uninstall key could not be marked: should this run be stopped, a later one may not "
                    "find the installation again (error %lu)",
                    static_cast<unsigned long>(GetLastError()));
    StepBegin(labelShortcuts);
    int shortcuts = ShortcutsRemove(shortcutFolder);
    StepEnd();
    RunLogWrite("step Shortcuts: %s", shortcuts == 1 ? "done" : "some shortcuts could not be removed");

    StepBegin(labelAssociations);
    int kvo = AssociationRemove(".KVO");
    int gkv = AssociationRemove(".GKV");
    ShellNotifyAssociationsChanged();
    StepEnd();
    RunLogWrite("step Associations: .KVO result %d, .GKV result %d (0 removed or absent, 4 a key stayed)",
                kvo, gkv);

    int failedBefore = removalsFailed;
    StepBegin(labelVariables);
    EnvironmentRemoveVariables();
    StepEnd();
    RunLogWrite("step Variables: %s%s", StepResult(failedBefore),
                restartNeeded != 0 ? ", a restart is needed" : "");

    failedBefore = removalsFailed;
    StepBegin(labelRegistry);
    DeleteRegistryEntries(removeUserSettings);
    StepEnd();
    RunLogWrite("step Registry: %s", StepResult(failedBefore));

    char message[RESULT_MESSAGE_CAPACITY];
    StepBegin(labelFiles);
    RunFilesStep(dataFolder, message);
    ShellNotifyInstallFolder(dataFolder);
    UninstallKeyRemove();
    StepEnd();
    RunLogFilesStep(dataFolder);

    ShowMessage(0, 4, 0, message, windowCaption);
    ConsoleNewLine();

    StepBegin(labelEnded);
    StepEnd();
}
