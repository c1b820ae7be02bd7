// The test bench: drives the real program as a person would. It starts
// processes, finds their message boxes by caption, reads and answers them,
// reads exit codes, and prepares files and registry keys inside the prefix.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

//--- processes
struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

// Starts commandLine verbatim (the relaunch argument keeps its quotes) as a
// detached process, so that a GUI program does not share the bench's console.
// currentFolder may be empty (the bench's own). Returns a process with a null
// handle when it could not be started.
Process Start(const std::string& commandLine, const std::string& currentFolder = "");
// Waits for the process to end and returns its full exit code; -999 on time-out.
long WaitExit(Process& process, DWORD timeoutMs = 60000);
void Close(Process& process);
// Ends every process of this prefix whose image is named imageName (such as
// "uninstKIVO.exe"); returns how many were ended.
int KillAll(const char* imageName);
// True while some process with that image name runs.
bool IsRunning(const char* imageName);

// Path of the program under test inside the prefix: C:\kivo\uninstKIVO.exe.
std::string ProgramPath();

//--- message boxes (dialog class #32770)
struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;                 // the static text, "\r" kept as in the box
    std::vector<std::string> buttons; // button texts in z order, such as "&Yes"
    HWND owner = nullptr;             // GetWindow(GW_OWNER)
    DWORD processId = 0;
    bool found() const { return window != nullptr; }
};

// Waits up to timeoutMs for a visible box whose caption equals caption
// (any caption when empty) and, when processId is not 0, that belongs to it.
Box WaitBox(const std::string& caption, DWORD timeoutMs = 20000, DWORD processId = 0);
// Waits like WaitExit while noting every top-level window that appears
// meanwhile, in any process (a console's window belongs to its host, and a
// console without one, such as a hidden interpreter's, is no window):
// "class \"title\" (process id)" each. Windows that existed before the call
// are left out.
long WaitExitWatchingWindows(Process& process, std::vector<std::string>& seen, DWORD timeoutMs = 120000);
// Presses the button with this control id (IDOK, IDYES, IDNO, ...).
bool Press(const Box& box, int controlId);
// Waits until the box's window is gone.
bool WaitBoxGone(const Box& box, DWORD timeoutMs = 10000);
// The control id of the button with the default-push style, or 0.
int DefaultButton(const Box& box);
// Runs routine(parameter) on a second thread of this process, waits up to
// boxTimeoutMs for its box with this caption and hands it to answer, which
// presses a button; then waits up to threadTimeoutMs for the thread to end.
// False when no box came or the thread did not end.
bool AnswerOwnBox(LPTHREAD_START_ROUTINE routine, void* parameter, const std::string& caption,
                  DWORD boxTimeoutMs, DWORD threadTimeoutMs, const std::function<void(const Box&)>& answer);

// A Win32 thread running routine (the win32 thread model has no std::thread);
// ThreadJoin waits for its end and closes it.
HANDLE ThreadStart(std::function<void()> routine);
void ThreadJoin(HANDLE thread);

//--- files, inside the prefix; paths in UTF-8, of any length
std::wstring Wide(const std::string& utf8); // long paths (X:\... of 240 or more) in the \\?\ form
std::string Utf8(const std::wstring& wide);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool ReadFileBytes(const std::string& path, std::string& bytes);
bool Exists(const std::string& path); // file or folder
bool IsFolder(const std::string& path);
bool MakeFolders(const std::string& path); // every missing folder of the path
// Clears read-only bits on the way; a link goes by itself, never followed.
void RemoveTree(const std::string& path);
// Relative paths, files and folders (a link as a folder, not entered), sorted.
std::vector<std::string> ListTree(const std::string& folder);
std::string TempFolder();                  // %TEMP% without trailing backslash
std::string Utf8(const std::string& ansi); // ANSI code page text in UTF-8
// Wine sees through a Linux-side link: deleting the link deletes what it
// leads to when that is a file or an empty folder, and fails otherwise.
bool UnderWine();
// Has swapper.sh (in the test's pre-run) rename folder (C:\...) to
// folder.away and put a Linux-side link to target (C:\...) in its place;
// false when that was not done within ten seconds.
bool SwapForLink(const std::string& folder, const std::string& target);

//--- shell notifications, as Explorer would receive them (Wine delivers them
// only inside the process that sends them)
struct ShellEvent {
    LONG event; // SHCNE_*
    std::string path;
};
// Listens for every event from now on, on a thread of its own.
bool ListenToShell();
std::vector<ShellEvent> ShellEventsSeen(); // since ListenToShell, then stops listening

//--- registry
bool RegSetString(HKEY root, const std::string& key, const char* name, const std::string& value,
                  DWORD type = REG_SZ);
bool RegSetDword(HKEY root, const std::string& key, const char* name, DWORD value);
bool RegKeyExists(HKEY root, const std::string& key);
bool RegValueExists(HKEY root, const std::string& key, const char* name);
bool RegGetString(HKEY root, const std::string& key, const char* name, std::string& value);
bool RegGetDword(HKEY root, const std::string& key, const char* name, DWORD& value);
void RegDeleteTree(HKEY root, const std::string& key);
// Hive files: the key's tree saved into a new file (the registry's own save
// call, whose files Wine can load back), loaded under HKEY_USERS\name and
// unloaded; the backup and restore privileges are enabled for each call.
bool RegSaveHive(HKEY root, const std::string& key, const std::string& file);
LONG RegLoadHive(const std::string& name, const std::string& file);
LONG RegUnloadHive(const std::string& name);
std::vector<std::string> RegSubkeys(HKEY root, const std::string& key);

//--- environment of this process
void SetEnv(const char* name, const char* value); // null value removes it

} // namespace bench
