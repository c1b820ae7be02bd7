// The product's uninstall key: where the first stage finds the installation
// and, while a run removes it, the mark that lets a later run find and finish
// a run that was stopped (its program files may be gone by then).
#pragma once

extern const char* const UNINSTALL_KEY; // below HKEY_LOCAL_MACHINE

// Marks the key, created when absent, with the folder being uninstalled and
// the identity of the folder held (null on Windows 9x); false when the mark
// could not be written.
bool UninstallMarkInProgress(const char* folder, void* held);
// The folder that a stopped run was uninstalling, copied into out; false
// when no run is marked, or the text does not fit.
bool UninstallInProgressFolder(char* out, int capacity);
// Whether a stopped run was uninstalling exactly this folder: its name and,
// where a folder is held, the identity of the one held.
bool UninstallInProgressFor(const char* folder, void* held);
// The archives that stopped runs of this uninstall gave a final name, "\r"
// between them, into out; empty when there are none. False when the text
// does not fit.
bool UninstallArchivesRead(char* out, int capacity);
// Records one more archive that got its final name, so that a run that
// finishes this one names it too; false when it could not be recorded.
bool UninstallArchiveAdd(const char* archive);
// Whether the key is there at all.
bool UninstallKeyPresent();
// Removes the key and its mark, once in a run: the last trace that names the
// installation. A key that stays loses its mark and is logged.
void UninstallKeyRemove();
