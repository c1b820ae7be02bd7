#include "driver/folder_safety.h"

#include "clean/path_text.h"
#include "clean/shell_items.h"
#include "driver/driver_state.h"
#include "driver/relaunch_argument.h"
#include "platform/paths.h"
#include "platform/profiles.h"
#include "platform/windows_version.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <initializer_list>
#include <iterator>

namespace {

// Known-folder look-ups return folders that do not exist (yet) as well.
constexpr DWORD KNOWN_FOLDER_DONT_VERIFY = 0x4000;

// The shell's folders of the current user and of all users, by their old numbers.
const int shellFolders[] = {
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_PERSONAL,
    CSIDL_MYMUSIC,
    CSIDL_MYVIDEO,
    CSIDL_MYPICTURES,
    CSIDL_FAVORITES,
    CSIDL_STARTMENU,
    CSIDL_PROGRAMS,
    CSIDL_STARTUP,
    CSIDL_SENDTO,
    CSIDL_RECENT,
    CSIDL_TEMPLATES,
    CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA,
    CSIDL_PROFILE,
    CSIDL_FONTS,
    CSIDL_COOKIES,
    CSIDL_HISTORY,
    CSIDL_INTERNET_CACHE,
    CSIDL_NETHOOD,
    CSIDL_PRINTHOOD,
    CSIDL_ADMINTOOLS,
    CSIDL_CDBURN_AREA,
    CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_PROGRAMS,
    CSIDL_COMMON_STARTUP,
    CSIDL_COMMON_APPDATA,
    CSIDL_COMMON_TEMPLATES,
    CSIDL_COMMON_MUSIC,
    CSIDL_COMMON_PICTURES,
    CSIDL_COMMON_VIDEO,
    CSIDL_COMMON_FAVORITES,
    CSIDL_COMMON_ADMINTOOLS,
    CSIDL_WINDOWS,
    CSIDL_SYSTEM,
    CSIDL_SYSTEMX86,
    CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_RESOURCES,
};

// Known folders without an old number (Windows Vista and later): Downloads,
// Saved Games, Links, Contacts, Searches, the Users folder, Public, Public
// Downloads, LocalLow, OneDrive, 3D Objects, the user's own Programs and
// their Common folder, and the 64-bit Program Files.
const GUID knownFolders[] = {
    {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}},
    {0x4C5C32FF, 0xBB9D, 0x43B0, {0xB5, 0xB4, 0x2D, 0x72, 0xE5, 0x4E, 0xAA, 0xA4}},
    {0xBFB9D5E0, 0xC6A9, 0x404C, {0xB2, 0xB2, 0xAE, 0x6D, 0xB6, 0xAF, 0x49, 0x68}},
    {0x56784854, 0xC6CB, 0x462B, {0x81, 0x69, 0x88, 0xE3, 0x50, 0xAC, 0xB8, 0x82}},
    {0x7D1D3A04, 0xDEBB, 0x4115, {0x95, 0xCF, 0x2F, 0x29, 0xDA, 0x29, 0x20, 0xDA}},
    {0x0762D272, 0xC50A, 0x4BB0, {0xA3, 0x82, 0x69, 0x7D, 0xCD, 0x72, 0x9B, 0x80}},
    {0xDFDF76A2, 0xC82A, 0x4D63, {0x90, 0x6A, 0x56, 0x44, 0xAC, 0x45, 0x73, 0x85}},
    {0x3D644C9B, 0x1FB8, 0x4F30, {0x9B, 0x45, 0xF6, 0x70, 0x23, 0x5F, 0x79, 0xC0}},
    {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}},
    {0xA52BBA46, 0xE9E1, 0x435F, {0xB3, 0xD9, 0x28, 0xDA, 0xA6, 0x48, 0xC0, 0xF6}},
    {0x31C0DD25, 0x9439, 0x4F12, {0xBF, 0x41, 0x7F, 0xF4, 0xED, 0xA3, 0x87, 0x22}},
    {0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}},
    {0xBCBD3057, 0xCA5C, 0x4622, {0xB4, 0x2D, 0xBC, 0x56, 0xDB, 0x0A, 0xE5, 0x16}},
    {0x6D809377, 0x6AF0, 0x444B, {0x89, 0x57, 0xA3, 0x77, 0x3F, 0x02, 0x20, 0x0E}},
};

