// Process-wide state of the driver, shared by both stages, the sequence and
// the cleaning steps. Text capacities include the terminating zero.
#pragma once

constexpr int PATH_CAPACITY = 260;
constexpr int CAPTION_CAPACITY = 40;

extern int languageCode;                // 1 French, 2 English, 3 Spanish
extern char ownFileName[PATH_CAPACITY]; // first stage only
extern char ownFolder[PATH_CAPACITY];   // first stage: folder, then full path
extern char installFolder[PATH_CAPACITY];
// The installation folder held from its check on (a folder handle; null on
// Windows 9x, or before the check): every later operation on the folder
// starts from it. It refuses delete and rename sharing, so that the folder
// cannot be moved away or replaced while it is held; it is let go only to
// remove the folder once it is empty. The first stage passes it to the copy.
extern void* installFolderHandle;
extern char tempCopyPath[PATH_CAPACITY];
extern char windowCaption[CAPTION_CAPACITY];
extern int isNT;               // -1 NT family, 0 Windows 9x
extern int environmentChanged; // -1 once an environment value left the registry
extern int restartNeeded;      // -1 once a change needs a restart
// The Files step's outcome, for whoever reports the run: -1 once the data
// folder stayed in place (its archive was not complete and verified, or files
// stayed in it); archivePath holds the archive written and verified, or is empty.
extern int dataFolderKept;
extern char archivePath[PATH_CAPACITY];
// Why a data folder with a complete archive stayed: files the archive holds
// that could not be deleted, and files it does not hold unchanged.
extern int dataFilesUndeleted;
extern int dataFilesUnarchived;
// Removals that failed (a shortcut, a key, a value, a file, a folder), each
// also logged by name: an unattended run then ends with its own code rather
// than the code of a complete uninstall.
extern int removalsFailed;
// Whether this run finishes one that was stopped after KIVO.EXE went: the
// folder was found only through the mark in the uninstall key, so nothing of
// it goes unarchived, not even what looks like a program file.
extern bool finishingStoppedRun;
