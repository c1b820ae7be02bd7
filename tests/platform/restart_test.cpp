// The restart request under Wine, which accepts it and ends nothing; the
// shutdown privilege is read back from the process token.
#include "platform/restart.h"

#include <gtest/gtest.h>

namespace {

// -1 not in the token, 0 present but disabled, 1 enabled.
int ShutdownPrivilegeState() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
    LUID wanted;
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &wanted);
    char buffer[4096];
    DWORD length = 0;
    int state = -1;
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length)) {
        TOKEN_PRIVILEGES* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer);
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
            if (entry.Luid.LowPart == wanted.LowPart && entry.Luid.HighPart == wanted.HighPart) {
                state = (entry.Attributes & SE_PRIVILEGE_ENABLED) ? 1 : 0;
            }
        }
    }
    CloseHandle(token);
    return state;
}

bool Windows9x() {
    return (GetVersion() & 0x80000000u) != 0;
}

} // namespace

TEST(Privilege, EnabledThenDisabledAgain) {
    if (Windows9x()) {
        int before = ShutdownPrivilegeState();
        EXPECT_EQ(SetProcessPrivilege("SeShutdownPrivilege", true), -1);
        EXPECT_EQ(ShutdownPrivilegeState(), before) << "the token was touched on Windows 9x";
        return;
    }
    EXPECT_NE(SetProcessPrivilege("SeShutdownPrivilege", true), 0);
    EXPECT_EQ(ShutdownPrivilegeState(), 1);
    EXPECT_NE(SetProcessPrivilege("SeShutdownPrivilege", false), 0);
    EXPECT_EQ(ShutdownPrivilegeState(), 0);
}

TEST(Privilege, UnknownNameFails) {
    EXPECT_EQ(SetProcessPrivilege("SeNoSuchPrivilege", true), Windows9x() ? -1 : 0);
}

TEST(Restart, RequestAcceptedAndPrivilegeGivenUp) {
    int before = ShutdownPrivilegeState();
    EXPECT_EQ(RestartSystem(EWX_REBOOT), 0);
    EXPECT_EQ(ShutdownPrivilegeState(), Windows9x() ? before : 0);
}
