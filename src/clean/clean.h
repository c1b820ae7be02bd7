// Cleaning operations called by the uninstall sequence.
#pragma once

#include <windows.h>

// Told of each removal that failed, by what it was ("association key") and
// its name; the caller decides how to report it. Null tells nobody.
extern void (*removalFailed)(const char* what, const char* name);
void RemovalFailed(const char* what, const char* name);

//--- file and folder removal
bool PathIsInFolder(const char* folder, const char* path);
// 0 nothing matching left undeleted; 1 a deletion failed or was refused.
int FolderDeleteFiles(const char* folder, const char* mask);
// mode > 0 removes everything and the folder, 0 keeps the folder, < 0 keeps
// every folder; a link inside goes as a link, never followed. 0 all deleted;
// 1 something stayed; -1 empty path or no folder.
int FolderDeleteTree(const char* folder, int mode);
// Asked before each file (not a link) of a tree deletion goes, with its path
// below the folder; false keeps it.
typedef bool (*TreeFileFilter)(void* context, const wchar_t* relative, const WIN32_FIND_DATAW& found);
int FolderDeleteTreeFiltered(const char* folder, int mode, TreeFileFilter mayDelete, void* context);
// The eight deletions of the product's program files in installFolder.
void ProgramFilesDelete(const char* installFolder);
// Single deletions where "already gone" counts as done.
bool FileDeleteOrGone(const char* path);
bool FolderRemoveOrGone(const char* path);

//--- shortcuts
extern bool comInitialized; // set by the first shortcut read, cleared by ReleaseCom
// Every desktop, start menu, Quick Launch and pin folder of every profile
// and of all users. 1 every qualifying shortcut went; 0 one stayed.
int ShortcutsRemove(const char* installFolder);
void ShortcutGetTarget(const char* shortcutPath, char* target); // target: 260 bytes
// Asks the shell to unpin a pinned shortcut before its file is deleted:
// ShellItemInvokeVerb, or a stand-in where the shell has no such verb.
extern int (*shortcutUnpin)(const char* path, const char* verb);

//--- file associations
// 0 removed or absent; 1 an extension refused; 2 and 3 a default value that
// names no class of ours, nothing deleted; 4 a key stayed (reported).
int AssociationRemove(const char* extension);

//--- environment variables
// Each variable that stays is reported.
void EnvironmentRemoveVariables();
// 0 the line is gone or was never there; 1 nothing to edit (no batch file,
// a read-only one without the line, or no name);
// otherwise the file names the variable, or may, and stays as it was: 5 its
// access was refused, else the error that stopped the edit.
int AutoexecRemoveVariable(const char* name);
