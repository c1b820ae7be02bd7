// Cleaning operations called by the uninstall sequence.
#pragma once

#include "platform/handle_walk.h"

#include <windows.h>

// Told of each removal that failed, by what it was ("association key") and
// its name; the caller decides how to report it. Null tells nobody.
extern void (*removalFailed)(const char* what, const char* name);
void RemovalFailed(const char* what, const char* name);

//--- file and folder removal
// Told of each file, folder or link that a deletion left, by its path below
// the walked folder ("" for the folder itself). A folder that stayed only
// because something in it stayed is not told again.
typedef void (*RemovalLeft)(void* context, const wchar_t* relative);
struct RemovalReport {
    RemovalLeft failed;
    void* context;
    // Told instead of failed of each file a filtered deletion kept: the
    // filter refused it, or it was not the file listed (another file, or
    // one with further hard links). Null tells failed.
    RemovalLeft kept;
};
// A folder as the walks take it: its handle, held by the caller
// (FolderHold), from which every walk goes handle to handle; on Windows 9x,
// which has neither links nor folder handles, INVALID_HANDLE_VALUE, and the
// walks go by its path.
struct HeldFolder {
    HANDLE handle;
    const char* path;
};
// Holds folder for the walks (FolderHold's handle refuses to share deletion,
// so that nobody renames it meanwhile; removable adds the right to delete
// it). INVALID_HANDLE_VALUE on Windows 9x, for a drive root, or when it
// cannot be opened.
HANDLE FolderHold(const char* folder, bool removable);

bool PathIsInFolder(const char* folder, const char* path);
// 0 nothing matching left undeleted; 1 a deletion failed or was refused.
int FolderDeleteFiles(const char* folder, const char* mask);
// mode > 0 removes everything and the folder, 0 keeps the folder, < 0 keeps
// every folder; a link inside goes as a link, never followed. 0 all deleted;
// 1 something stayed; -1 empty path or no folder.
int FolderDeleteTree(const char* folder, int mode);
// Asked before each file (not a link) of a tree deletion goes, with its path
// below the folder and what the handle it is deleted through tells (on
// Windows 9x what the listing tells, without identity); false keeps it.
typedef bool (*TreeFileFilter)(void* context, const wchar_t* relative, const HandleFacts& facts);
int FolderDeleteTreeFiltered(const char* folder, int mode, TreeFileFilter mayDelete, void* context);
// The same from a held folder, each entry that stays told to report (may be
// null). To remove the folder itself (mode > 0) its handle needs DELETE.
int FolderDeleteTreeHeld(const HeldFolder& folder, int mode, TreeFileFilter mayDelete, void* context,
                         const RemovalReport* report);
// The eight deletions of the product's program files in installFolder.
void ProgramFilesDelete(const char* installFolder);
void ProgramFilesDeleteHeld(const HeldFolder& install, const RemovalReport* report);
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
// The same below another root of classes (a user's Software\Classes or
// classes hive), with the same results.
int AssociationRemoveFrom(HKEY classes, const char* extension);

//--- environment variables
// Each variable that stays is reported.
void EnvironmentRemoveVariables();
// The user's variables from the root of a user's hive; calls failed with
// each variable that could not be deleted. True when one went.
bool EnvironmentRemoveUserVariables(HKEY userRoot, void (*failed)(const char* name, void* context),
                                    void* context);
// 0 the line is gone or was never there; 1 nothing to edit (no batch file,
// a read-only one without the line, or no name);
// otherwise the file names the variable, or may, and stays as it was: 5 its
// access was refused, else the error that stopped the edit.
int AutoexecRemoveVariable(const char* name);
