#include "platform/restart.h"

#include "platform/security.h"
#include "platform/windows_version.h"

// Windows 9x has no privileges.
int SetProcessPrivilege(const char* name, bool enable) {
    if (PlatformIsWindows9x()) return -1;
    const SecurityCalls& calls = SecurityCallsGet();
    if (calls.openProcessToken == nullptr || calls.lookupPrivilegeValue == nullptr ||
        calls.adjustTokenPrivileges == nullptr)
        return 0;
    HANDLE token;
    if (!calls.openProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return 0;
    TOKEN_PRIVILEGES wanted;
    wanted.PrivilegeCount = 1;
    int result = 0;
    if (calls.lookupPrivilegeValue(nullptr, name, &wanted.Privileges[0].Luid)) {
        wanted.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
        // Only the return value counts: a privilege the account lacks is not
        // an error of the call itself.
        TOKEN_PRIVILEGES previous;
        DWORD previousLength = sizeof previous;
        result =
            calls.adjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous, &previousLength);
    }
    CloseHandle(token);
    return result;
}

// The privilege is held only for the request and given up whatever it gave.
int RestartSystem(UINT flags) {
    if (SetProcessPrivilege("SeShutdownPrivilege", true) == 0) return -2;
    int result = ExitWindowsEx(flags, 0) ? 0 : -1;
    SetProcessPrivilege("SeShutdownPrivilege", false);
    return result;
}
