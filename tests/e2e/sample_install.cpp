#include "e2e/sample_install.h"

#include "bench/bench.h"

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>

namespace e2e {

namespace {

const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";
const char* const MACHINE_ENVIRONMENT = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Bytes that deflate can shrink but not to nothing, so that the archive's
// contents are really compared; seeded, hence the same in every run.
std::string SampleBytes(unsigned seed, size_t size) {
    std::string bytes;
    bytes.reserve(size);
    unsigned state = seed;
    const char* words[] = {"KIVO ", "client ", "2013 ", "invoice\r\n", "total=", "\x01\x02\xFF"};
    while (bytes.size() < size) {
        state = state * 1103515245u + 12345u;
        bytes += (state >> 16) % 3 == 0 ? std::string(1, static_cast<char>(state >> 8))
                                        : std::string(words[(state >> 16) % 6]);
    }
    bytes.resize(size);
    return bytes;
}

void Write(const std::string& path, const std::string& bytes) {
    std::string folder = path.substr(0, path.rfind('\\'));
    bench::MakeFolders(folder);
    bench::WriteFileBytes(path, bytes);
}

std::string ShortcutTargetOnDisk(const std::string& path) {
    char target[MAX_PATH] = "";
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return target;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(file->Load(wide, STGM_READ))) link->GetPath(target, MAX_PATH, nullptr, 0);
        file->Release();
    }
    link->Release();
    return target;
}

void MakeShortcut(const std::string& path, const std::string& target) {
    bench::MakeFolders(path.substr(0, path.rfind('\\')));
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return;
    }
    link->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        file->Save(wide, TRUE);
        file->Release();
    }
    link->Release();
}

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}

std::string Desktop() {
    return ShellFolder(CSIDL_DESKTOPDIRECTORY);
}

// Profiles laid out as the walk expects them: the real user's desktop, the
// public desktop, and start menus named like the user's own inside profiles.
std::string Profiles() {
    std::string desktop = Desktop();
    std::string profile = desktop.substr(0, desktop.rfind('\\'));
    return profile.substr(0, profile.rfind('\\'));
}

std::string StartMenuName() {
    std::string menu = ShellFolder(CSIDL_STARTMENU);
    return menu.substr(menu.rfind('\\') + 1);
}

std::string UserProfile() {
    std::string desktop = Desktop();
    return desktop.substr(0, desktop.rfind('\\'));
}

// Profiles besides Wine's own user, in the registry's profile lists of both
// families: alice beside it, carol where only the list leads.
std::string Alice() {
    return Profiles() + "\\alice";
}
const char* const CAROL = "C:\\Elsewhere\\carol";
// All users' folders: below ProgramData and Public since Vista, All Users
// before (the layout the Windows 2000 and XP runs lay out).
std::string CommonStartMenu() {
    return ShellFolder(CSIDL_COMMON_STARTMENU);
}
std::string CommonDesktop() {
    return ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
}

// Where each profile keeps its start menu and Quick Launch since Vista.
std::vector<std::string> VistaProfiles() {
    return {UserProfile(), Alice(), CAROL};
}
std::string StartMenuOf(const std::string& profile) {
    return profile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu";
}
std::string QuickLaunchOf(const std::string& profile) {
    return profile + "\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
}
// Where the current user's application data lies in the profile before Vista
// ("Application Data"), the same folder of a profile; "" in the Vista layout.
std::string OldQuickLaunchOf(const std::string& profile) {
    const std::string appData = ShellFolder(CSIDL_APPDATA), own = UserProfile() + "\\";
    if (appData.compare(0, own.size(), own) != 0 || appData.substr(own.size()) == "AppData\\Roaming")
        return "";
    return profile + "\\" + appData.substr(own.size()) + "\\Microsoft\\Internet Explorer\\Quick Launch";
}

void RegisterProfiles() {
    const char* const lists[] = {
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-",
        "Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\"};
    for (const char* list : lists) {
        bench::RegSetString(HKEY_LOCAL_MACHINE, std::string(list) + "1001", "ProfileImagePath", Alice());
        bench::RegSetString(HKEY_LOCAL_MACHINE, std::string(list) + "1002", "ProfileImagePath", CAROL);
    }
}

void FindShortcutsInto(const std::string& folder, const std::string& target,
                       std::vector<std::string>& found) {
    WIN32_FIND_DATAA item;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &item);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = item.cFileName, path = folder + "\\" + name;
        if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (name != "." && name != ".." && (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
                FindShortcutsInto(path, target, found);
        } else if (name.size() > 4 && lstrcmpiA(name.c_str() + name.size() - 4, ".lnk") == 0) {
            const std::string linked = ShortcutTargetOnDisk(path) + "\\";
            if (lstrcmpiA(linked.substr(0, target.size() + 1).c_str(), (target + "\\").c_str()) == 0)
                found.push_back(path);
        }
    } while (FindNextFileA(search, &item));
    FindClose(search);
}

} // namespace

