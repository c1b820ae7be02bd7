// The relaunch argument that links the two stages, and the bounded text
// building around it. Plain C++: no Windows interfaces.
#pragma once

//--- capacities (bytes, terminating zero included)
constexpr int ARGUMENT_CAPACITY = 300;      // relaunch argument, confirmation text
constexpr int COMMAND_LINE_CAPACITY = 2048; // command lines, read or built
constexpr int FIRST_STAGE_LIMIT = 12;       // shorter argument texts select the first stage

//--- relaunch argument
extern const char* relaunchMarker; // "//tmw//"

enum RelaunchCheck {
    RELAUNCH_OK = 0,
    RELAUNCH_TOO_SHORT,        // fewer than 12 characters
    RELAUNCH_TOO_LONG,         // 300 characters or more
    RELAUNCH_NO_OPENING_QUOTE, // character 0 is not a double quote
    RELAUNCH_NO_DRIVE,         // character 10 is not ":"
    RELAUNCH_BAD_MARKER,       // characters 1 to 7 are not the marker
    RELAUNCH_NO_CLOSING_QUOTE, // the last character is not a double quote
    RELAUNCH_FOLDER_TOO_LONG,  // the folder does not fit folderCapacity
    RELAUNCH_ROOT_FOLDER,      // the folder is a bare drive or a drive root
    RELAUNCH_RELATIVE_FOLDER,  // the folder depends on a drive's current folder (C:KIVO)
    RELAUNCH_BAD_CHARACTER // the folder holds a character no Windows name holds (a tab, "*", a second ":")
};

bool IsFirstStageArgument(const char* argumentText);
// Checks an argument text and copies its installation folder to folderOut.
RelaunchCheck RelaunchArgumentCheck(const char* argumentText, char* folderOut, int folderCapacity);
// "\"//tmw// <folder>\""; false (out empty) when it does not fit.
bool RelaunchArgumentBuild(const char* folder, char* out, int capacity);
// The copy's command line: quoted program name, one blank, the argument.
bool CopyCommandLineBuild(const char* programName, const char* argument, char* out, int capacity);

//--- paths
// folder + "\" + name, without the "\" after ":" or "\"; false (out empty) when it does not fit.
bool PathJoin(const char* folder, const char* name, char* out, int capacity);
// folder + "\" + name, without doubling a trailing "\" ("C:" gives "C:\name").
bool FolderJoin(const char* folder, const char* name, char* out, int capacity);
// Cuts a program folder to the folder above it; false when nothing is above it.
bool ProgramFolderParent(char* folder);
// True for a path that names no folder below a root: "", "C:", "C:\", "\", "\\srv\share".
bool FolderIsRoot(const char* folder);

//--- bounded formatting
// snprintf that refuses instead of truncating: false (out empty) when it does not fit.
bool TextFormat(char* out, int capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
