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
