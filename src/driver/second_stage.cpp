// The second stage: the copy in the TEMP folder opens its console, checks
// that it may work, runs the sequence, reports, and has its file deleted.
#include "driver/second_stage.h"

#include "clean/clean.h"
#include "console/console.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/message_box.h"
#include "driver/private_copy.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"
#include "platform/restart.h"
#include "platform/windows_version.h"

#include <objbase.h>
#include <windows.h>

// The main application's own mutex: while it exists the application runs.
static const char* const APPLICATION_MUTEX = "_DAziv___Instance_";

int BroadcastEnvironmentChange() {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                               SMTO_ABORTIFHUNG, 5000, &answer) != 0;
}

int (*environmentBroadcast)() = BroadcastEnvironmentChange;

void AnnounceEnvironmentChange() {
    if (environmentChanged == 0) return;
    ConsoleHighlight();
    ConsoleWrite(CatalogueText(MSG_WAIT_PLEASE, languageCode));
    // Programs that missed the news keep the old values until Windows restarts.
    bool delivered = environmentBroadcast() != 0;
    if (!delivered) restartNeeded = -1;
    RunLogWrite(delivered ? "environment change announced"
                          : "environment change not announced: restart needed");
    ConsoleSetForeground(0);
    ConsoleSetBackground(14);
    ConsoleSetColumn(0);
    ConsoleBlank(60);
}

int IsWindowsNT() {
    return PlatformIsWindows9x() ? 0 : -1;
}

// Full access to HKLM\SYSTEM is what only an administrator has; the key
// always exists, so nothing is created.
int IsAdministrator() {
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, const_cast<char*>(""), REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return 0;
    }
    RegCloseKey(key);
    return -1;
}

void ReleaseCom() {
    if (!comInitialized) return;
    CoUninitialize();
    comInitialized = false;
}

// The copy's file and, when it runs from its private folder, that folder go
// once this process has ended.
int DeleteOwnCopy() {
    char folder[PATH_CAPACITY];
    char fileName[PATH_CAPACITY];
    if (FindOwnPath(folder, fileName) != 0 || PrivateCopyDelete(folder, fileName) != 0) return -1;
    ExitProcess(CopyExitCode());
}

// Holds the application's mutex, owned, until the second stage ends.
struct MutexHolder {
    HANDLE handle;
    ~MutexHolder() {
        if (handle != nullptr) CloseHandle(handle);
    }
};

// /norestart never asks and never restarts; a quiet run restarts unasked.
static void ReportResult(const char* title) {
    if (restartNeeded == 0 || runSwitches.noRestart) {
        ShowMessage(0, 4, 0, CatalogueText(MSG_SUCCESS, languageCode), title);
        return;
    }
    if (!RunIsQuiet() && ShowMessage(3, 2, 1, CatalogueText(MSG_RESTART_QUESTION, languageCode), title) != 1)
        return;
    RunLogWrite("restart requested");
    restartStarted = RestartSystem(EWX_REBOOT) == 0;
    if (!restartStarted) {
        ShowMessage(0, 3, 0, CatalogueText(MSG_RESTART_IMPOSSIBLE, languageCode), title);
    }
}

int RunSecondStage(HINSTANCE instance) {
    const char* title = CatalogueText(MSG_TITLE, languageCode);
    lstrcpynA(windowCaption, title, CAPTION_CAPACITY);

    if (!RunIsQuiet()) {
        ConsoleConfigure(60, 12, 12, 0, 14);
        ConsoleOpen(instance, title, false);
    }

    // A mutex that could not be created at all is treated like a taken one:
    // without it we cannot know that the application is stopped.
    MutexHolder application{CreateMutexA(nullptr, TRUE, APPLICATION_MUTEX)};
    if (application.handle == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        ShowMessage(0, 1, 0, CatalogueText(MSG_APP_RUNNING, languageCode), title);
        ReleaseCom();
        return RunExitCode(0, EXIT_APPLICATION_RUNNING);
    }

    isNT = IsWindowsNT();
    if (isNT != 0 && IsAdministrator() == 0) {
        ShowMessage(0, 1, 0, CatalogueText(MSG_MUST_BE_ADMIN, languageCode), title);
        ReleaseCom();
        return RunExitCode(0, EXIT_NOT_ADMINISTRATOR);
    }

    RunUninstallSequence(installFolder, installFolder, 1);
    AnnounceEnvironmentChange();
    ReportResult(title);

    ReleaseCom();
    int deletion = DeleteOwnCopy(); // returns only when the deletion could not start
    RunLogWrite("the copy's own file could not be handed over for deletion and stays");
    return RunExitCode(deletion, CopyOutcome());
}