// Names in French, Greek, Polish, Japanese and with an emoji, which Windows
// 9x could not have written, besides plain ones.
const std::vector<DataFile>& DataFiles() {
    static const std::vector<DataFile> files = [] {
        std::vector<DataFile> list = {
            {"notes.txt", "notes of the user\r\n"},
            {"KIVO\\user.cfg", "[user]\r\nname=Ana\r\n"},
            {"Data\\clients.dat", SampleBytes(1, 70000)},
            {"Data\\2013\\june\\report.txt", SampleBytes(2, 3000)},
            {"Data\\2013\\june\\deep\\a\\b\\leaf.txt", "leaf"},
            {"Data\\empty.dat", ""},
            {"ZAVURE\\sub\\kept.dat", SampleBytes(3, 500)},
            {"DOC\\images\\figure.bin", SampleBytes(4, 1200)},
        };
        if ((GetVersion() & 0x80000000u) == 0) {
            list.push_back({u8"Donn\u00E9es \u00E9t\u00E9\\r\u00E9sum\u00E9.txt", SampleBytes(5, 900)});
            list.push_back({u8"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC\\\u03C3\u03B7\u03BC\u03B5"
                            u8"\u03B9\u03CE\u03C3\u03B5\u03B9\u03C2.txt",
                            "greek"});
            list.push_back(
                {u8"Data\\Za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144.txt", "polish"});
            list.push_back({u8"\u65E5\u672C\u8A9E\\\u30D5\u30A1\u30A4\u30EB.txt", SampleBytes(6, 400)});
            list.push_back({u8"emoji \U0001F600.txt", "smile"});
        }
        return list;
    }();
    return files;
}

std::vector<std::string> ProgramFiles() {
    return {"uninstKIVO.exe", "setup.LOG",      "DOC\\manual.txt", "DOC\\readme.htm", "KIVO\\KIVO.EXE",
            "KIVO\\kivo.dll", "KIVO\\base.KIV", "KIVO\\KV.KV",     "ZAVURE\\z1.bin"};
}

// The start menus named like the user's beside each desktop are the layout
// before Vista; the rest is where Vista to 11 keep them.
std::vector<std::string> ProductShortcuts() {
    std::string menu = StartMenuName();
    std::vector<std::string> links = {Desktop() + "\\KIVO.lnk",
                                      CommonDesktop() + "\\KIVO data.lnk",
                                      Alice() + "\\Desktop\\KIVO.lnk",
                                      Alice() + "\\" + menu + "\\Programs\\KIVO\\KIVO.lnk",
                                      Alice() + "\\" + menu + "\\Programs\\KIVO\\Manual.lnk",
                                      UserProfile() + "\\" + menu + "\\Programs\\KIVO\\KIVO.lnk",
                                      UserProfile() + "\\" + menu + "\\Programs\\Tools\\KIVO.lnk",
                                      std::string(CAROL) + "\\Desktop\\KIVO.lnk",
                                      CommonStartMenu() + "\\KIVO.lnk",
                                      CommonStartMenu() + "\\Programs\\KIVO\\KIVO.lnk"};
    for (const std::string& profile : VistaProfiles()) {
        for (const char* link : {"\\Programs\\KIVO\\KIVO.lnk", "\\Programs\\KIVO\\Manual.lnk",
                                 "\\Programs\\Startup\\KIVO.lnk", "\\Programs\\Tools\\KIVO.lnk"})
            links.push_back(StartMenuOf(profile) + link);
        for (const char* link :
             {"\\KIVO.lnk", "\\User Pinned\\TaskBar\\KIVO.lnk", "\\User Pinned\\StartMenu\\KIVO.lnk"})
            links.push_back(QuickLaunchOf(profile) + link);
        if (!OldQuickLaunchOf(profile).empty()) links.push_back(OldQuickLaunchOf(profile) + "\\KIVO.lnk");
    }
    return links;
}

std::vector<std::string> ProductGroups() {
    std::string menu = StartMenuName();
    std::vector<std::string> groups = {Alice() + "\\" + menu + "\\Programs\\KIVO",
                                       UserProfile() + "\\" + menu + "\\Programs\\KIVO",
                                       CommonStartMenu() + "\\Programs\\KIVO"};
    for (const std::string& profile : VistaProfiles())
        groups.push_back(StartMenuOf(profile) + "\\Programs\\KIVO");
    return groups;
}

std::vector<std::string> WindowsFolders() {
    std::vector<std::string> folders = {UserProfile() + "\\" + StartMenuName() + "\\Programs",
                                        CommonStartMenu() + "\\Programs"};
    for (const std::string& profile : VistaProfiles()) {
        folders.push_back(StartMenuOf(profile) + "\\Programs\\Startup");
        folders.push_back(QuickLaunchOf(profile) + "\\User Pinned\\TaskBar");
    }
    return folders;
}

