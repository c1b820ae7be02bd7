// The uninstall sequence of the second stage: six labelled steps, each with
// its label blinking on the busy indicator's worker while the main thread works.
#include "clean/clean.h"
#include "clean/shell_notify.h"
#include "console/console.h"
#include "driver/archive_name.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/message_box.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"
#include "platform/registry.h"
#include "zip/zip.h"

#include <windows.h>

// Slot 1 of the thread table holds the busy indicator's worker.
static const int BUSY_SLOT = 1;

// The label is set before the flag and the worker start, and stays unchanged
// until the worker has ended, so the worker never sees a half-changed step.
// A quiet run has no console, hence no indicator.
static void StepBegin(const char* label) {
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

static void DeleteRegistryEntries(int removeUserSettings) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO");
    if (removeUserSettings != 0 && RegistryDeleteKeyTree(HKEY_CURRENT_USER, "Software\\TMW\\KIVO") == 0) {
        RegistryDeleteKeyIfEmpty(HKEY_CURRENT_USER, "Software\\TMW"); // other products of the maker keep it
    }
}

// Packs what is left of dataFolder into archiveName; true only when the
// archive is complete (a close that failed leaves an unreadable file).
static bool ArchiveFolder(const char* dataFolder, const char* archiveName) {
    // A file of that name that we could not replace is somebody's earlier
    // archive: it is only ours to delete once our creation has truncated it.
    bool existedBefore = GetFileAttributesA(archiveName) != INVALID_FILE_ATTRIBUTES;
    ZipArchive* archive = nullptr;
    int created = ZipCreateArchiveFile(&archive, archiveName, nullptr);
    if (created == ZIP_OK) {
        int added = ZipAddFolderTree(archive, dataFolder, ArchivePrefixLength(dataFolder));
        int closed = ZipCloseArchive(archive);
        if (added == ZIP_OK && closed == ZIP_OK) return true;
        RunLogWrite("archive %s not completed: adding the folder %d (%s), closing it %d (%s)", archiveName,
                    added, ZipResultMeaning(added), closed, ZipResultMeaning(closed));
    } else {
        RunLogWrite("archive %s not created: %d (%s)", archiveName, created, ZipResultMeaning(created));
    }
    if (created == ZIP_OK || !existedBefore) DeleteFileA(archiveName);
    return false;
}

// Deletes the program files, archives the rest and removes the folder only
// when the archive is complete; message receives the result box's text.
static void CleanFiles(const char* dataFolder, char* message) {
    ProgramFilesDelete(dataFolder);

    const char* cleaningRequired = CatalogueText(MSG_CLEANING_REQUIRED, languageCode);
    const char* filesArchived = CatalogueText(MSG_FILES_ARCHIVED, languageCode);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char archiveName[ARCHIVE_NAME_CAPACITY];
    bool archived = ArchiveNameFormat(archiveName, ARCHIVE_NAME_CAPACITY, dataFolder[0], now.wYear,
                                      now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond) == 0 &&
                    ArchiveFolder(dataFolder, archiveName);
    const char* text = archived ? filesArchived : cleaningRequired;
    if (archived) FolderDeleteTree(dataFolder, 1);
    dataFolderKept = archived ? 0 : -1;
    lstrcpynA(archivePath, archived ? archiveName : "", PATH_CAPACITY);
    // Both texts and a full path always fit; should they not, the bare text
    // still tells the user what happened.
    if (ResultMessageFormat(message, RESULT_MESSAGE_CAPACITY, text, archived ? archiveName : dataFolder) !=
        0) {
        lstrcpynA(message, text, RESULT_MESSAGE_CAPACITY);
    }
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

    StepBegin(labelShortcuts);
    int shortcuts = ShortcutsRemove(shortcutFolder);
    StepEnd();
    RunLogWrite("step Shortcuts: %s", shortcuts == 1 ? "done" : "some shortcuts could not be removed");

    StepBegin(labelAssociations);
    int kvo = AssociationRemove(".KVO");
    int gkv = AssociationRemove(".GKV");
    ShellNotifyAssociationsChanged();
    StepEnd();
    RunLogWrite("step Associations: .KVO result %d, .GKV result %d (0 removed or absent)", kvo, gkv);

    StepBegin(labelVariables);
    EnvironmentRemoveVariables();
    StepEnd();
    RunLogWrite("step Variables: done%s", restartNeeded != 0 ? ", a restart is needed" : "");

    StepBegin(labelRegistry);
    DeleteRegistryEntries(removeUserSettings);
    StepEnd();
    RunLogWrite("step Registry: done");

    char message[RESULT_MESSAGE_CAPACITY];
    StepBegin(labelFiles);
    CleanFiles(dataFolder, message);
    ShellNotifyInstallFolder(dataFolder);
    StepEnd();
    RunLogFilesStep(dataFolder);

    ShowMessage(0, 4, 0, message, windowCaption);
    ConsoleNewLine();

    StepBegin(labelEnded);
    StepEnd();
}
