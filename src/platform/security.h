// Access control and random bytes, through functions looked up at run time:
// Windows 9x has no access control (its advapi32 has at most failing stubs of
// these calls), NT 4 lacks what came with 2000 and XP.
#pragma once

#include <windows.h>

#include <cstddef>

// The advapi32 calls of the NT family that the program uses; all null on
// Windows 9x, each null where the system lacks it. Loading other users' hives
// is for the NT family only, so its calls are here too.
struct SecurityCalls {
    decltype(&OpenProcessToken) openProcessToken;
    decltype(&GetTokenInformation) getTokenInformation;
    decltype(&LookupPrivilegeValueA) lookupPrivilegeValue;
    decltype(&AdjustTokenPrivileges) adjustTokenPrivileges;
    decltype(&InitializeAcl) initializeAcl;
    decltype(&AddAccessAllowedAce) addAccessAllowedAce;
    decltype(&GetAce) getAce;
    decltype(&InitializeSecurityDescriptor) initializeSecurityDescriptor;
    decltype(&SetSecurityDescriptorDacl) setSecurityDescriptorDacl;
    decltype(&SetSecurityDescriptorControl) setSecurityDescriptorControl; // 2000 and later
    decltype(&RegLoadKeyA) regLoadKey;
    decltype(&RegUnLoadKeyA) regUnLoadKey;
};
const SecurityCalls& SecurityCallsGet();

// The process's user, with room for the longest SID.
union SecurityUser {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};
// False on Windows 9x, or when the process's token cannot be read.
bool SecurityUserRead(SecurityUser* user);

// A descriptor giving full control to the current user, SYSTEM and the
// Administrators, passed on to whatever is made inside, and taking nothing
// over from the parent. Filled in place: the descriptor points into the list.
struct SecurityPrivate {
    SECURITY_DESCRIPTOR descriptor;
    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    } list;
};
// False on Windows 9x, or when the process's user cannot be read.
bool SecurityPrivateMake(SecurityPrivate* made);

// count bytes that nobody can predict, from the system's generator. Only
// where Windows 95 has no generator at all do clocks and counters stand in:
// that system has no access control, so no name there can be kept from
// anybody, and the bytes need only differ from one call to the next.
bool SecurityRandomBytes(void* out, size_t count);
