#include "platform/profiles.h"

#include "platform/registry.h"
#include "platform/windows_version.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr char PROFILE_LIST_NT[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char PROFILE_LIST_9X[] = "Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
constexpr DWORD KEY_NAME_CAPACITY = 256;

enum PathRead { PATH_READ, PATH_ABSENT, PATH_TOO_LONG };

// Closes the list on every path out of the operation that opened it.
struct ListHolder {
    HKEY key = nullptr;
    ~ListHolder() {
        if (key != nullptr) RegCloseKey(key);
    }
};

// The list of a 32-bit program on 64-bit Windows is read from the system's
// own view; older systems refuse that flag and have only one view.
bool OpenList(ListHolder* list) {
    const char* name = PlatformIsWindows9x() ? PROFILE_LIST_9X : PROFILE_LIST_NT;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_READ | KEY_WOW64_64KEY, &list->key) == ERROR_SUCCESS ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &list->key) == ERROR_SUCCESS)
        return true;
    list->key = nullptr;
    return false;
}

// A path value of the list or of its subkey (the list itself for ""). Text
// values are expanded whatever their type: a path stored as REG_SZ with a
// reference in it means the same folder.
PathRead ReadPath(HKEY list, const char* subkey, const char* name, char* path) {
    void* data = nullptr;
    const int type = RegistryReadValue(list, subkey, name, &data, nullptr);
    DWORD length = 0;
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && data != nullptr && static_cast<char*>(data)[0] != '\0')
        length = ExpandEnvironmentStringsA(static_cast<const char*>(data), path, MAX_PATH);
    std::free(data);
    if (length == 0) return PATH_ABSENT;
    return length <= MAX_PATH ? PATH_READ : PATH_TOO_LONG;
}

// folder + "\\" + relative into path (MAX_PATH bytes); false when it does not fit.
bool JoinPath(const char* folder, const char* relative, char* path) {
    const size_t folderLength = std::strlen(folder);
    const size_t relativeLength = std::strlen(relative);
    if (folderLength + 1 + relativeLength >= MAX_PATH) return false;
    std::memcpy(path, folder, folderLength);
    path[folderLength] = '\\';
    std::memcpy(path + folderLength + 1, relative, relativeLength + 1);
    return true;
}

// Calls visit with the name of each key of the list and the profile's
// folder; false when a folder's path does not fit.
bool VisitKeys(HKEY list, void (*visit)(const char* key, const char* profile, void* context), void* context) {
    bool complete = true;
    char name[KEY_NAME_CAPACITY];
    char path[MAX_PATH];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = KEY_NAME_CAPACITY;
        const LONG listed = RegEnumKeyExA(list, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_MORE_DATA) continue; // a name no profile's key has
        if (listed != ERROR_SUCCESS) break;
        const PathRead read = ReadPath(list, name, "ProfileImagePath", path);
        if (read == PATH_READ) visit(name, path, context);
        if (read == PATH_TOO_LONG) complete = false;
    }
    return complete;
}

struct FolderVisit {
    void (*visit)(const char* profile, void* context);
    void* context;
};

} // namespace

bool ProfileListReadPath(const char* name, char* path) {
    ListHolder list;
    return OpenList(&list) && ReadPath(list.key, "", name, path) == PATH_READ;
}

bool ProfilesVisitUsers(void (*visit)(const char* key, const char* profile, void* context), void* context) {
    ListHolder list;
    return !OpenList(&list) || VisitKeys(list.key, visit, context);
}

bool ProfilesVisit(void (*visit)(const char* profile, void* context), void* context) {
    ListHolder list;
    if (!OpenList(&list)) return true;
    FolderVisit folders = {visit, context};
    bool complete = VisitKeys(
        list.key,
        [](const char*, const char* profile, void* parameter) {
            const FolderVisit* folders = static_cast<const FolderVisit*>(parameter);
            folders->visit(profile, folders->context);
        },
        &folders);
    char path[MAX_PATH];
    const auto visitAt = [&](PathRead read) {
        if (read == PATH_READ) visit(path, context);
        if (read == PATH_TOO_LONG) complete = false;
    };
    for (const char* shared : {"Public", "Default"})
        visitAt(ReadPath(list.key, "", shared, path));
    char folder[MAX_PATH];
    if (ReadPath(list.key, "", "ProfilesDirectory", folder) != PATH_READ) return complete;
    for (const char* shared : {"AllUsersProfile", "DefaultUserProfile"}) {
        char relative[MAX_PATH];
        PathRead read = ReadPath(list.key, "", shared, relative);
        if (read == PATH_READ && !JoinPath(folder, relative, path)) read = PATH_TOO_LONG;
        visitAt(read);
    }
    return complete;
}