std::vector<std::string> ForeignShortcuts() {
    std::string menu = StartMenuName();
    std::vector<std::string> links = {Desktop() + "\\Other.lnk", Desktop() + "\\KIVO2.lnk",
                                      UserProfile() + "\\" + menu + "\\Programs\\Tools\\Other.lnk",
                                      CommonDesktop() + "\\Other.lnk",
                                      CommonStartMenu() + "\\Programs\\Other.lnk"};
    for (const std::string& profile : VistaProfiles()) {
        links.push_back(StartMenuOf(profile) + "\\Programs\\Tools\\Other.lnk");
        for (const char* link :
             {"\\Other.lnk", "\\User Pinned\\TaskBar\\Other.lnk", "\\User Pinned\\StartMenu\\Other.lnk"})
            links.push_back(QuickLaunchOf(profile) + link);
    }
    return links;
}

std::vector<std::string> ShortcutsInto(const std::string& folder) {
    std::vector<std::string> found;
    CoInitialize(nullptr);
    FindShortcutsInto("C:", folder, found);
    CoUninitialize();
    return found;
}

std::string ShortcutTarget(const std::string& path) {
    if (path.find("Other") != std::string::npos) return "C:\\Apps\\Other\\other.exe";
    if (path.find("KIVO2") != std::string::npos) return "C:\\Apps\\KIVO2\\k2.exe";
    if (path.find("data") != std::string::npos) return "C:\\Apps\\KIVO\\Data";
    if (path.find("Manual") != std::string::npos) return "C:\\Apps\\KIVO\\DOC\\manual.txt";
    return "C:\\Apps\\KIVO\\KIVO\\KIVO.EXE";
}

void LayOutInstallation() {
    std::string install = INSTALL_FOLDER;
    std::string program;
    bench::ReadFileBytes(bench::ProgramPath(), program);
    for (const std::string& file : ProgramFiles()) {
        Write(install + "\\" + file, file == "uninstKIVO.exe" ? program : "program file " + file);
    }
    for (const DataFile& file : DataFiles()) {
        Write(install + "\\" + file.path, file.bytes);
        Write(std::string(EXPECTED_FOLDER) + "\\" + file.path, file.bytes);
    }
    bench::MakeFolders(install + "\\Data\\empty folder");
    Write("C:\\Apps\\Other\\other.exe", "other program");
    Write("C:\\Apps\\KIVO2\\k2.exe", "a neighbour whose name begins like ours");

    bench::RegSetString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "InstallLocation", install);
    bench::RegSetString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName", "KIVO");
    bench::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other",
                        "DisplayName", "Other");
    bench::RegSetDword(HKEY_CURRENT_USER, "Software\\TMW\\KIVO\\Windows", "Left", 10);
    bench::RegSetString(HKEY_CURRENT_USER, "Software\\TMW\\Common", "Owner", "TMW");
    bench::RegSetString(HKEY_CURRENT_USER, "Software\\Other Vendor", "Kept", "yes");

    bench::RegSetString(HKEY_CLASSES_ROOT, ".KVO", nullptr, "KIVO.Document");
    bench::RegSetString(HKEY_CLASSES_ROOT, "KIVO.Document\\shell\\open\\command", nullptr,
                        "\"C:\\Apps\\KIVO\\KIVO\\KIVO.EXE\" \"%1\"");
    bench::RegSetString(HKEY_CLASSES_ROOT, ".GKV", nullptr, "KIVO.Graph");
    bench::RegSetString(HKEY_CLASSES_ROOT, "KIVO.Graph\\DefaultIcon", nullptr,
                        "C:\\Apps\\KIVO\\KIVO\\KIVO.EXE,1");
    bench::RegSetString(HKEY_CLASSES_ROOT, ".kvx", nullptr, "Other.Document");
    bench::RegSetString(HKEY_CLASSES_ROOT, "Other.Document\\shell\\open\\command", nullptr,
                        "other.exe \"%1\"");

    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const char* key = root == HKEY_CURRENT_USER ? "Environment" : MACHINE_ENVIRONMENT;
        bench::RegSetString(root, key, "KIVO", install);
        bench::RegSetString(root, key, "REVERIRA", "%KIVO%\\Data", REG_EXPAND_SZ);
        bench::RegSetString(root, key, "KIVO_OTHER", "kept");
    }

    RegisterProfiles();
    CoInitialize(nullptr);
    for (const std::string& link : ProductShortcuts())
        MakeShortcut(link, ShortcutTarget(link));
    for (const std::string& link : ForeignShortcuts())
        MakeShortcut(link, ShortcutTarget(link));
    CoUninitialize();
}

