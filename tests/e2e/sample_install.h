// A sample KIVO installation laid out in the prefix, and what the scenarios
// read back from a running uninstaller (its console, its process).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

constexpr const char* INSTALL_FOLDER = "C:\\Apps\\KIVO";
// A copy of every data file as it was before the run, for the archive check.
constexpr const char* EXPECTED_FOLDER = "C:\\expected\\KIVO";

struct DataFile {
    const char* path; // relative to the installation folder
    std::string bytes;
};

//--- the installation
// Program files, data files (also mirrored into EXPECTED_FOLDER), registry
// keys, associations, both variables in both environments, shortcuts in
// every place of several profiles (pins included), and unrelated neighbours
// of each that must stay.
void LayOutInstallation();
const std::vector<DataFile>& DataFiles();
std::vector<std::string> ProgramFiles(); // relative paths
std::vector<std::string> ProductShortcuts();
std::vector<std::string> ProductGroups();  // start-menu groups holding only product shortcuts
std::vector<std::string> WindowsFolders(); // the start menus' own folders holding some of them
std::vector<std::string> ForeignShortcuts();
std::string ShortcutTarget(const std::string& path);
// Every shortcut on drive C: whose target lies in folder, links not followed.
std::vector<std::string> ShortcutsInto(const std::string& folder);
// autoexec.bat of Windows 9x and the text expected after the variables left it.
void WriteAutoexec();
std::string AutoexecAfter();

//--- archive names at the drive root
std::vector<std::string> ArchivesAtRoot(char drive);
void RemoveArchives(); // those at C:
// The installation laid out anew, without the archives of earlier runs.
void FreshInstallation();
// The copy's private folder in %TEMP% while it exists (the first one), or "".
std::string PrivateCopyFolder();

// The id of the one running process with that image name, or 0.
DWORD ProcessIdOf(const char* imageName, DWORD timeoutMs);

//--- the uninstaller's console, read from another process
struct ConsoleLine {
    std::string text;             // OEM bytes, one per column
    std::vector<WORD> attributes; // one per column
};
// Reads every row of the console of process pid, and its window when asked,
// through a helper child.
bool ReadConsoleOf(DWORD pid, std::vector<ConsoleLine>& lines, HWND* window = nullptr);
// Entry of the helper child; returns its exit code.
int ConsoleSnapshotMain(DWORD pid, const char* reportPath);

//--- the demo: the whole uninstall with its boxes answered, and a report
int DemoMain(const char* reportPath);

//--- the Files step as the person waits for it, on the data that the bench
// linked into the installation folder: from its label to the result box.
// Writes "files-step SECONDS" into the report.
int FilesStepTimingMain(const char* reportPath);
// Entry of the watching child, attached to the copy's console.
int WatchFilesStepMain(DWORD pid, const char* reportPath);

//--- a copy of the program outside the installation, started as the second stage
std::string SecondStageCommand(const std::string& argument);

} // namespace e2e
