#include "driver/other_users.h"

#include "clean/clean.h"
#include "driver/driver_state.h"
#include "driver/run_log.h"
#include "platform/registry.h"
#include "platform/user_hives.h"

#include <cstdio>

namespace {

constexpr int REMOVED_NAME_CAPACITY = SID_TEXT_CAPACITY + 40;

struct Removal {
    int removeUserSettings;
};

// The log names a user's keys by SID whether the hive was loaded by Windows or by us.
void LogFailed(const char* what, const char* sid, const char* rest) {
    char name[REMOVED_NAME_CAPACITY];
    std::snprintf(name, sizeof name, "HKU\\%s\\%s", sid, rest);
    RunLogRemovalFailed(what, name);
}

void VariableFailed(const char* variable, void* context) {
    char rest[32];
    std::snprintf(rest, sizeof rest, "Environment\\%s", variable);
    LogFailed("environment value", static_cast<const UserHive*>(context)->sid, rest);
}

// The user's classes: the classes hive of Windows 2000 and later, and the
// Software\Classes key of the user's hive, which is the same place in a
// logged-on user's hive and the only one on NT 4.
int RemoveAssociation(const UserHive* hive, const char* extension) {
    int result = 0;
    if (hive->classes != nullptr) result = AssociationRemoveFrom(hive->classes, extension);
    HKEY classes = nullptr;
    if (RegOpenKeyExA(hive->user, "Software\\Classes", 0, KEY_READ, &classes) == ERROR_SUCCESS) {
        const int inHive = AssociationRemoveFrom(classes, extension);
        RegCloseKey(classes);
        if (result == 0) result = inHive;
    }
    return result;
}

// A hive left loaded would keep its user's file in use, and the user's
// traces, until Windows restarts.
void LeftOverUnloaded(const char* name, LONG result, void*) {
    if (result == ERROR_SUCCESS)
        RunLogWrite("the hive HKU\\%s, left loaded by a stopped run, unloaded", name);
    else
        RunLogWrite("the hive HKU\\%s, left loaded by a stopped run, could not be unloaded (error %ld)", name,
                    static_cast<long>(result));
}

void RemoveFromHive(const UserHive* hive, void* context) {
    const Removal* removal = static_cast<const Removal*>(context);
    if (hive->user == nullptr) {
        RunLogWrite("user %s: the hive %s could not be loaded (error %ld), skipped", hive->sid, hive->file,
                    static_cast<long>(hive->error));
        return;
    }
    if (hive->classesError != ERROR_SUCCESS)
        RunLogWrite("user %s: the classes hive beside %s could not be loaded (error %ld), skipped", hive->sid,
                    hive->file, static_cast<long>(hive->classesError));
    const int kvo = RemoveAssociation(hive, ".KVO");
    const int gkv = RemoveAssociation(hive, ".GKV");
    const bool variables =
        EnvironmentRemoveUserVariables(hive->user, VariableFailed, const_cast<UserHive*>(hive));
    // Only a logged-on user has a session that can hear of the change.
    if (variables && hive->file[0] == '\0') environmentChanged = -1;
    const char* settings = "kept";
    if (removal->removeUserSettings != 0) {
        const int removed = UserSettingsRemove(hive->user);
        settings = removed == 0 ? "removed" : "absent";
        if (removed < 0) {
            settings = "left";
            LogFailed("registry key", hive->sid, "Software\\TMW\\KIVO");
        }
    }
    RunLogWrite("user %s (%s): .KVO result %d, .GKV result %d, variables %s, settings %s", hive->sid,
                hive->file[0] != '\0' ? hive->file : "logged on", kvo, gkv, variables ? "removed" : "none",
                settings);
}

} // namespace

int UserSettingsRemove(HKEY userRoot) {
    HKEY settings = nullptr;
    const LONG opened = RegOpenKeyExA(userRoot, "Software\\TMW\\KIVO", 0, KEY_READ, &settings);
    if (opened == ERROR_FILE_NOT_FOUND) return 1;
    if (opened == ERROR_SUCCESS) RegCloseKey(settings);
    if (RegistryDeleteKeyTree(userRoot, "Software\\TMW\\KIVO") != 0) return -1;
    RegistryDeleteKeyIfEmpty(userRoot, "Software\\TMW"); // other products of the maker keep it
    return 0;
}

void OtherUsersRemoveTraces(int removeUserSettings) {
    UserHivesUnloadLeftOver(LeftOverUnloaded, nullptr);
    Removal removal = {removeUserSettings};
    if (!UserHivesVisit(RemoveFromHive, &removal))
        RunLogWrite("the running account is unknown: no other user's hive was visited");
}
