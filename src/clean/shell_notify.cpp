#include "clean/shell_notify.h"

#include <windows.h>

#include <shlobj.h>

// No flush flag: a flush, even SHCNF_FLUSHNOWAIT on some shells, hands the
// event over synchronously and so waits for every listener; without one the
// event is queued and delivered after this call returned.
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
