// The copy that the second stage runs from: a new folder under TEMP that
// only the current user, SYSTEM and the Administrators may use, the copy of
// this program in it, the copy's start, and its deletion at the end.
#pragma once

#include <windows.h>

// Copies sourcePath into a new private folder below tempFolder under
// fileName; copyPath (260 bytes) receives the copy's path and held a handle
// that keeps anybody from writing the copy. The bytes come through a handle
// that refuses writers and deleters and is shown to hold the very file this
// process runs from, never by the name again. 0 made; -1 nothing was left
// behind; -2 sourcePath is not the running program (it was replaced).
int PrivateCopyMake(const char* sourcePath, const char* tempFolder, const char* fileName, char* copyPath,
                    HANDLE* held);
// Runs before the program's file is opened for its copy, once the folder is
// checked and held; null in the program.
extern void (*beforeCopyHook)();
// The variables that tell the copy which of its inherited handles hold the
// installation folder and the log.
extern const char* const folderHandleVariable; // "KIVO_FOLDER_HANDLE"
extern const char* const logHandleVariable;    // "KIVO_LOG_HANDLE"
// Starts the copy with commandLine in its own folder, handing it no handle of
// ours but folder and log (each when not null: the installation folder held
// and the log, which it inherits and learns of in the variables above), then
// lets go of held. 0 started, and process receives the copy's process
// handle, which the caller closes; -1 not, and the copy and its folder are
// gone again.
int PrivateCopyStart(const char* copyPath, char* commandLine, HANDLE held, HANDLE folder, HANDLE log,
                     HANDLE* process);
// In the copy: the file handle named in variable, made this process's own
// and not inheritable, or null when none was passed; the variable goes.
// False when the variable names no handle of a file or folder.
bool TakePassedHandle(const char* variable, HANDLE* handle);
// Has the system's command interpreter delete folder\fileName (the running
// program) once this process has ended and, when folder is a private folder,
// the folder too. 0 the interpreter started; -1 not.
int PrivateCopyDelete(const char* folder, const char* fileName);
