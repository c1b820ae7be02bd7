#include "bench/bench.h"

#include <shlobj.h>

#include <algorithm>

namespace bench {

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], int(wide.size()));
    wide.resize(units > 0 ? size_t(units - 1) : 0);
    if (wide.size() >= 240 && wide[1] == L':') wide = L"\\\\?\\" + wide;
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    std::string utf8(wide.size() * 3 + 1, '\0');
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], int(utf8.size()), nullptr, nullptr);
    utf8.resize(bytes > 0 ? size_t(bytes - 1) : 0);
    return utf8;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok =
        bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char chunk[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof(chunk), &got, nullptr) != 0) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return ok;
}

namespace {

// A path below C:\ as the Linux side names it below drive_c.
std::string BelowDriveC(const std::string& path) {
    std::string below = path.substr(3);
    for (char& c : below)
        if (c == '\\') c = '/';
    return below;
}

} // namespace

bool SwapForLink(const std::string& folder, const std::string& target) {
    // Written whole, then renamed, so that the listener never reads half of it.
    DeleteFileA("C:\\swap-done");
    if (!WriteFileBytes("C:\\swap-request.new", BelowDriveC(folder) + "\n" + BelowDriveC(target) + "\n") ||
        !MoveFileA("C:\\swap-request.new", "C:\\swap-request"))
        return false;
    for (int i = 0; i < 1000; ++i) {
        if (DeleteFileA("C:\\swap-done")) return true;
        Sleep(10);
    }
    return false;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& path) {
    for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        std::string part = path.substr(0, at);
        if (!part.empty() && !IsFolder(part) && !CreateDirectoryW(Wide(part).c_str(), nullptr)) return false;
        if (at == std::string::npos) return true;
    }
}