// Variables that name such folders; a 32-bit program learns the 64-bit
// Program Files folders only from the ...W6432 ones.
const char* const folderVariables[] = {"ProgramFiles",
                                       "ProgramFiles(x86)",
                                       "ProgramW6432",
                                       "CommonProgramFiles",
                                       "CommonProgramFiles(x86)",
                                       "CommonProgramW6432",
                                       "ProgramData",
                                       "ALLUSERSPROFILE",
                                       "PUBLIC",
                                       "USERPROFILE",
                                       "SystemRoot",
                                       "windir",
                                       "TEMP",
                                       "TMP"};

constexpr size_t USER_FOLDER_COUNT = std::size(shellFolders) + std::size(knownFolders);

// path made full and, where it exists, long, without a trailing "\" (a
// root keeps its own), so that the folders compare by their text; false
// when it cannot be made or does not fit.
bool Normalise(const char* path, char* out, bool mustExist) {
    static_assert(PATH_CAPACITY == MAX_PATH, "full long paths have MAX_PATH bytes");
    if (!PathFullLong(path, out, mustExist)) return false;
    size_t used = std::strlen(out);
    while (used > 3 && out[used - 1] == '\\')
        out[--used] = '\0';
    return true;
}

// True when inner is outer or lies below it.
bool AtOrBelow(const char* inner, size_t innerLength, const char* outer, size_t outerLength) {
    return innerLength >= outerLength && std::memcmp(inner, outer, outerLength) == 0 &&
           (innerLength == outerLength || inner[outerLength] == '\\');
}

// The folders under examination, in upper case, since Windows compares names
// without regard to case; one is reserved once it is, or lies above, a folder
// of Windows or of a user, or lies inside the Windows folder.
struct Examined {
    char folder[PATH_CAPACITY];
    size_t length;
    bool reserved;
};

struct Examination {
    Examined folders[2]; // the folder as given, and where its links lead
    int count;
    char ownProfile[PATH_CAPACITY]; // normalised, upper case
    char suffixes[USER_FOLDER_COUNT]
                 [PATH_CAPACITY]; // the user's folders behind the own profile ("\DOCUMENTS")
    size_t suffixCount;
};

void Compare(Examination& examination, const char* candidate, bool insideToo) {
    if (candidate == nullptr || candidate[0] == '\0') return;
    char normal[PATH_CAPACITY];
    if (!Normalise(candidate, normal, false)) return;
    const size_t length = std::strlen(normal);
    CharUpperBuffA(normal, static_cast<DWORD>(length));
    for (int i = 0; i < examination.count; ++i) {
        Examined& examined = examination.folders[i];
        if (AtOrBelow(normal, length, examined.folder, examined.length) ||
            (insideToo && AtOrBelow(examined.folder, examined.length, normal, length)))
            examined.reserved = true;
    }
}

// A folder of the current user: compared itself, and remembered by what
// follows the user's profile, so that the same folder of every other
// profile is compared too.
void CompareUserFolder(Examination& examination, const char* path) {
    Compare(examination, path, false);
    char normal[PATH_CAPACITY];
    if (examination.ownProfile[0] == '\0' || !Normalise(path, normal, false)) return;
    const size_t length = std::strlen(normal);
    const size_t profileLength = std::strlen(examination.ownProfile);
    CharUpperBuffA(normal, static_cast<DWORD>(length));
    if (length > profileLength && AtOrBelow(normal, length, examination.ownProfile, profileLength) &&
        examination.suffixCount < USER_FOLDER_COUNT)
        std::memcpy(examination.suffixes[examination.suffixCount++], normal + profileLength,
                    length - profileLength + 1);
}

