// The first stage end to end: the real program is started as Explorer would
// start it, its boxes are read and answered, its exit codes checked. Texts are
// expected in the language of this run (KIVO_LANG).
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/delete_command.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";
const char* const installRoot = "C:\\Apps\\KIVO";

int RunLanguage() {
    char locale[64] = "";
    GetEnvironmentVariableA("KIVO_LANG", locale, sizeof locale);
    std::string name = locale;
    return name.rfind("fr", 0) == 0 ? 1 : name.rfind("es", 0) == 0 ? 3 : 2;
}

std::string Text(MessageName name) {
    return CatalogueText(name, RunLanguage());
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// What a process was started with, read from its process parameters.
struct StartTexts {
    std::string commandLine;
    std::string currentFolder;
};

std::string ReadRemoteText(HANDLE process, const char* parameters, int offset) {
    struct {
        USHORT length;
        USHORT capacity;
        DWORD buffer;
    } text = {};
    if (!ReadProcessMemory(process, parameters + offset, &text, sizeof text, nullptr)) return "(unreadable)";
    std::wstring wide(text.length / 2, L'\0');
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<ULONG_PTR>(text.buffer)),
                           &wide[0], text.length, nullptr))
        return "(unreadable)";
    char narrow[4096] = "";
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), narrow, sizeof narrow - 1,
                        nullptr, nullptr);
    return narrow;
}

StartTexts ReadStartTexts(DWORD processId) {
    StartTexts texts;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return texts;
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    struct {
        LONG exitStatus;
        const char* peb;
        ULONG_PTR rest[4];
    } basic = {};
    const char* parameters = nullptr;
    if (query != nullptr && query(process, 0, &basic, sizeof basic, nullptr) == 0 &&
        ReadProcessMemory(process, basic.peb + 0x10, &parameters, sizeof parameters, nullptr)) {
        texts.currentFolder = ReadRemoteText(process, parameters, 0x24);
        texts.commandLine = ReadRemoteText(process, parameters, 0x40);
    }
    CloseHandle(process);
    return texts;
}

bool SameText(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string ShortPath(const std::string& path) {
    char folder[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), folder, sizeof folder);
    return folder;
}

// The folder's access entries in the system's text form, such as
// "D:P(A;OICI;FA;;;SY)...".
std::string AccessEntries(const std::string& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL entries = nullptr;
    std::string text = "(unreadable)";
    char* converted = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &entries, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &converted, nullptr))
        text = converted;
    LocalFree(converted);
    LocalFree(descriptor);
    return text;
}

class FirstStage : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = "";
        GetEnvironmentVariableA("TEMP", temp, sizeof temp);
        savedTemp = temp;
        ASSERT_TRUE(bench::MakeFolders(std::string(installRoot) + "\\KIVO"));
        ASSERT_TRUE(bench::MakeFolders(std::string(installRoot) + "\\DOC"));
        ASSERT_TRUE(bench::MakeFolders(std::string(installRoot) + "\\ZAVURE"));
        ASSERT_TRUE(bench::WriteFileBytes(std::string(installRoot) + "\\KIVO\\KIVO.EXE", "MZ"));
    }
    void TearDown() override {
        bench::KillAll("uninstKIVO.exe");
        bench::KillAll("unins KIVO.exe");
        bench::SetEnv("KIVO", nullptr);
        bench::SetEnv("TEMP", savedTemp.c_str());
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);
        bench::RemoveTree("C:\\Apps");
        DeleteFileA("C:\\KIVO\\KIVO.EXE"); // C:\KIVO is also C:\kivo, the bench's own folder
        DeleteFileA("C:\\uninstKIVO.exe");
        DeleteFileA((bench::TempFolder() + "\\uninstKIVO.exe").c_str());
    }

    // Starts the command line, expects one box with this caption and text,
    // presses the button and returns the exit code.
    static long Answer(const std::string& commandLine, const std::string& caption, const std::string& text,
                       int button, const std::string& currentFolder = "") {
        bench::Process process = bench::Start(commandLine, currentFolder);
        EXPECT_NE(process.handle, nullptr) << commandLine;
        if (process.handle == nullptr) return -1000;
        bench::Box box = bench::WaitBox(caption, 20000, process.id);
        EXPECT_TRUE(box.found()) << "no box \"" << caption << "\" for " << commandLine;
        if (box.found()) {
            EXPECT_EQ(box.text, text) << commandLine;
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_TRUE(bench::Press(box, button));
        }
        long code = bench::WaitExit(process, 20000);
        bench::Close(process);
        return code;
    }

    static std::string Program() { return Quoted(bench::ProgramPath()); }
    static std::string Confirmation(const std::string& folder) { return folder + "\r\r" + Text(MSG_CONFIRM); }

    std::string savedTemp;
};

} // namespace