void WriteAutoexec() {
    bench::WriteFileBytes("C:\\autoexec.bat", "@ECHO OFF\r\nset KIVO=C:\\Apps\\KIVO\r\nPATH C:\\DOS\r\n"
                                              "set REVERIRA=C:\\Apps\\KIVO\\Data\r\nset TEMP=C:\\TEMP\r\n");
}

std::string AutoexecAfter() {
    return "@ECHO OFF\r\nPATH C:\\DOS\r\nset TEMP=C:\\TEMP\r\n";
}

std::vector<std::string> ArchivesAtRoot(char drive) {
    std::vector<std::string> names;
    std::string pattern = std::string(1, drive) + ":\\savKIVO[*";
    WIN32_FIND_DATAA item;
    HANDLE search = FindFirstFileA(pattern.c_str(), &item);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(std::string(1, drive) + ":\\" + item.cFileName);
    } while (FindNextFileA(search, &item));
    FindClose(search);
    return names;
}

void RemoveArchives() {
    for (const std::string& name : ArchivesAtRoot('C'))
        bench::RemoveTree(name);
}

void FreshInstallation() {
    RemoveArchives();
    bench::RemoveTree(INSTALL_FOLDER);
    LayOutInstallation();
}

std::string PrivateCopyFolder() {
    WIN32_FIND_DATAA item;
    HANDLE search = FindFirstFileA((bench::TempFolder() + "\\uninstKIVO-*").c_str(), &item);
    if (search == INVALID_HANDLE_VALUE) return "";
    FindClose(search);
    return bench::TempFolder() + "\\" + item.cFileName;
}

// The console belongs to the uninstaller; a process of our own attaches to it
// and writes its window handle, then each row as two lines: the characters
// and their attributes in hex.
int ConsoleSnapshotMain(DWORD pid, const char* reportPath) {
    FreeConsole();
    if (!AttachConsole(pid)) return 2;
    HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(output, &info)) return 3;
    std::string report = std::to_string(reinterpret_cast<uintptr_t>(GetConsoleWindow())) + "\n";
    for (SHORT row = 0; row < info.dwSize.Y; ++row) {
        std::string text(info.dwSize.X, ' ');
        std::vector<WORD> attributes(info.dwSize.X);
        DWORD read = 0;
        COORD at = {0, row};
        ReadConsoleOutputCharacterA(output, &text[0], info.dwSize.X, at, &read);
        ReadConsoleOutputAttribute(output, attributes.data(), info.dwSize.X, at, &read);
        report += text + "\n";
        for (WORD attribute : attributes) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", attribute & 0xFF);
            report += hex;
        }
        report += "\n";
    }
    CloseHandle(output);
    return bench::WriteFileBytes(reportPath, report) ? 0 : 4;
}

DWORD ProcessIdOf(const char* imageName, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        DWORD found = 0;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            if (lstrcmpiA(entry.szExeFile, imageName) == 0) found = entry.th32ProcessID;
        }
        CloseHandle(snapshot);
        if (found != 0) return found;
        Sleep(50);
    }
    return 0;
}

bool ReadConsoleOf(DWORD pid, std::vector<ConsoleLine>& lines, HWND* window) {
    lines.clear();
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string report = "C:\\console-snapshot.txt";
    DeleteFileA(report.c_str());
    bench::Process child = bench::Start("\"" + std::string(self) + "\" --console-snapshot " +
                                        std::to_string(pid) + " " + report);
    long code = bench::WaitExit(child, 20000);
    bench::Close(child);
    std::string bytes;
    if (code != 0 || !bench::ReadFileBytes(report, bytes)) return false;
    size_t at = bytes.find('\n');
    if (at == std::string::npos) return false;
    if (window != nullptr) *window = reinterpret_cast<HWND>(std::stoull(bytes.substr(0, at)));
    ++at;
    while (at < bytes.size()) {
        size_t textEnd = bytes.find('\n', at);
        size_t hexEnd = bytes.find('\n', textEnd + 1);
        if (textEnd == std::string::npos || hexEnd == std::string::npos) break;
        ConsoleLine line;
        line.text = bytes.substr(at, textEnd - at);
        for (size_t h = textEnd + 1; h + 1 < hexEnd; h += 2) {
            line.attributes.push_back(static_cast<WORD>(std::stoul(bytes.substr(h, 2), nullptr, 16)));
        }
        lines.push_back(line);
        at = hexEnd + 1;
    }
    return !lines.empty();
}

std::string SecondStageCommand(const std::string& argument) {
    std::string program;
    bench::ReadFileBytes(bench::ProgramPath(), program);
    bench::MakeFolders("C:\\run");
    bench::WriteFileBytes("C:\\run\\uninstKIVO.exe", program);
    return "C:\\run\\uninstKIVO.exe " + argument;
}

} // namespace e2e
