#include "platform/user_hives.h"

#include "platform/paths.h"
#include "platform/profiles.h"
#include "platform/security.h"
#include "platform/windows_version.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

const char* userHivesRunningSid = nullptr;

namespace {

// "KIVO-" and 16 hexadecimal digits.
constexpr int HIVE_NAME_CAPACITY = 24;
constexpr int HIVE_PATH_CAPACITY = MAX_PATH;
// A hive that somebody else (a scanner, the profile service) holds open for a
// moment cannot be unloaded: a few more tries before it is given up.
constexpr int UNLOAD_ATTEMPTS = 5;
constexpr DWORD UNLOAD_PAUSE_MS = 200;

// Where Vista and later, then Windows 2000 and XP, keep a user's classes.
const char* const CLASSES_FILES[] = {
    "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat",
    "Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat",
};

// Closes the key on every path out of the operation that opened it.
struct KeyHolder {
    HKEY key = nullptr;
    ~KeyHolder() {
        if (key != nullptr) RegCloseKey(key);
    }
};

// The SID's usual text: its authority in decimal, or in hexadecimal when it
// does not fit in 32 bits, then each sub-authority.
bool SidFormat(const SID* sid, char* text) {
    const BYTE* authority = sid->IdentifierAuthority.Value;
    int length = 0;
    if (authority[0] != 0 || authority[1] != 0)
        length =
            std::snprintf(text, SID_TEXT_CAPACITY, "S-%u-0x%02X%02X%02X%02X%02X%02X", sid->Revision,
                          authority[0], authority[1], authority[2], authority[3], authority[4], authority[5]);
    else
        length = std::snprintf(text, SID_TEXT_CAPACITY, "S-%u-%lu", sid->Revision,
                               static_cast<unsigned long>(authority[2]) << 24 |
                                   static_cast<unsigned long>(authority[3]) << 16 |
                                   static_cast<unsigned long>(authority[4]) << 8 | authority[5]);
    for (BYTE index = 0; index < sid->SubAuthorityCount; ++index) {
        if (length <= 0 || length >= SID_TEXT_CAPACITY) return false;
        length += std::snprintf(text + length, SID_TEXT_CAPACITY - length, "-%lu",
                                static_cast<unsigned long>(sid->SubAuthority[index]));
    }
    return length > 0 && length < SID_TEXT_CAPACITY;
}

// "S-1-" and numbers separated by single dashes, as a user's key of the
// profile list is named; a hive's name under HKEY_USERS must be nothing else.
bool SidTextValid(const char* text) {
    if (std::strncmp(text, "S-1-", 4) != 0) return false;
    const size_t length = std::strlen(text);
    if (length >= SID_TEXT_CAPACITY || length == 4) return false;
    for (size_t index = 4; index < length; ++index) {
        const char c = text[index];
        if (c == '-' && text[index - 1] != '-' && index + 1 < length) continue;
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A name under HKEY_USERS that nobody can guess before the load.
bool HiveNameMake(char* name) {
    unsigned char random[8] = {};
    if (!SecurityRandomBytes(random, sizeof random)) return false;
    int length = std::snprintf(name, HIVE_NAME_CAPACITY, "KIVO-");
    for (unsigned char byte : random)
        length += std::snprintf(name + length, HIVE_NAME_CAPACITY - length, "%02X", byte);
    return length == HIVE_NAME_CAPACITY - 3;
}

// The names HiveNameMake gives, and nothing else.
bool HiveNameIsOurs(const char* name) {
    if (std::strncmp(name, "KIVO-", 5) != 0 || std::strlen(name) != HIVE_NAME_CAPACITY - 3) return false;
    for (const char* c = name + 5; *c != '\0'; ++c)
        if (!((*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'F') || (*c >= 'a' && *c <= 'f'))) return false;
    return true;
}

// Unloads the hive loaded under name, trying again while something holds it.
LONG HiveUnload(const char* name, int attempts) {
    const auto unload = SecurityCallsGet().regUnLoadKey;
    LONG result = unload(HKEY_USERS, name);
    for (int attempt = 1; result != ERROR_SUCCESS && attempt < attempts; ++attempt) {
        Sleep(UNLOAD_PAUSE_MS);
        result = unload(HKEY_USERS, name);
    }
    return result;
}

// The backup and restore privileges, enabled for one load and given back as
// they were: previous holds what the token had.
struct Privileges {
    HANDLE token = nullptr;
    union {
        TOKEN_PRIVILEGES list;
        BYTE bytes[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)];
    } previous;
    bool changed = false;

    Privileges() {
        const SecurityCalls& calls = SecurityCallsGet();
        if (calls.openProcessToken == nullptr || calls.lookupPrivilegeValue == nullptr ||
            calls.adjustTokenPrivileges == nullptr ||
            !calls.openProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            token = nullptr;
            return;
        }
        union {
            TOKEN_PRIVILEGES list;
            BYTE bytes[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)];
        } wanted;
        wanted.list.PrivilegeCount = 2;
        LUID_AND_ATTRIBUTES* entries = wanted.list.Privileges;
        if (!calls.lookupPrivilegeValue(nullptr, "SeBackupPrivilege", &entries[0].Luid) ||
            !calls.lookupPrivilegeValue(nullptr, "SeRestorePrivilege", &entries[1].Luid))
            return;
        entries[0].Attributes = entries[1].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD length = sizeof previous;
        changed = calls.adjustTokenPrivileges(token, FALSE, &wanted.list, sizeof previous, &previous.list,
                                              &length) != 0;
    }
    ~Privileges() {
        if (changed)
            SecurityCallsGet().adjustTokenPrivileges(token, FALSE, &previous.list, 0, nullptr, nullptr);
        if (token != nullptr) CloseHandle(token);
    }
};

// A hive file loaded under a private name of HKEY_USERS and opened; unloaded
// again, whatever the visit did, once its key is closed.
struct LoadedHive {
    char name[HIVE_NAME_CAPACITY] = "";
    KeyHolder root;
    LONG error = ERROR_SUCCESS;
    bool loaded = false;

