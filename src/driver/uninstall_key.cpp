#include "driver/uninstall_key.h"

#include "driver/driver_state.h"
#include "platform/registry.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";

namespace {

// Only administrators write below HKEY_LOCAL_MACHINE on the NT family, so the
// mark cannot be planted to make a run take somebody's folder for ours.
const char* const IN_PROGRESS_VALUE = "UninstallInProgress";

} // namespace

bool UninstallMarkInProgress(const char* folder) {
    const DWORD size = static_cast<DWORD>(std::strlen(folder) + 1);
    return RegistryWriteValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, IN_PROGRESS_VALUE, REG_SZ, folder, size,
                              true) == 0;
}

bool UninstallInProgressFolder(char* out, int capacity) {
    out[0] = '\0';
    void* data = nullptr;
    DWORD size = 0;
    const int type = RegistryReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, IN_PROGRESS_VALUE, &data, &size);
    const char* text = static_cast<const char*>(data);
    const size_t length = data != nullptr ? std::strlen(text) : 0;
    const bool found = type == REG_SZ && length != 0 && length < static_cast<size_t>(capacity);
    if (found) std::memcpy(out, text, length + 1);
    std::free(data);
    return found;
}

bool UninstallInProgressFor(const char* folder) {
    char marked[PATH_CAPACITY];
    return UninstallInProgressFolder(marked, sizeof marked) && lstrcmpiA(marked, folder) == 0;
}

bool UninstallKeyRemove() {
    const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return true;
    // A key that stays no longer tells of a run under way.
    RegistryDeleteValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, IN_PROGRESS_VALUE);
    return false;
}
