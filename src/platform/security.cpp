#include "platform/security.h"

#include "platform/windows_version.h"

#include <wincrypt.h>

#include <cstdint>
#include <cstring>

namespace {

template <class Function> Function Advapi(const char* name) {
    return PlatformFunction<Function>(GetModuleHandleA("advapi32.dll"), name);
}

SecurityCalls CallsFind() {
    SecurityCalls calls = {};
    if (PlatformIsWindows9x()) return calls;
    calls.openProcessToken = Advapi<decltype(calls.openProcessToken)>("OpenProcessToken");
    calls.getTokenInformation = Advapi<decltype(calls.getTokenInformation)>("GetTokenInformation");
    calls.lookupPrivilegeValue = Advapi<decltype(calls.lookupPrivilegeValue)>("LookupPrivilegeValueA");
    calls.adjustTokenPrivileges = Advapi<decltype(calls.adjustTokenPrivileges)>("AdjustTokenPrivileges");
    calls.initializeAcl = Advapi<decltype(calls.initializeAcl)>("InitializeAcl");
    calls.addAccessAllowedAce = Advapi<decltype(calls.addAccessAllowedAce)>("AddAccessAllowedAce");
    calls.getAce = Advapi<decltype(calls.getAce)>("GetAce");
    calls.initializeSecurityDescriptor =
        Advapi<decltype(calls.initializeSecurityDescriptor)>("InitializeSecurityDescriptor");
    calls.setSecurityDescriptorDacl =
        Advapi<decltype(calls.setSecurityDescriptorDacl)>("SetSecurityDescriptorDacl");
    calls.setSecurityDescriptorControl =
        Advapi<decltype(calls.setSecurityDescriptorControl)>("SetSecurityDescriptorControl");
    calls.regLoadKey = Advapi<decltype(calls.regLoadKey)>("RegLoadKeyA");
    calls.regUnLoadKey = Advapi<decltype(calls.regUnLoadKey)>("RegUnLoadKeyA");
    return calls;
}

// A SID of the NT authority (S-1-5-...) in its binary form, which every
// version of the NT family reads; CreateWellKnownSid came only with XP.
union NtSid {
    SID sid;
    BYTE bytes[SECURITY_MAX_SID_SIZE];
};

void NtSidMake(NtSid* out, DWORD first, DWORD second, BYTE count) {
    std::memset(out, 0, sizeof *out);
    out->sid.Revision = SID_REVISION;
    out->sid.SubAuthorityCount = count;
    out->sid.IdentifierAuthority = SECURITY_NT_AUTHORITY;
    const DWORD parts[2] = {first, second};
    std::memcpy(out->sid.SubAuthority, parts, count * sizeof(DWORD));
}

// An inherited allowing entry: AddAccessAllowedAce, which NT 4 has, then its
// flags set in place, which is what AddAccessAllowedAceEx does.
bool AllowAdd(const SecurityCalls& calls, ACL* acl, PSID sid) {
    void* ace = nullptr;
    if (!calls.addAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !calls.getAce(acl, acl->AceCount - 1, &ace))
        return false;
    static_cast<ACE_HEADER*>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return true;
}

uint64_t Mix(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// Clocks, ids and a counter, for Windows 95 without a generator only.
void CountedBytes(BYTE* out, size_t count) {
    static uint64_t counter;
    LARGE_INTEGER performance = {};
    QueryPerformanceCounter(&performance);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t state = Mix(++counter ^ uint64_t(performance.QuadPart) ^ (uint64_t(GetTickCount()) << 32)) ^
                     Mix((uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime) ^
                     Mix((uint64_t(GetCurrentProcessId()) << 32) | GetCurrentThreadId());
    for (size_t i = 0; i < count; ++i) {
        if (i % 8 == 0) state = Mix(state);
        out[i] = static_cast<BYTE>(state >> (8 * (i % 8)));
    }
}

} // namespace

const SecurityCalls& SecurityCallsGet() {
    static const SecurityCalls calls = CallsFind();
    return calls;
}

bool SecurityUserRead(SecurityUser* user) {
    const SecurityCalls& calls = SecurityCallsGet();
    if (calls.openProcessToken == nullptr || calls.getTokenInformation == nullptr) return false;
    HANDLE token;
    if (!calls.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD length = 0;
    const BOOL known = calls.getTokenInformation(token, TokenUser, user, sizeof *user, &length);
    CloseHandle(token);
    return known != FALSE;
}

bool SecurityPrivateMake(SecurityPrivate* made) {
    const SecurityCalls& calls = SecurityCallsGet();
    if (calls.initializeAcl == nullptr || calls.addAccessAllowedAce == nullptr || calls.getAce == nullptr ||
        calls.initializeSecurityDescriptor == nullptr || calls.setSecurityDescriptorDacl == nullptr)
        return false;
    SecurityUser owner;
    const bool known = SecurityUserRead(&owner);
    NtSid system;
    NtSid administrators;
    NtSidMake(&system, SECURITY_LOCAL_SYSTEM_RID, 0, 1);
    NtSidMake(&administrators, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 2);
    if (!known || !calls.initializeAcl(&made->list.acl, sizeof made->list, ACL_REVISION) ||
        !AllowAdd(calls, &made->list.acl, owner.user.User.Sid) ||
        !AllowAdd(calls, &made->list.acl, &system) || !AllowAdd(calls, &made->list.acl, &administrators) ||
        !calls.initializeSecurityDescriptor(&made->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !calls.setSecurityDescriptorDacl(&made->descriptor, TRUE, &made->list.acl, FALSE))
        return false;
    // NT 4 passes no entry of the parent on to an object made with its own
    // list, and has no call for the flag that says so.
    return calls.setSecurityDescriptorControl == nullptr ||
           calls.setSecurityDescriptorControl(&made->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

bool SecurityRandomBytes(void* out, size_t count) {
    // RtlGenRandom's exported name, XP and later.
    using GenRandomFunction = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static const auto genRandom = Advapi<GenRandomFunction>("SystemFunction036");
    if (genRandom != nullptr) return genRandom(out, static_cast<ULONG>(count)) != FALSE;
    // The CryptoAPI: NT 4, Windows 98, and 95 from its second release on.
    const auto acquire = Advapi<decltype(&CryptAcquireContextA)>("CryptAcquireContextA");
    const auto generate = Advapi<decltype(&CryptGenRandom)>("CryptGenRandom");
    const auto release = Advapi<decltype(&CryptReleaseContext)>("CryptReleaseContext");
    HCRYPTPROV provider = 0;
    if (acquire != nullptr && generate != nullptr && release != nullptr &&
        acquire(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        const BOOL made = generate(provider, static_cast<DWORD>(count), static_cast<BYTE*>(out));
        release(provider, 0);
        return made != FALSE;
    }
    if (!PlatformIsWindows9x()) return false;
    CountedBytes(static_cast<BYTE*>(out), count);
    return true;
}
