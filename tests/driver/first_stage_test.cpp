// The first stage end to end: the real program is started as Explorer would
// start it, its boxes are read and answered, its exit codes checked. Texts are
// expected in the language of this run (KIVO_LANG).
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/delete_command.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstddef>
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

// The start of the process structures, laid out as Windows lays them out
// for the pointer size of this build (the child is built alike).
struct RemoteText {
    USHORT length;
    USHORT capacity;
    const wchar_t* buffer;
};
struct ProcessParameters {
    ULONG capacity, length, flags, debugFlags;
    HANDLE console;
    ULONG consoleFlags;
    HANDLE standardInput, standardOutput, standardError;
    RemoteText currentFolder;
    HANDLE currentFolderHandle;
    RemoteText dllPath;
    RemoteText imagePath;
    RemoteText commandLine;
};
struct ProcessBlock {
    BYTE flags[4];
    HANDLE mutant;
    void* imageBase;
    void* loaderData;
    const ProcessParameters* parameters;
};
struct BasicInformation {
    LONG exitStatus;
    const ProcessBlock* block;
    ULONG_PTR rest[4];
};
static_assert(offsetof(ProcessParameters, currentFolder) == (sizeof(void*) == 8 ? 0x38 : 0x24), "layout");
static_assert(offsetof(ProcessParameters, commandLine) == (sizeof(void*) == 8 ? 0x70 : 0x40), "layout");
static_assert(offsetof(ProcessBlock, parameters) == (sizeof(void*) == 8 ? 0x20 : 0x10), "layout");

