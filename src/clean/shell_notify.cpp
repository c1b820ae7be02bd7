#include "clean/shell_notify.h"

#include <windows.h>

#include <shlobj.h>

// No flush flag: the event is queued for Explorer and the call returns at
// once; a flush would wait until every listener had it.
static void Notify(LONG event, const char* path) {
    SHChangeNotify(event, SHCNF_PATHA, path, nullptr);
}

void ShellNotifyFileDeleted(const char* path) {
    Notify(SHCNE_DELETE, path);
}

void ShellNotifyFolderRemoved(const char* path) {
    Notify(SHCNE_RMDIR, path);
}

void ShellNotifyAssociationsChanged() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void ShellNotifyInstallFolder(const char* folder) {
    const bool gone = GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES;
    Notify(gone ? SHCNE_RMDIR : SHCNE_UPDATEDIR, folder);
}