// A folder of the shell (MAX_PATH bytes), whether it exists or not. The
// shell32 of Windows 95, 98 and NT 4 has only the older call.
bool ShellFolderOf(int csidl, char* path) {
    using FolderPathFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    static const FolderPathFunction folderPath =
        PlatformFunction<FolderPathFunction>(GetModuleHandleA("shell32.dll"), "SHGetFolderPathA");
    if (folderPath == nullptr) return ShellFolderPath(csidl, path);
    return SUCCEEDED(folderPath(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, path));
}

void CompareShellFolders(Examination& examination) {
    char path[MAX_PATH];
    if (ShellFolderOf(CSIDL_PROFILE, path) && Normalise(path, examination.ownProfile, false))
        CharUpperBuffA(examination.ownProfile, static_cast<DWORD>(std::strlen(examination.ownProfile)));
    for (int folder : shellFolders) {
        if (ShellFolderOf(folder, path)) CompareUserFolder(examination, path);
    }

    // Resolved at run time: only Windows Vista and later have it.
    using KnownFolderPath = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, wchar_t**);
    const auto knownFolderPath =
        PlatformFunction<KnownFolderPath>(GetModuleHandleA("shell32.dll"), "SHGetKnownFolderPath");
    if (knownFolderPath == nullptr) return;
    for (const GUID& folder : knownFolders) {
        wchar_t* wide = nullptr;
        if (SUCCEEDED(knownFolderPath(folder, KNOWN_FOLDER_DONT_VERIFY, nullptr, &wide)) && wide != nullptr &&
            WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof path, nullptr, nullptr) > 0)
            CompareUserFolder(examination, path);
        CoTaskMemFree(wide);
    }
}

// A profile of the machine, and in it every folder the current user has in
// their own profile.
void CompareProfile(Examination& examination, const char* profile) {
    Compare(examination, profile, false);
    for (size_t i = 0; i < examination.suffixCount; ++i) {
        char folder[PATH_CAPACITY];
        if (TextFormat(folder, sizeof folder, "%s%s", profile, examination.suffixes[i]))
            Compare(examination, folder, false);
    }
}

// The folders that hold the profiles and the data of all users, and every
// profile the registry lists (the shared ones among them).
void CompareProfiles(Examination& examination) {
    char value[MAX_PATH];
    for (const char* name : {"ProfilesDirectory", "ProgramData"}) {
        if (ProfileListReadPath(name, value)) Compare(examination, value, false);
    }
    const auto compare = [](const char* profile, void* context) {
        CompareProfile(*static_cast<Examination*>(context), profile);
    };
    ProfilesVisit(compare, &examination);
}

void CompareSystemFolders(Examination& examination) {
    char path[MAX_PATH];
    // Nothing inside the Windows folder is ever an installation of ours.
    UINT length = GetWindowsDirectoryA(path, sizeof path);
    if (length > 0 && length < sizeof path) Compare(examination, path, true);
    length = PathSystemWindowsFolder(path, sizeof path);
    if (length > 0 && length < sizeof path) Compare(examination, path, true);
    length = GetSystemDirectoryA(path, sizeof path);
    if (length > 0 && length < sizeof path) Compare(examination, path, true);
    DWORD tempLength = GetTempPathA(sizeof path, path);
    if (tempLength > 0 && tempLength < sizeof path) Compare(examination, path, false);
    for (const char* name : folderVariables) {
        DWORD valueLength = GetEnvironmentVariableA(name, path, sizeof path);
        if (valueLength > 0 && valueLength < sizeof path) Compare(examination, path, false);
    }
}

