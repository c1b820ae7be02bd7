#include "platform/dll_search.h"

#include "platform/windows_version.h"

#include <windows.h>

// Not in the SDK headers of older systems.
static const DWORD LOAD_FROM_SYSTEM32 = 0x00000800;

// Both are looked up at run time, so that systems without them still start.
int DllSearchRestrict() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return -1;
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDirectories =
        PlatformFunction<SetDefaultDirectories>(kernel, "SetDefaultDllDirectories");
    if (setDefaultDirectories != nullptr && setDefaultDirectories(LOAD_FROM_SYSTEM32)) return 1;
    using SetDirectory = BOOL(WINAPI*)(const char*);
    const auto setDirectory = PlatformFunction<SetDirectory>(kernel, "SetDllDirectoryA");
    // An empty text takes the current folder out of the search.
    return setDirectory != nullptr && setDirectory("") ? 0 : -1;
}
