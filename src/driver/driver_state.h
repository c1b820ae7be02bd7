// Process-wide state of the driver, shared by both stages, the sequence and
// the cleaning steps. Text capacities include the terminating zero.
#pragma once

constexpr int PATH_CAPACITY = 260;
constexpr int CAPTION_CAPACITY = 40;

extern int languageCode;                // 1 French, 2 English, 3 Spanish
extern char ownFileName[PATH_CAPACITY]; // first stage only
extern char ownFolder[PATH_CAPACITY];   // first stage: folder, then full path
extern char installFolder[PATH_CAPACITY];
extern char tempCopyPath[PATH_CAPACITY];
extern char windowCaption[CAPTION_CAPACITY];
extern int isNT;               // -1 NT family, 0 Windows 9x
extern int environmentChanged; // -1 once an environment value left the registry
extern int restartNeeded;      // -1 once a change needs a restart
// The Files step's outcome, for whoever reports the run: -1 once the data
// folder stayed in place (its archive was not complete and verified, or files
// that the archive does not hold stayed in it); archivePath holds the archive
// written and verified, or is empty.
extern int dataFolderKept;
extern char archivePath[PATH_CAPACITY];
// Removals that failed (a shortcut, a key, a value, a file, a folder), each
// also logged by name: an unattended run then ends with its own code rather
// than the code of a complete uninstall.
extern int removalsFailed;
