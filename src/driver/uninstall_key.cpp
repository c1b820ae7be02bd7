#include "driver/uninstall_key.h"

#include "driver/archive_name.h"
#include "driver/driver_state.h"
#include "driver/relaunch_argument.h"
#include "driver/run_log.h"
#include "platform/registry.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";

namespace {

// Only administrators write below HKEY_LOCAL_MACHINE on the NT family. The
// folder's identity goes with its name, so that a folder put in the place of
// the one marked (or a mark that was planted) is never taken for it.
const char* const IN_PROGRESS_VALUE = "UninstallInProgress";
const char* const IDENTITY_VALUE = "UninstallInProgressFolder";
const char* const ARCHIVES_VALUE = "UninstallArchives";
constexpr int IDENTITY_CAPACITY = 32;

// The key is removed once in an uninstall, which begins with its mark.
bool keyRemovalTried = false;

// The held folder's volume serial number and file index as text; false
// where there is no handle to ask (Windows 9x). Its creation time would tell
// a new folder that got a deleted one's index from it, but Wine reports a
// time that changes with the folder's contents.
bool FolderIdentity(void* held, char* out) {
    BY_HANDLE_FILE_INFORMATION information;
    return held != nullptr && GetFileInformationByHandle(static_cast<HANDLE>(held), &information) &&
           TextFormat(out, IDENTITY_CAPACITY, "%08lX-%08lX%08lX",
                      static_cast<unsigned long>(information.dwVolumeSerialNumber),
                      static_cast<unsigned long>(information.nFileIndexHigh),
                      static_cast<unsigned long>(information.nFileIndexLow));
}

// A text value of the key into out; false when it is absent, empty, not
// text, or does not fit.
bool ReadText(const char* name, char* out, int capacity) {
    out[0] = '\0';
    void* data = nullptr;
    DWORD size = 0;
    const int type = RegistryReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, name, &data, &size);
    const char* text = static_cast<const char*>(data);
    const size_t length = data != nullptr ? std::strlen(text) : 0;
    const bool found = type == REG_SZ && length != 0 && length < static_cast<size_t>(capacity);
    if (found) std::memcpy(out, text, length + 1);
    std::free(data);
    return found;
}

bool WriteText(const char* name, const char* text) {
    const DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    return RegistryWriteValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, name, REG_SZ, text, size, true) == 0;
}

} // namespace

bool UninstallMarkInProgress(const char* folder, void* held) {
    keyRemovalTried = false;
    char identity[IDENTITY_CAPACITY];
    if (!FolderIdentity(held, identity)) {
        if (held != nullptr) return false;
        RegistryDeleteValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, IDENTITY_VALUE);
        return WriteText(IN_PROGRESS_VALUE, folder);
    }
    return WriteText(IDENTITY_VALUE, identity) && WriteText(IN_PROGRESS_VALUE, folder);
}

bool UninstallInProgressFolder(char* out, int capacity) {
    return ReadText(IN_PROGRESS_VALUE, out, capacity);
}

bool UninstallInProgressFor(const char* folder, void* held) {
    char marked[PATH_CAPACITY];
    if (!UninstallInProgressFolder(marked, sizeof marked) || lstrcmpiA(marked, folder) != 0) return false;
    if (held == nullptr) return true; // Windows 9x: the name is all there is
    char identity[IDENTITY_CAPACITY];
    char markedIdentity[IDENTITY_CAPACITY];
    return FolderIdentity(held, identity) &&
           ReadText(IDENTITY_VALUE, markedIdentity, sizeof markedIdentity) &&
           std::strcmp(identity, markedIdentity) == 0;
}

bool UninstallArchivesRead(char* out, int capacity) {
    if (ReadText(ARCHIVES_VALUE, out, capacity)) return true;
    return RegistryReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, ARCHIVES_VALUE, nullptr, nullptr) < 0;
}

bool UninstallArchiveAdd(const char* archive) {
    // No longer than a later run reads back.
    char earlier[EARLIER_ARCHIVES_CAPACITY];
    char names[EARLIER_ARCHIVES_CAPACITY];
    return UninstallArchivesRead(earlier, sizeof earlier) &&
           ArchiveNamesAppend(names, sizeof names, earlier, archive) == 0 && WriteText(ARCHIVES_VALUE, names);
}

bool UninstallKeyPresent() {
    // The probe of its default value fails with -1 only when the key is not there.
    return RegistryReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, nullptr, nullptr, nullptr) != -1;
}

void UninstallKeyRemove() {
    if (keyRemovalTried) return;
    keyRemovalTried = true;
    const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return;
    // A key that stays no longer tells of a run under way.
    const char* const values[] = {IN_PROGRESS_VALUE, IDENTITY_VALUE, ARCHIVES_VALUE};
    for (const char* value : values)
        RegistryDeleteValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, value);
    char name[PATH_CAPACITY];
    RunLogRemovalFailed("registry key",
                        TextFormat(name, sizeof name, "HKLM\\%s", UNINSTALL_KEY) ? name : UNINSTALL_KEY);
}