// The device part of a native name ("\\Device\\HarddiskVolume2\\...") as the
// drive letter that names it, or a redirector's as "\\".
bool ObjectNameToPath(const char* name, char* out) {
    using DosDevice = DWORD(WINAPI*)(const char*, char*, DWORD);
    const auto dosDevice = PlatformFunction<DosDevice>(GetModuleHandleA("kernel32.dll"), "QueryDosDeviceA");
    // The DOS devices' own folder already names the drive.
    if (std::strncmp(name, "\\??\\", 4) == 0 && name[4] != '\0' && name[5] == ':')
        return TextFormat(out, PATH_CAPACITY, "%s", name + 4);
    for (const char* redirector : {"\\Device\\Mup\\", "\\Device\\LanmanRedirector\\"}) {
        const size_t length = std::strlen(redirector);
        if (TextEqualAZ(name, redirector, length))
            return TextFormat(out, PATH_CAPACITY, "\\\\%s", name + length);
    }
    if (dosDevice == nullptr) return false;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char drive[3] = {letter, ':', '\0'};
        char device[PATH_CAPACITY];
        if (dosDevice(drive, device, sizeof device) == 0) continue;
        const size_t length = std::strlen(device);
        if (length > 0 && TextEqualAZ(name, device, length) && (name[length] == '\\' || name[length] == '\0'))
            return TextFormat(out, PATH_CAPACITY, "%s%s", drive, name[length] == '\0' ? "\\" : name + length);
    }
    return false;
}

// The object's native name, asked of ntdll (NT 4 and later).
bool ObjectNamePath(HANDLE handle, char* out) {
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto queryObject = PlatformFunction<QueryObject>(GetModuleHandleA("ntdll.dll"), "NtQueryObject");
    if (queryObject == nullptr) return false;
    constexpr int OBJECT_NAME_INFORMATION = 1;
    struct NativeText {
        USHORT Length;
        USHORT MaximumLength;
        wchar_t* Buffer;
    };
    union {
        NativeText name;
        BYTE bytes[sizeof(NativeText) + 2 * PATH_CAPACITY * sizeof(wchar_t)];
    } information;
    ULONG returned = 0;
    if (queryObject(handle, OBJECT_NAME_INFORMATION, &information, sizeof information, &returned) < 0)
        return false;
    char name[2 * PATH_CAPACITY];
    const int characters = information.name.Length / sizeof(wchar_t);
    const int length = WideCharToMultiByte(CP_ACP, 0, information.name.Buffer, characters, name,
                                           sizeof name - 1, nullptr, nullptr);
    if (characters == 0 || length <= 0) return false;
    name[length] = '\0';
    return ObjectNameToPath(name, out);
}

// Where the folder really is when it or a folder above it is a link: its
// final path. False when that cannot be told.
bool LinkTarget(const char* folder, char* out) {
    if (PlatformIsWindows9x()) return TextFormat(out, PATH_CAPACITY, "%s", folder); // no links there
    HANDLE handle =
        CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = HandleFinalPath(handle, out);
    CloseHandle(handle);
    return known;
}

void Examine(Examination& examination, const char* folder) {
    Examined& examined = examination.folders[examination.count++];
    examined.length = std::strlen(folder);
    std::memcpy(examined.folder, folder, examined.length + 1);
    CharUpperBuffA(examined.folder, static_cast<DWORD>(examined.length));
    examined.reserved = false;
}

} // namespace

bool finalPathByObjectName = false;

bool HandleFinalPath(void* handle, char* out) {
    using FinalPathName = DWORD(WINAPI*)(HANDLE, char*, DWORD, DWORD);
    const auto finalPathName =
        PlatformFunction<FinalPathName>(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    if (finalPathName == nullptr || finalPathByObjectName) return ObjectNamePath(handle, out);
    char path[PATH_CAPACITY + 8];
    const DWORD length = finalPathName(handle, path, sizeof path, 0);
    if (length == 0 || length >= sizeof path) return false;
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) return TextFormat(out, PATH_CAPACITY, "\\\\%s", path + 8);
    return TextFormat(out, PATH_CAPACITY, "%s", std::strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path);
}