std::string ReadRemoteText(HANDLE process, const RemoteText* where) {
    RemoteText text = {};
    if (!ReadProcessMemory(process, where, &text, sizeof text, nullptr)) return "(unreadable)";
    std::wstring wide(text.length / 2, L'\0');
    if (!ReadProcessMemory(process, text.buffer, &wide[0], text.length, nullptr)) return "(unreadable)";
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
    BasicInformation basic = {};
    const ProcessParameters* parameters = nullptr;
    if (query != nullptr && query(process, 0, &basic, sizeof basic, nullptr) == 0 &&
        ReadProcessMemory(process, &basic.block->parameters, &parameters, sizeof parameters, nullptr)) {
        texts.currentFolder = ReadRemoteText(process, &parameters->currentFolder);
        texts.commandLine = ReadRemoteText(process, &parameters->commandLine);
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
        bench::SetEnv("KIVO_UNATTENDED", nullptr);
        bench::SetEnv("TEMP", savedTemp.c_str());
        bench::RemoveTree("C:\\logs");
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

    // Runs the command line to its end, during which no window may appear.
    static long RunQuietly(const std::string& commandLine, const std::string& currentFolder = "") {
        bench::Process process = bench::Start(commandLine, currentFolder);
        std::vector<std::string> seen;
        long code = bench::WaitExitWatchingWindows(process, seen, 30000);
        bench::Close(process);
        EXPECT_TRUE(seen.empty()) << commandLine << " showed " << seen.size() << " windows, first "
                                  << (seen.empty() ? "" : seen[0]);
        return code;
    }

    // The log holds each text: ANSI here, UTF-8 there.
    static void ExpectLogHolds(const std::string& path, const std::vector<std::string>& texts) {
        std::string log;
        EXPECT_TRUE(bench::ReadFileBytes(path, log)) << path;
        for (const std::string& text : texts)
            EXPECT_NE(log.find(bench::Utf8(text)), std::string::npos) << text << " is not in:\n" << log;
    }
    // A box's text as one log line: its line breaks become blanks.
    static std::string Flat(std::string text) {
        for (char& c : text)
            if (c == '\r') c = ' ';
        return text;
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
    // Without KIVO.EXE, the mark of a stopped uninstall names the folder only
    // with the identity of the folder marked (the stop test shows one), and
    // only a folder that passes the same checks: a name alone, as a planted
    // mark or a folder put in the marked one's place would have, is refused.
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallInProgress", installRoot);
    EXPECT_EQ(Answer(Quoted(beside), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallInProgressFolder",
                        "00000000-0000000000000000");
    EXPECT_EQ(Answer(Quoted(beside), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallInProgress", "C:\\windows");
    EXPECT_EQ(Answer(Quoted(beside), "uninstKIVO.exe", Text(MSG_NOT_INSTALLED), IDOK), 1);
    bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);
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

// A copy started by hand on a folder without the product's program gets the
// first stage's refusal, and nothing in that folder is touched.
TEST_F(FirstStage, CopyStartedByHandOnAFolderWithoutTheProgramIsNotInstalled) {
    ASSERT_TRUE(bench::MakeFolders("C:\\Apps\\Other\\DOC"));
    for (const char* name : {"A.EXE", "B.LOG", "DOC\\x.txt", "data.txt"})
        ASSERT_TRUE(bench::WriteFileBytes(std::string("C:\\Apps\\Other\\") + name, "victim"));
    EXPECT_EQ(Answer(Program() + " " + Quoted("//tmw// C:\\Apps\\Other"), "uninstKIVO",
                     Text(MSG_NOT_INSTALLED), IDOK),
              1);
    for (const char* name : {"A.EXE", "B.LOG", "DOC\\x.txt", "data.txt"})
        EXPECT_TRUE(bench::Exists(std::string("C:\\Apps\\Other\\") + name)) << name;
}

// Yes copies the program into a new private folder in TEMP and starts the
// copy there with the exact relaunch argument. The test holds the main
// application's mutex, so the copy stops at its AppRunning box and can be
// examined. The program is read-only, and TEMP already holds a file of its
// name: neither is the copy's concern.
TEST_F(FirstStage, YesStartsTheCopyInAPrivateFolderWithTheRelaunchArgument) {
    bench::SetEnv("KIVO_UNATTENDED", "10|"); // inherited, it must not make the copy quiet
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

// With switches the exit code tells what happened, quiet runs show nothing,
// and the log says why.
TEST_F(FirstStage, QuietRefusalsShowNothingAndEndWithTheirCodes) {
    ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
    EXPECT_EQ(RunQuietly(Program() + " /S /log=C:\\logs\\none.txt"), 1);
    ExpectLogHolds("C:\\logs\\none.txt",
                   {"first uninstKIVO started with: /S /log=C:\\logs\\none.txt",
                    "first no installation folder", "first message, not shown: " + Text(MSG_NOT_INSTALLED),
                    "first exit code 1 (not installed)"});
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    bench::SetEnv("TEMP", nullptr);
    EXPECT_EQ(RunQuietly(Program() + " /quiet"), 2);
    bench::SetEnv("TEMP", "Q:\\nowhere");
    EXPECT_EQ(RunQuietly(Program() + " /s /norestart"), 3);
    bench::SetEnv("TEMP", savedTemp.c_str());

    // The copy refuses. The program started from the installation folder
    // waited outside it and is back in it, as nothing was uninstalled.
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_");
    std::string inside = std::string(installRoot) + "\\uninstKIVO.exe";
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), inside.c_str(), FALSE));
    EXPECT_EQ(RunQuietly(Quoted(inside) + " /S /LOG=C:\\logs\\app.txt"), 6);
    CloseHandle(application);
    ExpectLogHolds(
        "C:\\logs\\app.txt",
        {"first this program's file moved to ", "copy  message, not shown: " + Flat(Text(MSG_APP_RUNNING)),
         "copy  exit code 6 (DAZIV.EXE is running)", "first the copy ended with exit code 6",
         "first this program's file is back in " + inside, "first exit code 6 (DAZIV.EXE is running)"});
    EXPECT_TRUE(bench::Exists(inside));
    EXPECT_TRUE(bench::Exists(std::string(installRoot) + "\\KIVO\\KIVO.EXE"));

    // Another instance runs: this one ends at once and leaves the log alone.
    HANDLE instance = CreateMutexA(nullptr, TRUE, "_uninstKIVO___Instance_");
    EXPECT_EQ(RunQuietly(Program() + " /S"), 1618);
    EXPECT_EQ(RunQuietly(Program() + " /log=C:\\logs\\app.txt"), 1618);
    CloseHandle(instance);
    ExpectLogHolds("C:\\logs\\app.txt", {"first exit code 6 (DAZIV.EXE is running)\r\n"});
}

TEST_F(FirstStage, MalformedSwitchesAreMisuseQuietlyWhenAskedTo) {
    for (const char* switches : {"/x /quiet", "/log /S", "/S stray"})
        EXPECT_EQ(RunQuietly(Program() + " " + switches), 4) << switches;
    // The watch sees the Misuse box of a run without /S.
    bench::Process process = bench::Start(Program() + " /x");
    std::vector<std::string> seen;
    EXPECT_EQ(bench::WaitExitWatchingWindows(process, seen, 5000), -999);
    EXPECT_FALSE(seen.empty());
    bench::Box box = bench::WaitBox("uninstKIVO", 20000, process.id);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Text(MSG_MISUSE));
    bench::Press(box, IDOK);
    EXPECT_EQ(bench::WaitExit(process, 20000), 4);
    bench::Close(process);
    EXPECT_EQ(Answer(Program() + " /NoRestart /norestart", "uninstKIVO", Text(MSG_MISUSE), IDOK), 4);
}

// Without /S the user is still asked; a No is 1602.
TEST_F(FirstStage, SwitchesWithoutQuietStillAsk) {
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
    EXPECT_EQ(
        Answer(Program() + " /log=C:\\logs\\kivo.txt", Text(MSG_TITLE), Confirmation(installRoot), IDNO),
        1602);
    ExpectLogHolds("C:\\logs\\kivo.txt", {"first declined at the confirmation", "first exit code 1602"});
    EXPECT_EQ(Answer(Program() + " /norestart", Text(MSG_TITLE), Confirmation(installRoot), IDNO), 1602);
    EXPECT_FALSE(bench::Exists(bench::TempFolder() + "\\uninstKIVO.exe"));
}

// The log is never written through a link anywhere on its path, into
// anything but a regular file or inside the installation, by any spelling
// (C:\LogLink is a Linux-side link to it, C:\LogHop\mid one to C:\Elsewhere);
// such a run ends with 8 before anything is done, and creates nothing. An
// existing log keeps what it held; a relative path is taken from the current
// folder.
TEST_F(FirstStage, TheLogIsARegularFileOfItsOwnOutsideTheInstallation) {
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_"); // a run that goes on stops there
    ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
    ASSERT_TRUE(bench::IsFolder("C:\\LogLink\\KIVO")) << "the link is made by the pre-run";
    ASSERT_TRUE(bench::WriteFileBytes("C:\\logs\\target.txt", "kept"));
    ASSERT_TRUE(CreateHardLinkA("C:\\logs\\hard.txt", "C:\\logs\\target.txt", nullptr));
    std::vector<std::string> refused = {"C:\\logs",
                                        "C:\\missing\\kivo.txt",
                                        "NUL",
                                        "C:\\logs\\k.txt:stream",
                                        "C:\\logs\\hard.txt",
                                        "C:\\Apps\\KIVO\\uninstall.log",
                                        "C:\\LogLink\\uninstall.log",
                                        "C:\\LogHop\\mid\\kivo.txt"};
    using SymbolicLink = BOOLEAN(WINAPI*)(const char*, const char*, DWORD);
    SymbolicLink makeLink = reinterpret_cast<SymbolicLink>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    // Wine 8 only pretends to make symbolic links.
    if (makeLink != nullptr && makeLink("C:\\logs\\link.txt", "C:\\logs\\target.txt", 0) &&
        GetFileAttributesA("C:\\logs\\link.txt") != INVALID_FILE_ATTRIBUTES &&
        (GetFileAttributesA("C:\\logs\\link.txt") & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        refused.push_back("C:\\logs\\link.txt");
    for (const std::string& path : refused)
        EXPECT_EQ(RunQuietly(Program() + " /S /log=" + path), 8) << path;
    std::string bytes;
    EXPECT_TRUE(bench::ReadFileBytes("C:\\logs\\target.txt", bytes) && bytes == "kept");
    EXPECT_FALSE(bench::Exists(bench::TempFolder() + "\\uninstKIVO.exe")) << "something was done";
    EXPECT_FALSE(bench::Exists("C:\\Apps\\KIVO\\uninstall.log"));
    EXPECT_FALSE(bench::Exists("C:\\Elsewhere\\kivo.txt"));
    // The installation by the short name of its folder, which no comparison
    // of texts sees.
    const std::string longRoot = "C:\\Apps\\KIVO Installed For Everyone";
    ASSERT_TRUE(bench::MakeFolders(longRoot + "\\KIVO") &&
                bench::WriteFileBytes(longRoot + "\\KIVO\\KIVO.EXE", "MZ"));
    const std::string shortRoot = ShortPath(longRoot);
    ASSERT_FALSE(shortRoot.empty() || SameText(shortRoot, longRoot)) << shortRoot;
    bench::SetEnv("KIVO", (longRoot + "\\KIVO").c_str());
    EXPECT_EQ(RunQuietly(Program() + " /S /log=" + shortRoot + "\\uninstall.log"), 8) << shortRoot;
    EXPECT_FALSE(bench::Exists(longRoot + "\\uninstall.log"));
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    // The log is refused once the program knows its own file, which names the box.
    EXPECT_EQ(Answer(Program() + " /log=C:\\logs", "uninstKIVO.exe", Text(MSG_MISUSE), IDOK), 8);

    ASSERT_TRUE(bench::WriteFileBytes("C:\\logs\\kivo.txt", "an earlier run\r\n"));
    EXPECT_EQ(RunQuietly(Program() + " /S /log kivo.txt", "C:\\logs"), 6);
    ExpectLogHolds(
        "C:\\logs\\kivo.txt",
        {"an earlier run\r\n20", "first uninstKIVO started with: /S /log kivo.txt", "first exit code 6"});
    CloseHandle(application);
}

// The copy writes the log that the first stage opened, passed on as a handle:
// a file put under the log's name since (here while the first stage asks,
// its folder renamed away) gets nothing of the copy's.
TEST_F(FirstStage, TheCopyWritesTheLogTheFirstStageOpened) {
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_"); // the copy stops there
    bench::RemoveTree("C:\\logs");
    bench::RemoveTree("C:\\logs.moved");
    ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
    bench::Process first = bench::Start(Program() + " /log=C:\\logs\\passed.txt");
    bench::Box confirm = bench::WaitBox(Text(MSG_TITLE), 20000, first.id);
    ASSERT_TRUE(confirm.found());
    // Windows refuses to rename a folder with an open file; Wine does not.
    const bool renamed = MoveFileA("C:\\logs", "C:\\logs.moved") != 0;
    const std::string log = renamed ? "C:\\logs.moved\\passed.txt" : "C:\\logs\\passed.txt";
    EXPECT_TRUE(renamed || !bench::UnderWine()) << "the swap was not made";
    if (renamed) {
        ASSERT_TRUE(bench::MakeFolders("C:\\logs") && bench::WriteFileBytes("C:\\logs\\passed.txt", "decoy"));
    }
    EXPECT_TRUE(bench::Press(confirm, IDYES));
    EXPECT_TRUE(bench::WaitBoxGone(confirm)); // the copy's box has the same caption
    bench::Box running = bench::WaitBox(Text(MSG_TITLE), 20000);
    ASSERT_TRUE(running.found());
    EXPECT_EQ(running.text, Text(MSG_APP_RUNNING));
    EXPECT_TRUE(bench::Press(running, IDOK));
    EXPECT_EQ(bench::WaitExit(first, 30000), 6);
    bench::Close(first);
    CloseHandle(application);
    ExpectLogHolds(log, {"first uninstKIVO started with", "copy  exit code 6", "first exit code 6"});
    std::string decoy;
    if (renamed) {
        EXPECT_TRUE(bench::ReadFileBytes("C:\\logs\\passed.txt", decoy) && decoy == "decoy") << decoy;
    }
    bench::RemoveTree("C:\\logs.moved");
}

// The copy takes its switches from the variable only in their exact form.
TEST_F(FirstStage, TheCopyTakesItsSwitchesOnlyInTheirExactForm) {
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_");
    std::string copy = Program() + " \"//tmw// C:\\Apps\\KIVO\"";
    bench::SetEnv("KIVO_UNATTENDED", "10|");
    EXPECT_EQ(RunQuietly(copy), 6);
    HANDLE instance = CreateMutexA(nullptr, TRUE, "_uninstKIVO___Instance_");
    EXPECT_EQ(RunQuietly(copy), 1618);
    CloseHandle(instance);
    for (const char* value : {"1", "10|relative.txt", "x0|"}) {
        bench::SetEnv("KIVO_UNATTENDED", value);
        EXPECT_EQ(Answer(copy, "uninstKIVO", Text(MSG_MISUSE), IDOK), 4) << value;
    }
    // The copy adds to the first stage's log and never creates one.
    bench::SetEnv("KIVO_UNATTENDED", "10|C:\\missing\\kivo.txt");
    EXPECT_EQ(RunQuietly(copy), 8);
    CloseHandle(application);
}
