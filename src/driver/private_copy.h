// The copy that the second stage runs from: a new folder under TEMP that
// only the current user, SYSTEM and the Administrators may use, the copy of
// this program in it, the copy's start, and its deletion at the end.
#pragma once

#include <windows.h>

// Copies sourcePath into a new private folder below tempFolder under
// fileName; copyPath (260 bytes) receives the copy's path and held a handle
// that keeps anybody from writing the copy. 0 made; -1 nothing was left behind.
int PrivateCopyMake(const char* sourcePath, const char* tempFolder, const char* fileName, char* copyPath,
                    HANDLE* held);
// Starts the copy with commandLine in its own folder, handing it none of our
// handles, then lets go of held. 0 started, and process receives the copy's
// process handle, which the caller closes; -1 not, and the copy and its
// folder are gone again.
int PrivateCopyStart(const char* copyPath, char* commandLine, HANDLE held, HANDLE* process);
// Has the system's command interpreter delete folder\fileName (the running
// program) once this process has ended and, when folder is a private folder,
// the folder too. 0 the interpreter started; -1 not.
int PrivateCopyDelete(const char* folder, const char* fileName);
