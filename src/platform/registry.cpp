#include "platform/registry.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int TREE_PATH_CAPACITY = 520;
constexpr DWORD SUBKEY_NAME_CAPACITY = 260;

// Closes the key on every path out of the operation that opened it.
struct KeyHolder {
    HKEY key = nullptr;
    ~KeyHolder() {
        if (key != nullptr) RegCloseKey(key);
    }
};

DWORD StoredSize(DWORD type, const void* data, DWORD size) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return static_cast<DWORD>(strlen(static_cast<const char*>(data)) + 1);
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        return 4;
    case REG_QWORD:
        return 8;
    default:
        return size;
    }
}

// Deletes the key named by path (a working buffer of TREE_PATH_CAPACITY that
// each level extends by "\name" and cuts back before it returns). A subkey
// whose path would not fit is left alone, so the key stays and the result is -1.
int DeleteKeyAt(HKEY root, char* path) {
    if (RegDeleteKeyA(root, path) == ERROR_SUCCESS) return 0;
    KeyHolder holder;
    LONG opened = RegOpenKeyExA(root, path, 0, KEY_READ, &holder.key);
    if (opened != ERROR_SUCCESS) {
        holder.key = nullptr;
        return opened == ERROR_FILE_NOT_FOUND ? 0 : -1;
    }
    size_t length = strlen(path);
    size_t nameStart = length;
    if (length == 0 || path[length - 1] != '\\') {
        if (length + 1 >= TREE_PATH_CAPACITY) return -1;
        path[length] = '\\';
        path[length + 1] = '\0';
        nameStart = length + 1;
    }
    int result = 0;
    for (;;) {
        char name[SUBKEY_NAME_CAPACITY];
        DWORD nameLength = SUBKEY_NAME_CAPACITY;
        // Index 0 every time: each deletion removes the subkey that was there.
        if (RegEnumKeyExA(holder.key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (nameStart + nameLength >= TREE_PATH_CAPACITY) {
            result = -1;
            break;
        }
        memcpy(path + nameStart, name, nameLength + 1);
        result = DeleteKeyAt(root, path);
        path[nameStart] = '\0';
        if (result != 0) break;
    }
    path[nameStart - 1] = '\0'; // the backslash before the names ends this key's path again
    RegCloseKey(holder.key);
    holder.key = nullptr;
    if (result != 0) return -1;
    return RegDeleteKeyA(root, path) == ERROR_SUCCESS ? 0 : -1;
}

} // namespace

int RegistryWriteValue(HKEY root, const char* subkey, const char* name, DWORD type, const void* data,
                       DWORD size, bool flush) {
    KeyHolder holder;
    if (RegCreateKeyExA(root, subkey, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &holder.key, nullptr) != ERROR_SUCCESS) {
        holder.key = nullptr;
        return -1;
    }
    DWORD stored = StoredSize(type, data, size);
    if (RegSetValueExA(holder.key, name, 0, type, static_cast<const BYTE*>(data), stored) != ERROR_SUCCESS)
        return -2;
    if (flush) RegFlushKey(holder.key);
    return 0;
}

// The buffer gets one zero byte beyond the stored data, so that string data
// stored without its terminator is still a safe zero-terminated text.
int RegistryReadValue(HKEY root, const char* subkey, const char* name, void** data, DWORD* size) {
    if (data != nullptr) *data = nullptr;
    if (size != nullptr) *size = 0;
    KeyHolder holder;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &holder.key) != ERROR_SUCCESS) {
        holder.key = nullptr;
        return -1;
    }
    DWORD type = 0;
    DWORD length = 0;
    if (RegQueryValueExA(holder.key, name, nullptr, &type, nullptr, &length) != ERROR_SUCCESS) return -2;
    if (data != nullptr) {
        BYTE* buffer = static_cast<BYTE*>(malloc(static_cast<size_t>(length) + 1));
        if (buffer == nullptr) return -3;
        DWORD read = length;
        if (RegQueryValueExA(holder.key, name, nullptr, &type, buffer, &read) != ERROR_SUCCESS ||
            read > length) {
            free(buffer);
            return -3;
        }
        buffer[read] = 0;
        *data = buffer;
        length = read;
    }
    if (size != nullptr) *size = length;
    return static_cast<int>(type);
}

// An empty path would name the root itself, whose whole tree is not ours.
int RegistryDeleteKeyTree(HKEY root, const char* path) {
    char work[TREE_PATH_CAPACITY];
    size_t length = strnlen(path, TREE_PATH_CAPACITY);
    if (length == 0 || length >= TREE_PATH_CAPACITY || strspn(path, "\\") == length) return -1;
    memcpy(work, path, length + 1);
    return DeleteKeyAt(root, work);
}

int RegistryDeleteValue(HKEY root, const char* key, const char* name) {
    KeyHolder holder;
    const LONG opened = RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, &holder.key);
    if (opened != ERROR_SUCCESS) {
        holder.key = nullptr;
        // A key that refuses the change but holds no such value loses nothing.
        const int read = RegistryReadValue(root, key, name, nullptr, nullptr);
        return opened == ERROR_FILE_NOT_FOUND || read == -2 ? 1 : -1;
    }
    const LONG deleted = RegDeleteValueA(holder.key, name);
    if (deleted == ERROR_FILE_NOT_FOUND) return 1;
    return deleted == ERROR_SUCCESS ? 0 : -1;
}

int RegistryDeleteEnvironmentValue(const char* name, bool machineWide) {
    HKEY root = machineWide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const char* key =
        machineWide ? "System\\CurrentControlSet\\Control\\Session Manager\\Environment" : "Environment";
    return RegistryDeleteValue(root, key, name);
}

// RegDeleteKeyA alone would not do: Windows 9x deletes whole trees, and
// values never keep a key from going.
int RegistryDeleteKeyIfEmpty(HKEY root, const char* path) {
    KeyHolder holder;
    const LONG opened = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &holder.key);
    if (opened != ERROR_SUCCESS) {
        holder.key = nullptr;
        return opened == ERROR_FILE_NOT_FOUND ? 0 : -1;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyA(holder.key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return -1;
    if (subkeys != 0 || values != 0) return 1;
    RegCloseKey(holder.key);
    holder.key = nullptr;
    return RegDeleteKeyA(root, path) == ERROR_SUCCESS ? 0 : -1;
}
