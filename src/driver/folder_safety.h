// Which folder may be taken for the installation, once the text has passed
// the relaunch argument's own checks: the folder is made full and long and
// compared with the folders that belong to Windows and to its users.
#pragma once

enum FolderSafety {
    FOLDER_SAFE = 0,
    FOLDER_UNRESOLVED, // no existing folder, too long once full, or where its link leads is unknown
    FOLDER_ROOT,       // a drive or share root once made full
    FOLDER_RESERVED    // is or holds a folder of Windows or of a user, or lies inside the Windows folder
};

// Rewrites folder (capacity bytes) as its full path with long names and no
// trailing "\", then checks it and, when a link leads elsewhere, its target.
FolderSafety InstallFolderCheck(char* folder, int capacity);

// The same checks, made on the folder held: on the NT family a folder handle
// (of where the folder's links lead) that refuses delete and rename sharing,
// so that nobody can move the folder away or put another in its place while
// it is held. The checks take the handle's final path, not the text. given,
// when not null, is a handle the first stage checked and passed on: it is
// held instead of a new one, and the text must still name it. On FOLDER_SAFE
// *held holds the folder (null on Windows 9x, which has neither folder
// handles nor links); otherwise it is null and given is closed.
FolderSafety InstallFolderHold(char* folder, int capacity, void* given, void** held);
// The final path of what handle holds, without the "\\?\" prefix, into out
// (260 bytes): the system's own answer where it has one (Vista and later),
// else the native object name with its device put back as a drive letter.
bool HandleFinalPath(void* handle, char* out);
// Leaves the final path to the native object name, as on systems before Vista.
extern bool finalPathByObjectName;