TEST_F(FirstStage, NothingInstalledIsReportedWithExitOne) {
    EXPECT_EQ(Answer(Program(), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
    // Any argument text shorter than 12 characters also starts the first stage.
    EXPECT_EQ(Answer(Program() + " \"//tmw// C:", "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
}

TEST_F(FirstStage, KivoVariableNamesTheProgramFolderAndNoEndsQuietly) {
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Elsewhere");
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    bench::Process process = bench::Start(Program());
    bench::Box box = bench::WaitBox(Text(MSG_TITLE), 20000, process.id);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Confirmation(installRoot));
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(bench::DefaultButton(box), IDNO);
    bench::Press(box, IDNO);
    EXPECT_EQ(bench::WaitExit(process, 20000), 0);
    bench::Close(process);
    EXPECT_FALSE(bench::Exists(bench::TempFolder() + "\\uninstKIVO.exe"));
    // A folder written with "." and ".." is shown and handed on made full.
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\DOC\\.\\..\\KIVO");
    EXPECT_EQ(Answer(Program(), Text(MSG_TITLE), Confirmation(installRoot), IDNO), 0);
}

TEST_F(FirstStage, UninstallKeyOrTheProgramsOwnFolderFindTheInstallation) {
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", installRoot);
    EXPECT_EQ(Answer(Program(), Text(MSG_TITLE), Confirmation(installRoot), IDNO), 0);
    bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);

    std::string beside = std::string(installRoot) + "\\uninstKIVO.exe";
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), beside.c_str(), FALSE));
    EXPECT_EQ(Answer(Quoted(beside), Text(MSG_TITLE), Confirmation(installRoot), IDNO), 0);
    DeleteFileA((std::string(installRoot) + "\\KIVO\\KIVO.EXE").c_str());
    EXPECT_EQ(Answer(Quoted(beside), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
}

TEST_F(FirstStage, WholeDrivesAndSystemFoldersAreNeverTakenForTheInstallation) {
    ASSERT_TRUE(bench::WriteFileBytes("C:\\KIVO\\KIVO.EXE", "MZ"));
    for (const char* program : {"C:\\KIVO", "C:\\KIVO\\", "C:\\Apps\\KIVO\\..\\..\\KIVO"}) {
        bench::SetEnv("KIVO", program); // its folder above is the bare drive C:
        EXPECT_EQ(Answer(Program(), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1) << program;
    }
    // The Program Files folder, by its short name (the rest: driver_win32_test).
    const std::string programFiles = ShortPath("C:\\Program Files");
    ASSERT_TRUE(bench::MakeFolders(programFiles + "\\KIVO") &&
                bench::WriteFileBytes(programFiles + "\\KIVO\\KIVO.EXE", "MZ"));
    bench::SetEnv("KIVO", (programFiles + "\\KIVO").c_str());
    EXPECT_EQ(Answer(Program(), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1) << programFiles;
    bench::RemoveTree(programFiles + "\\KIVO");
    bench::SetEnv("KIVO", nullptr);
    // The program in the drive's root, beside C:\KIVO\KIVO.EXE.
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), "C:\\uninstKIVO.exe", FALSE));
    EXPECT_EQ(Answer("C:\\uninstKIVO.exe", "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
}

// "C:Apps\KIVO" is found from this stage's current folder, but the copy runs
// in TEMP, where the same text names another folder.
TEST_F(FirstStage, FolderBelowADrivesCurrentFolderIsRefused) {
    bench::SetEnv("KIVO", "C:Apps\\KIVO\\KIVO");
    EXPECT_EQ(Answer(Program(), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK, "C:\\"), 1);
}

// The program's own file is the module's, whatever the command line's first
// word names: here a program of that name in the current folder.
TEST_F(FirstStage, OwnFileIsTheModuleNotTheCommandLinesFirstWord) {
    const std::string program = std::string(installRoot) + "\\uninstKIVO.exe";
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(bench::MakeFolders("C:\\Apps\\Work"));
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), "C:\\Apps\\Work\\decoy.exe", FALSE));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    char commandLine[] = "decoy";
    ASSERT_TRUE(CreateProcessA(program.c_str(), commandLine, nullptr, nullptr, FALSE, DETACHED_PROCESS,
                               nullptr, "C:\\Apps\\Work", &startup, &started));
    CloseHandle(started.hThread);
    bench::Process process = {started.hProcess, started.dwProcessId};
    bench::Box box = bench::WaitBox("", 20000, process.id);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.caption, Text(MSG_TITLE));
    EXPECT_EQ(box.text, Confirmation(installRoot));
    bench::Press(box, IDNO);
    EXPECT_EQ(bench::WaitExit(process, 20000), 0);
    bench::Close(process);
}