    explicit LoadedHive(const char* file) {
        if (!HiveNameMake(name)) {
            name[0] = '\0';
            error = ERROR_INVALID_NAME;
            return;
        }
        // A failed load is unloaded all the same: Wine leaves an empty key of
        // that name behind, Windows nothing (the name is ours alone).
        const SecurityCalls& calls = SecurityCallsGet();
        if (calls.regLoadKey == nullptr || calls.regUnLoadKey == nullptr) {
            name[0] = '\0';
            error = ERROR_CALL_NOT_IMPLEMENTED;
            return;
        }
        error = calls.regLoadKey(HKEY_USERS, name, file);
        loaded = error == ERROR_SUCCESS;
        if (loaded) error = RegOpenKeyExA(HKEY_USERS, name, 0, KEY_READ, &root.key);
        if (error != ERROR_SUCCESS) root.key = nullptr;
    }
    ~LoadedHive() {
        if (root.key != nullptr) RegCloseKey(root.key);
        root.key = nullptr;
        if (name[0] != '\0') HiveUnload(name, loaded ? UNLOAD_ATTEMPTS : 1);
    }
};

bool PathJoin(const char* folder, const char* name, char* path) {
    return std::snprintf(path, HIVE_PATH_CAPACITY, "%s\\%s", folder, name) < HIVE_PATH_CAPACITY;
}

struct Visit {
    void (*visit)(const UserHive* hive, void* context);
    void* context;
    char running[SID_TEXT_CAPACITY];
};

// A logged-on user's hive and classes are used where they are; anybody
// else's files are loaded for the visit only.
void VisitUser(const char* sid, const char* profile, void* parameter) {
    const Visit* visit = static_cast<const Visit*>(parameter);
    if (!SidTextValid(sid) || lstrcmpiA(sid, visit->running) == 0) return;
    UserHive hive = {sid, "", nullptr, nullptr, ERROR_SUCCESS, ERROR_SUCCESS};
    KeyHolder user;
    if (RegOpenKeyExA(HKEY_USERS, sid, 0, KEY_READ, &user.key) == ERROR_SUCCESS) {
        char classesName[SID_TEXT_CAPACITY + 8];
        KeyHolder classes;
        std::snprintf(classesName, sizeof classesName, "%s_Classes", sid);
        if (RegOpenKeyExA(HKEY_USERS, classesName, 0, KEY_READ, &classes.key) != ERROR_SUCCESS)
            classes.key = nullptr;
        hive.user = user.key;
        hive.classes = classes.key;
        visit->visit(&hive, visit->context);
        return;
    }
    user.key = nullptr;
    char file[HIVE_PATH_CAPACITY];
    if (!PathJoin(profile, "NTUSER.DAT", file)) {
        hive.error = ERROR_FILENAME_EXCED_RANGE;
        visit->visit(&hive, visit->context);
        return;
    }
    hive.file = file;
    Privileges privileges;
    LoadedHive loaded(file);
    hive.user = loaded.root.key;
    hive.error = loaded.error;
    if (hive.user == nullptr) {
        visit->visit(&hive, visit->context);
        return;
    }
    char classesFile[HIVE_PATH_CAPACITY];
    for (const char* relative : CLASSES_FILES) {
        if (!PathJoin(profile, relative, classesFile) || !FileExists(classesFile)) continue;
        LoadedHive classes(classesFile);
        hive.classes = classes.root.key;
        hive.classesError = classes.error;
        visit->visit(&hive, visit->context);
        return;
    }
    visit->visit(&hive, visit->context);
}

} // namespace

bool UserHivesRunningSid(char* sid) {
    if (userHivesRunningSid != nullptr)
        return std::snprintf(sid, SID_TEXT_CAPACITY, "%s", userHivesRunningSid) < SID_TEXT_CAPACITY;
    SecurityUser account;
    return SecurityUserRead(&account) && SidFormat(static_cast<const SID*>(account.user.User.Sid), sid);
}

// Without the running account's SID its own hive would be visited as
// somebody else's.
bool UserHivesVisit(void (*visit)(const UserHive* hive, void* context), void* context) {
    if (PlatformIsWindows9x()) return true;
    Visit state = {visit, context, ""};
    if (!UserHivesRunningSid(state.running)) return false;
    ProfilesVisitUsers(VisitUser, &state);
    return true;
}

void UserHivesUnloadLeftOver(void (*told)(const char* name, LONG result, void* context), void* context) {
    if (PlatformIsWindows9x() || SecurityCallsGet().regUnLoadKey == nullptr) return;
    // All names first: an unload changes the enumeration's indexes.
    std::vector<std::string> names;
    char name[HIVE_NAME_CAPACITY];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        const LONG listed =
            RegEnumKeyExA(HKEY_USERS, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) break;
        if (listed == ERROR_SUCCESS && HiveNameIsOurs(name)) names.push_back(name);
        if (listed != ERROR_SUCCESS && listed != ERROR_MORE_DATA) break;
    }
    if (names.empty()) return;
    Privileges privileges;
    for (const std::string& left : names)
        told(left.c_str(), HiveUnload(left.c_str(), UNLOAD_ATTEMPTS), context);
}