void RemoveTree(const std::string& path) {
    const std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(wide.c_str(), attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(wide.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                        ? INVALID_HANDLE_VALUE
                        : FindFirstFileW((wide + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + "\\" + Utf8(name));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(wide.c_str());
}

static void ListInto(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAW found;
    std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE search = FindFirstFileW((Wide(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = Utf8(found.cFileName);
        if (name == "." || name == "..") continue;
        std::string path = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(path + "\\");
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListInto(root, path, out);
        } else {
            out.push_back(path);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::vector<std::string> ListTree(const std::string& folder) {
    std::vector<std::string> out;
    ListInto(folder, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string TempFolder() {
    char value[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA("TEMP", value, sizeof(value));
    std::string temp(value, length < sizeof(value) ? length : 0);
    while (!temp.empty() && temp.back() == '\\')
        temp.pop_back();
    return temp;
}

bool RegSetString(HKEY root, const std::string& key, const char* name, const std::string& value, DWORD type) {
    HKEY handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegSetDword(HKEY root, const std::string& key, const char* name, DWORD value) {
    HKEY handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

bool RegValueExists(HKEY root, const std::string& key, const char* name) {
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    LONG status = RegQueryValueExA(handle, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegGetString(HKEY root, const std::string& key, const char* name, std::string& value) {
    HKEY handle;
    value.clear();
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    char data[4096];
    DWORD size = sizeof(data) - 1, type = 0;
    LONG status = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return false;
    data[size] = 0;
    value = data;
    return true;
}

bool RegGetDword(HKEY root, const std::string& key, const char* name, DWORD& value) {
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    DWORD size = 4, type = 0;
    LONG status = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS && type == REG_DWORD;
}

// Works through handles relative to the parent, so that keys whose full path
// is too long to open by name still go.
static bool DeleteKeyBelow(HKEY parent, const char* name) {
    HKEY handle;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) {
        char child[256];
        while (RegEnumKeyA(handle, 0, child, sizeof(child)) == ERROR_SUCCESS)
            if (!DeleteKeyBelow(handle, child)) break;
        RegCloseKey(handle);
    }
    LONG status = RegDeleteKeyA(parent, name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

void RegDeleteTree(HKEY root, const std::string& key) {
    DeleteKeyBelow(root, key.c_str());
}

namespace {

void EnableHivePrivileges() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    for (const char* name : {"SeBackupPrivilege", "SeRestorePrivilege"}) {
        TOKEN_PRIVILEGES wanted = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

} // namespace

bool RegSaveHive(HKEY root, const std::string& key, const std::string& file) {
    EnableHivePrivileges();
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    const LONG saved = RegSaveKeyA(handle, file.c_str(), nullptr);
    RegCloseKey(handle);
    return saved == ERROR_SUCCESS;
}

LONG RegLoadHive(const std::string& name, const std::string& file) {
    EnableHivePrivileges();
    return RegLoadKeyA(HKEY_USERS, name.c_str(), file.c_str());
}

LONG RegUnloadHive(const std::string& name) {
    EnableHivePrivileges();
    return RegUnLoadKeyA(HKEY_USERS, name.c_str());
}

std::vector<std::string> RegSubkeys(HKEY root, const std::string& key) {
    std::vector<std::string> names;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(handle);
    return names;
}

namespace {

constexpr UINT SHELL_EVENT_MESSAGE = WM_APP + 1;
HANDLE shellListener = nullptr; // the listening thread
DWORD shellListenerId = 0;
HANDLE shellListening = nullptr; // set once the thread listens (or failed to)
bool shellRegistered = false;
std::vector<ShellEvent> shellEvents; // the thread's until it has ended

LRESULT CALLBACK ShellListenerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != SHELL_EVENT_MESSAGE) return DefWindowProcA(window, message, wParam, lParam);
    PIDLIST_ABSOLUTE* items = nullptr;
    LONG event = 0;
    HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam),
                                            &items, &event);
    if (lock == nullptr) return 0;
    char path[MAX_PATH] = "";
    if (items != nullptr && items[0] != nullptr) SHGetPathFromIDListA(items[0], path);
    shellEvents.push_back({event, path});
    SHChangeNotification_Unlock(lock);
    return 0;
}

DWORD WINAPI ShellListenerThread(void*) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ShellListenerProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KivoShellListener";
    RegisterClassA(&windowClass); // fails harmlessly when already registered
    HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    LPITEMIDLIST desktop = nullptr;
    ULONG registration = 0;
    if (window != nullptr && SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop))) {
        SHChangeNotifyEntry everything = {desktop, TRUE};
        registration =
            SHChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                   SHCNE_ALLEVENTS, SHELL_EVENT_MESSAGE, 1, &everything);
        CoTaskMemFree(desktop);
    }
    shellRegistered = registration != 0;
    SetEvent(shellListening);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    if (registration != 0) SHChangeNotifyDeregister(registration);
    if (window != nullptr) DestroyWindow(window);
    return 0;
}

} // namespace

bool ListenToShell() {
    shellEvents.clear();
    shellListening = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    shellListener = CreateThread(nullptr, 0, ShellListenerThread, nullptr, 0, &shellListenerId);
    if (shellListener == nullptr) return false;
    WaitForSingleObject(shellListening, INFINITE);
    return shellRegistered;
}

std::vector<ShellEvent> ShellEventsSeen() {
    std::vector<ShellEvent> seen;
    if (shellListener == nullptr) return seen;
    Sleep(300); // what is still on its way
    PostThreadMessageA(shellListenerId, WM_QUIT, 0, 0);
    WaitForSingleObject(shellListener, INFINITE);
    CloseHandle(shellListener);
    CloseHandle(shellListening);
    shellListener = nullptr;
    seen.swap(shellEvents);
    return seen;
}

std::string Utf8(const std::string& ansi) {
    std::wstring wide(ansi.size() + 1, L'\0');
    int count = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    std::string utf8(4 * wide.size(), '\0');
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), count, &utf8[0], static_cast<int>(utf8.size()),
                                    nullptr, nullptr);
    utf8.resize(bytes > 0 ? bytes - 1 : 0);
    return utf8;
}

} // namespace bench
