// The product's uninstall key: where the first stage finds the installation
// and, while a run removes it, the mark that lets a later run find and finish
// a run that was stopped (its program files may be gone by then).
#pragma once

extern const char* const UNINSTALL_KEY; // below HKEY_LOCAL_MACHINE

// Marks the key, created when absent, with the folder being uninstalled;
// false when the mark could not be written.
bool UninstallMarkInProgress(const char* folder);
// The folder that a stopped run was uninstalling, copied into out; false
// when no run is marked, or the text does not fit.
bool UninstallInProgressFolder(char* out, int capacity);
// Whether a stopped run was uninstalling exactly this folder.
bool UninstallInProgressFor(const char* folder);
// The archives that stopped runs of this uninstall gave a final name, "\r"
// between them, into out; empty when there are none. False when the text
// does not fit.
bool UninstallArchivesRead(char* out, int capacity);
// Records one more archive that got its final name, so that a run that
// finishes this one names it too; false when it could not be recorded.
bool UninstallArchiveAdd(const char* archive);
// Removes the key and its mark: the last trace that names the installation.
// False when the key stays (without its mark or its archives).
bool UninstallKeyRemove();
