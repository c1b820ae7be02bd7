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
// Removes the key and its mark: the last trace that names the installation.
// False when the key stays (without its mark).
bool UninstallKeyRemove();