namespace {

// The folder as named (full) and where it really is (target), against the
// folders of Windows and of its users.
FolderSafety CheckNamedAndFinal(const char* full, const char* target) {
    if (FolderIsRoot(target)) return FOLDER_ROOT;
    Examination examination;
    examination.count = 0;
    examination.ownProfile[0] = '\0';
    examination.suffixCount = 0;
    Examine(examination, full);
    Examine(examination, target);
    CompareSystemFolders(examination);
    CompareShellFolders(examination);
    CompareProfiles(examination);
    return examination.folders[0].reserved || examination.folders[1].reserved ? FOLDER_RESERVED : FOLDER_SAFE;
}

// The text made full and long, or why it cannot be an installation.
FolderSafety NormaliseFolder(const char* folder, char* full) {
    if (!Normalise(folder, full, true)) return FOLDER_UNRESOLVED;
    if (FolderIsRoot(full)) return FOLDER_ROOT;
    const DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return FOLDER_UNRESOLVED;
    return FOLDER_SAFE;
}

bool SameFolder(HANDLE one, HANDLE other) {
    BY_HANDLE_FILE_INFORMATION first;
    BY_HANDLE_FILE_INFORMATION second;
    return GetFileInformationByHandle(one, &first) && GetFileInformationByHandle(other, &second) &&
           (first.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

FolderSafety HoldChecked(char* folder, int capacity, HANDLE given, HANDLE* held) {
    char full[PATH_CAPACITY];
    FolderSafety safety = NormaliseFolder(folder, full);
    if (safety != FOLDER_SAFE) return safety;
    HANDLE folderHandle = given;
    if (folderHandle == nullptr) {
        // Without DELETE: a folder that is a process's current folder (the
        // first stage's, started from Explorer) cannot be opened with it.
        folderHandle = CreateFileA(full, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folderHandle == INVALID_HANDLE_VALUE) return FOLDER_UNRESOLVED;
    }
    *held = folderHandle;
    // The text must lead to the folder held: a folder that another took the
    // place of since the first stage's check is not the one checked.
    HANDLE named =
        CreateFileA(full, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool same = named != INVALID_HANDLE_VALUE && SameFolder(folderHandle, named);
    if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
    char target[PATH_CAPACITY];
    if (!same || !HandleFinalPath(folderHandle, target)) return FOLDER_UNRESOLVED;
    safety = CheckNamedAndFinal(full, target);
    if (safety == FOLDER_SAFE && !TextFormat(folder, capacity, "%s", full)) return FOLDER_UNRESOLVED;
    return safety;
}

} // namespace

FolderSafety InstallFolderHold(char* folder, int capacity, void* given, void** held) {
    *held = nullptr;
    if (PlatformIsWindows9x()) return InstallFolderCheck(folder, capacity);
    HANDLE folderHandle = nullptr;
    const FolderSafety safety = HoldChecked(folder, capacity, static_cast<HANDLE>(given), &folderHandle);
    if (safety == FOLDER_SAFE) {
        *held = folderHandle;
    } else if (folderHandle != nullptr) {
        CloseHandle(folderHandle);
    } else if (given != nullptr) {
        CloseHandle(static_cast<HANDLE>(given));
    }
    return safety;
}

FolderSafety InstallFolderCheck(char* folder, int capacity) {
    char full[PATH_CAPACITY];
    const FolderSafety named = NormaliseFolder(folder, full);
    if (named != FOLDER_SAFE) return named;
    char target[PATH_CAPACITY];
    if (!LinkTarget(full, target)) return FOLDER_UNRESOLVED;
    const FolderSafety safety = CheckNamedAndFinal(full, target);
    if (safety != FOLDER_SAFE) return safety;
    return TextFormat(folder, capacity, "%s", full) ? FOLDER_SAFE : FOLDER_UNRESOLVED;
}