TEST_F(FirstStage, TextsTooLongForTheirBuffersAreRefused) {
    std::string deep = "C:\\" + std::string(230, 'a'); // fits a path, not the question about it
    ASSERT_TRUE(bench::MakeFolders(deep + "\\KIVO"));
    ASSERT_TRUE(bench::WriteFileBytes(deep + "\\KIVO\\KIVO.EXE", "MZ"));
    bench::SetEnv("KIVO", (deep + "\\KIVO").c_str());
    EXPECT_EQ(Answer(Program(), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
    bench::RemoveTree(deep);
    bench::SetEnv("KIVO", ("C:\\Apps\\KIVO\\KIVO\\" + std::string(250, '.')).c_str());
    EXPECT_EQ(Answer(Program(), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
}

TEST_F(FirstStage, MissingTempAndFailedCopyAreReported) {
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    bench::SetEnv("TEMP", nullptr);
    bench::Process process = bench::Start(Program());
    bench::Box box = bench::WaitBox(Text(MSG_TITLE), 20000, process.id);
    ASSERT_TRUE(box.found());
    bench::Press(box, IDYES);
    box = bench::WaitBox("uninstKIVO.exe", 20000, process.id);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Text(MSG_TEMP_UNDEFINED));
    bench::Press(box, IDOK);
    EXPECT_EQ(bench::WaitExit(process, 20000), 2);
    bench::Close(process);

    bench::SetEnv("TEMP", "Q:\\nowhere");
    process = bench::Start(Program());
    box = bench::WaitBox(Text(MSG_TITLE), 20000, process.id);
    ASSERT_TRUE(box.found());
    bench::Press(box, IDYES);
    box = bench::WaitBox("uninstKIVO.exe", 20000, process.id);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Text(MSG_LAUNCH_ERROR));
    bench::Press(box, IDOK);
    EXPECT_EQ(bench::WaitExit(process, 20000), 3);
    bench::Close(process);
}

TEST_F(FirstStage, ASecondInstanceEndsSilently) {
    HANDLE taken = CreateMutexA(nullptr, TRUE, "_uninstKIVO___Instance_");
    bench::Process process = bench::Start(Program());
    EXPECT_EQ(bench::WaitExit(process, 15000), 0); // a box would have kept it waiting
    bench::Close(process);
    process = bench::Start(Program() + " \"//tmw// C:\\Apps\\KIVO\"");
    EXPECT_EQ(bench::WaitExit(process, 15000), 0);
    bench::Close(process);
    CloseHandle(taken);
}

TEST_F(FirstStage, MalformedRelaunchArgumentsAreMisuse) {
    const std::string misuse = Text(MSG_MISUSE);
    for (const std::string& argument :
         {std::string("\"//tmw// C:\\Apps\\KIVO"), std::string("//tmw// C:\\Apps\\KIVO\""),
          std::string("\"//TMW// C:\\Apps\\KIVO\""), std::string("\"//tmw// \\\\server\\share\""),
          std::string("\"//tmw// C:\""), std::string("\"//tmw// C:\\\""),
          std::string("\"//tmw// C:\\KIVO\\..\""), std::string("\"//tmw// C:Apps\\KIVO\""),
          Quoted("//tmw// C:\\windows\\system32"), Quoted("//tmw// C:\\Apps\\Missing"),
          Quoted("//tmw// C:\\" + std::string(257, 'a')), Quoted("//tmw// C:\\" + std::string(400, 'a'))})
        EXPECT_EQ(Answer(Program() + " " + argument, "uninstKIVO", misuse, IDOK), 4) << argument;
}

// Yes copies the program into a new private folder in TEMP and starts the
// copy there with the exact relaunch argument. The test holds the main
// application's mutex, so the copy stops at its AppRunning box and can be
// examined. The program is read-only, and TEMP already holds a file of its
// name: neither is the copy's concern.
TEST_F(FirstStage, YesStartsTheCopyInAPrivateFolderWithTheRelaunchArgument) {
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_");
    std::string programName = "unins KIVO.exe"; // a blank in the name must not split the argument
    std::string program = std::string(installRoot) + "\\" + programName;
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), program.c_str(), FALSE));
    SetFileAttributesA(program.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string planted = bench::TempFolder() + "\\" + programName;
    ASSERT_TRUE(bench::WriteFileBytes(planted, "prepared by somebody"));

    // Started as Explorer does: the current folder is the installation folder.
    EXPECT_EQ(Answer(Quoted(program), Text(MSG_TITLE), Confirmation(installRoot), IDYES, installRoot), 0);

    bench::Box box = bench::WaitBox(Text(MSG_TITLE), 20000);
    ASSERT_TRUE(box.found()) << "the copy did not reach its second stage";
    EXPECT_EQ(box.text, Text(MSG_APP_RUNNING));
    StartTexts started = ReadStartTexts(box.processId);
    EXPECT_EQ(started.commandLine, "\"unins KIVO.exe\" \"//tmw// C:\\Apps\\KIVO\"");
    // It runs in its own folder, a new one in TEMP that only the user, SYSTEM
    // and the Administrators may use (Wine shows the rights as Unix modes:
    // no entry for everybody else).
    std::string folder = started.currentFolder.substr(0, started.currentFolder.size() - 1);
    const size_t separator = folder.rfind('\\');
    ASSERT_NE(separator, std::string::npos) << started.currentFolder;
    EXPECT_TRUE(SameText(folder.substr(0, separator), bench::TempFolder())) << folder;
    EXPECT_TRUE(IsPrivateFolderName(folder.substr(separator + 1).c_str())) << folder;
    const std::string entries = AccessEntries(folder);
    EXPECT_EQ(entries.find(";;;WD)"), std::string::npos) << entries;
    EXPECT_EQ(entries.find(";;;BU)"), std::string::npos) << entries;
    EXPECT_NE(entries.find(";;;SY)"), std::string::npos) << entries;

    std::string copy = folder + "\\" + programName;
    std::string copied, original, untouched;
    EXPECT_TRUE(bench::ReadFileBytes(copy, copied));
    EXPECT_TRUE(bench::ReadFileBytes(program, original));
    EXPECT_TRUE(copied == original) << "the copy differs from the program";
    EXPECT_EQ(GetFileAttributesA(copy.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(bench::ReadFileBytes(planted, untouched) && untouched == "prepared by somebody");

    HANDLE copyProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, box.processId);
    bench::Press(box, IDOK);
    if (copyProcess != nullptr) {
        EXPECT_EQ(WaitForSingleObject(copyProcess, 20000), WAIT_OBJECT_0);
        CloseHandle(copyProcess);
    }
    bench::KillAll(programName.c_str());
    CloseHandle(application);
    EXPECT_TRUE(bench::Exists(std::string(installRoot) + "\\KIVO\\KIVO.EXE")); // nothing was touched
    SetFileAttributesA(program.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(planted.c_str());
    bench::RemoveTree(folder);
}

TEST_F(FirstStage, AnyCharacterAfterTheMarkerIsAccepted) {
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_");
    bench::Process process = bench::Start(Program() + " \"//tmw//_C:\\Apps\\KIVO\"");
    bench::Box box = bench::WaitBox(Text(MSG_TITLE), 20000, process.id);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Text(MSG_APP_RUNNING));
    bench::Press(box, IDOK);
    EXPECT_EQ(bench::WaitExit(process, 20000), 0);
    bench::Close(process);
    CloseHandle(application);
}
