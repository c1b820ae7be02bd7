// The whole uninstaller, driven as a person would: the first stage is
// confirmed, the copy in %TEMP% does the work, and every box is answered.
// Afterwards the prefix is searched for what must be gone and what must stay.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/stages.h"
#include "e2e/sample_install.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

using e2e::INSTALL_FOLDER;

namespace {

const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";
const char* const MACHINE_ENVIRONMENT = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char* const VALID_ARGUMENT = "\"//tmw// C:\\Apps\\KIVO\"";

int Language() {
    return ChooseLanguage();
}
std::string Text(MessageName name) {
    return CatalogueText(name, Language());
}
bool Windows9x() {
    return (GetVersion() & 0x80000000u) != 0;
}

std::string Oem(const std::string& text) {
    std::string oem(text.size() + 1, '\0');
    CharToOemA(text.c_str(), &oem[0]);
    oem.resize(text.size());
    return oem;
}

std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

// The console as the person sees it after a step: each drawn label on its own
// row behind one blank, every cell black on yellow (attribute 0xE0).
// The box's owner must be that console's window.
void ExpectConsoleRows(const bench::Box& box, const std::vector<std::string>& rows) {
    std::vector<e2e::ConsoleLine> lines;
    HWND window = nullptr;
    ASSERT_TRUE(e2e::ReadConsoleOf(box.processId, lines, &window));
    EXPECT_NE(window, nullptr);
    EXPECT_EQ(box.owner, window) << "the box is not owned by the console";
    ASSERT_EQ(lines.size(), 12u);
    for (size_t row = 0; row < lines.size(); ++row) {
        std::string wanted = row < rows.size() ? rows[row] : "";
        EXPECT_EQ(TrimRight(lines[row].text), wanted) << "row " << row;
        ASSERT_EQ(lines[row].attributes.size(), 60u);
        for (size_t column = 0; column < 60; ++column) {
            if (lines[row].attributes[column] != 0xE0) {
                ADD_FAILURE() << "row " << row << " column " << column << " attribute " << std::hex
                              << lines[row].attributes[column];
                break;
            }
        }
    }
}

std::vector<std::string> LabelRows(bool withEnded) {
    std::vector<std::string> rows = {""};
    for (MessageName label : {MSG_LABEL_SHORTCUTS, MSG_LABEL_ASSOCIATIONS, MSG_LABEL_VARIABLES,
                              MSG_LABEL_REGISTRY, MSG_LABEL_FILES}) {
        rows.push_back(" " + Oem(Text(label)));
    }
    if (withEnded) {
        rows.push_back("");
        rows.push_back(" " + Oem(Text(MSG_LABEL_ENDED)));
    }
    return rows;
}

bool WaitGone(const std::string& path, DWORD timeoutMs) {
    for (DWORD waited = 0; bench::Exists(path); waited += 200) {
        if (waited >= timeoutMs) return false;
        Sleep(200);
    }
    return true;
}

// A box of the copy, checked for caption, owner (its console) and text.
bench::Box ExpectBox(const std::string& caption, const std::string& text, DWORD timeoutMs = 60000) {
    bench::Box box = bench::WaitBox(caption, timeoutMs);
    EXPECT_TRUE(box.found()) << "no box: " << text;
    if (!box.found()) return box;
    EXPECT_EQ(box.text, text);
    EXPECT_NE(box.owner, nullptr) << "the box has no owner: " << text;
    return box;
}

void Answer(const bench::Box& box, int button) {
    if (!box.found()) return;
    EXPECT_TRUE(bench::Press(box, button));
    EXPECT_TRUE(bench::WaitBoxGone(box));
}

long WaitProcess(HANDLE process, DWORD timeoutMs = 60000) {
    if (process == nullptr || WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return -999;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<long>(code);
}

void ExpectProgramFiles(bool present) {
    for (const std::string& file : e2e::ProgramFiles()) {
        EXPECT_EQ(bench::Exists(std::string(INSTALL_FOLDER) + "\\" + file), present) << file;
    }
}

void ExpectDataFilesIntact() {
    for (const e2e::DataFile& file : e2e::DataFiles()) {
        std::string bytes;
        EXPECT_TRUE(bench::ReadFileBytes(std::string(INSTALL_FOLDER) + "\\" + file.path, bytes)) << file.path;
        EXPECT_TRUE(bytes == file.bytes) << file.path;
    }
}

void ExpectNothingRemoved() {
    ExpectProgramFiles(true);
    ExpectDataFilesIntact();
    EXPECT_TRUE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CLASSES_ROOT, ".KVO"));
    EXPECT_TRUE(bench::RegValueExists(HKEY_CURRENT_USER, "Environment", "KIVO"));
    for (const std::string& link : e2e::ProductShortcuts())
        EXPECT_TRUE(bench::Exists(link)) << link;
    EXPECT_TRUE(e2e::ArchivesAtRoot('C').empty());
}

void RemoveArchives() {
    for (const std::string& name : e2e::ArchivesAtRoot('C'))
        bench::RemoveTree(name);
}

void FreshInstallation() {
    RemoveArchives();
    bench::RemoveTree(INSTALL_FOLDER);
    e2e::LayOutInstallation();
}

// The id of the one running process with that image name, or 0.
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

HANDLE OpenProcessOf(const bench::Box& box) {
    return box.found() ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, box.processId) : nullptr;
}

} // namespace

// From the first stage's confirmation through the copy's last box; run in
// English, French and Spanish, and on Windows 98.
TEST(EndToEnd, WholeUninstall) {
    FreshInstallation();
    bool win9x = Windows9x();
    if (win9x) e2e::WriteAutoexec();
    std::string title = Text(MSG_TITLE);

    bench::Process first = bench::Start("\"C:\\Apps\\KIVO\\uninstKIVO.exe\"", INSTALL_FOLDER);
    ASSERT_NE(first.handle, nullptr);
    bench::Box confirm = bench::WaitBox(title, 30000, first.id);
    ASSERT_TRUE(confirm.found());
    EXPECT_EQ(confirm.text, std::string(INSTALL_FOLDER) + "\r\r" + Text(MSG_CONFIRM));
    EXPECT_EQ(confirm.owner, nullptr);
    Answer(confirm, IDYES);
    EXPECT_EQ(bench::WaitExit(first), 0);
    bench::Close(first);

    // While the steps run, the current label blinks: white on light red, then
    // light red on yellow.
    DWORD copyId = ProcessIdOf("uninstKIVO.exe", 20000);
    EXPECT_NE(copyId, 0u);
    bool blinked = false;
    while (copyId != 0 && !bench::WaitBox(title, 0).found()) {
        std::vector<e2e::ConsoleLine> lines;
        if (!e2e::ReadConsoleOf(copyId, lines)) continue;
        for (const e2e::ConsoleLine& line : lines) {
            for (WORD attribute : line.attributes)
                blinked = blinked || attribute == 0xCF || attribute == 0xEC;
        }
    }
    EXPECT_TRUE(blinked) << "no step label was seen highlighted";

    // The result box comes once the Files step has archived and removed the folder.
    std::vector<std::string> archives;
    bench::Box result = bench::WaitBox(title, 90000);
    ASSERT_TRUE(result.found());
    HANDLE copy = OpenProcessOf(result);
    const std::string copyFolder = e2e::PrivateCopyFolder();
    const std::string tempCopy = copyFolder + "\\uninstKIVO.exe";
    EXPECT_FALSE(copyFolder.empty()) << "the copy has no private folder";
    // Held as a slow ending process would hold it: the deletion command has
    // to keep trying after the copy ended, until the file is let go.
    HANDLE held =
        CreateFileA(tempCopy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    archives = e2e::ArchivesAtRoot('C');
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(result.text, Text(MSG_FILES_ARCHIVED) + "\r" + archives[0]);
    EXPECT_NE(result.owner, nullptr);
    EXPECT_FALSE(bench::Exists(INSTALL_FOLDER));
    ExpectConsoleRows(result, LabelRows(false));
    Answer(result, IDOK);

    if (win9x) {
        bench::Box question = ExpectBox(title, Text(MSG_RESTART_QUESTION));
        EXPECT_EQ(bench::DefaultButton(question), IDYES);
        ExpectConsoleRows(question, LabelRows(true));
        // Wine accepts the restart request and ends nothing, so the copy goes on.
        Answer(question, IDYES);
    } else {
        bench::Box success = ExpectBox(title, Text(MSG_SUCCESS));
        // The environment broadcast wiped the Ended row together with WaitPlease.
        std::vector<std::string> rows = LabelRows(true);
        rows.back() = "";
        ExpectConsoleRows(success, rows);
        Answer(success, IDOK);
    }
    EXPECT_EQ(WaitProcess(copy), 0);
    if (copy != nullptr) CloseHandle(copy);
    Sleep(1500);
    EXPECT_TRUE(bench::Exists(tempCopy)) << "deleted while still held";
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_TRUE(WaitGone(copyFolder, 45000)) << "the copy or its folder stayed in %TEMP%";

    // Archive: one file named after the data folder's drive and the time.
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(archives[0].compare(0, 11, "C:\\savKIVO["), 0) << archives[0];
    EXPECT_EQ(archives[0].size(), std::strlen("C:\\savKIVO[2013-06-24](14.05.09).zip"));

    // Shortcuts. On Windows 9x the walk starts at the user's own profile and,
    // one level down, enters only folders named like the desktop or the start
    // menu, so only the user's desktop shortcut goes (program groups stay).
    std::vector<std::string> product = e2e::ProductShortcuts();
    for (const std::string& link : product) {
        EXPECT_EQ(bench::Exists(link), win9x && link != product[0]) << link;
    }
    for (const std::string& link : e2e::ForeignShortcuts())
        EXPECT_TRUE(bench::Exists(link)) << link;
    std::string group = product[5].substr(0, product[5].rfind('\\'));
    EXPECT_EQ(bench::Exists(group), win9x) << "an emptied program group";
    EXPECT_TRUE(bench::Exists(group.substr(0, group.rfind('\\')))) << "the start menu's program folder went";

    // Associations, keys and neighbours.
    for (const char* key : {".KVO", "KIVO.Document", ".GKV", "KIVO.Graph"}) {
        EXPECT_FALSE(bench::RegKeyExists(HKEY_CLASSES_ROOT, key)) << key;
    }
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CLASSES_ROOT, ".kvx"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CLASSES_ROOT, "Other.Document\\shell\\open\\command"));
    EXPECT_FALSE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_LOCAL_MACHINE,
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
    // The maker's key stays for what else it holds.
    EXPECT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\KIVO"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\Common"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\Other Vendor"));
    EXPECT_TRUE(bench::Exists("C:\\Apps\\Other\\other.exe"));
    EXPECT_TRUE(bench::Exists("C:\\Apps\\KIVO2\\k2.exe"));

    // Variables: the registry on the NT family, autoexec.bat on Windows 9x.
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const char* key = root == HKEY_CURRENT_USER ? "Environment" : MACHINE_ENVIRONMENT;
        EXPECT_EQ(bench::RegValueExists(root, key, "KIVO"), win9x);
        EXPECT_EQ(bench::RegValueExists(root, key, "REVERIRA"), win9x);
        EXPECT_TRUE(bench::RegValueExists(root, key, "KIVO_OTHER"));
    }
    if (win9x) {
        std::string autoexec;
        EXPECT_TRUE(bench::ReadFileBytes("C:\\autoexec.bat", autoexec));
        EXPECT_EQ(autoexec, e2e::AutoexecAfter());
    }
}

// The copy's private folder under a TEMP whose path holds every character
// the command interpreter would parse, started from a read-only program
// outside the installation, which the KIVO variable names with "." and
// "..": the folder is made full (the archive's names begin with "KIVO/",
// which KIVO_POSTCHECK checks), and afterwards exactly the copy and its
// folder are gone from TEMP.
TEST(PrivateCopy, OddTempAndReadOnlyProgramLeaveNothingBehind) {
    FreshInstallation();
    const std::string savedTemp = bench::TempFolder();
    const std::string temp = "C:\\odd %PATH% !x! ^a & (b) ;,=";
    const std::string program = "C:\\Tools\\uninstKIVO.exe";
    ASSERT_TRUE(bench::MakeFolders(temp) && bench::MakeFolders("C:\\Tools"));
    ASSERT_TRUE(bench::WriteFileBytes(temp + "\\uninstKIVO.exe", "not the copy"));
    ASSERT_TRUE(CopyFileA(bench::ProgramPath().c_str(), program.c_str(), FALSE));
    SetFileAttributesA(program.c_str(), FILE_ATTRIBUTE_READONLY);
    bench::SetEnv("TEMP", temp.c_str());
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\DOC\\.\\..\\KIVO");
    std::string title = Text(MSG_TITLE);

    bench::Process first = bench::Start("\"" + program + "\"", "C:\\Tools");
    bench::SetEnv("TEMP", savedTemp.c_str());
    bench::SetEnv("KIVO", nullptr);
    ASSERT_NE(first.handle, nullptr);
    bench::Box confirm = bench::WaitBox(title, 30000, first.id);
    ASSERT_TRUE(confirm.found());
    EXPECT_EQ(confirm.text, std::string(INSTALL_FOLDER) + "\r\r" + Text(MSG_CONFIRM));
    Answer(confirm, IDYES);
    EXPECT_EQ(bench::WaitExit(first), 0);
    bench::Close(first);

    bench::Box result = bench::WaitBox(title, 90000);
    ASSERT_TRUE(result.found());
    HANDLE copy = OpenProcessOf(result);
    std::vector<std::string> archives = e2e::ArchivesAtRoot('C');
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(result.text, Text(MSG_FILES_ARCHIVED) + "\r" + archives[0]);
    Answer(result, IDOK);
    Answer(ExpectBox(title, Text(MSG_SUCCESS)), IDOK);
    EXPECT_EQ(WaitProcess(copy), 0);
    if (copy != nullptr) CloseHandle(copy);

    std::vector<std::string> left;
    for (DWORD waited = 0; waited < 45000; waited += 200) {
        left = bench::ListTree(temp);
        if (left.size() == 1) break;
        Sleep(200);
    }
    EXPECT_EQ(left, std::vector<std::string>{"uninstKIVO.exe"}) << "the copy or its folder stayed";
    std::string planted;
    EXPECT_TRUE(bench::ReadFileBytes(temp + "\\uninstKIVO.exe", planted) && planted == "not the copy");
    EXPECT_FALSE(bench::Exists(INSTALL_FOLDER));
    SetFileAttributesA(program.c_str(), FILE_ATTRIBUTE_NORMAL);
    bench::RemoveTree("C:\\Tools");
    bench::RemoveTree(temp);
}

// The scenarios in which the uninstaller must refuse or keep the data folder.
class Refusals : public ::testing::Test {
  protected:
    void SetUp() override { FreshInstallation(); }
    void TearDown() override {
        bench::KillAll("uninstKIVO.exe");
        RemoveArchives();
    }
    // Starts the second stage directly, from a copy outside the installation.
    bench::Process StartSecondStage(const std::string& argument = VALID_ARGUMENT) {
        bench::Process process = bench::Start(e2e::SecondStageCommand(argument), "C:\\run");
        EXPECT_NE(process.handle, nullptr);
        return process;
    }
    // The archive could not be completed: program files gone, data kept,
    // no archive left, and the user told which folder to clean.
    void ExpectCleaningRequired() {
        std::string title = Text(MSG_TITLE);
        bench::Process stage = StartSecondStage();
        Answer(ExpectBox(title, Text(MSG_CLEANING_REQUIRED) + "\r" + INSTALL_FOLDER), IDOK);
        Answer(ExpectBox(title, Text(MSG_SUCCESS)), IDOK);
        EXPECT_EQ(bench::WaitExit(stage), 0);
        bench::Close(stage);
        ExpectProgramFiles(false);
        EXPECT_TRUE(WaitGone("C:\\run\\uninstKIVO.exe", 45000));
    }
};

TEST_F(Refusals, MainApplicationRunning) {
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_");
    bench::Process stage = StartSecondStage();
    Answer(ExpectBox(Text(MSG_TITLE), Text(MSG_APP_RUNNING)), IDOK);
    EXPECT_EQ(bench::WaitExit(stage), 0);
    bench::Close(stage);
    CloseHandle(application);
    ExpectNothingRemoved();
}

TEST_F(Refusals, SecondCopyEndsSilently) {
    HANDLE instance = CreateMutexA(nullptr, TRUE, "_uninstKIVO___Instance_");
    bench::Process stage = StartSecondStage();
    EXPECT_EQ(bench::WaitExit(stage, 20000), 0);
    bench::Close(stage);
    EXPECT_FALSE(bench::WaitBox("", 1000).found());
    CloseHandle(instance);
    ExpectNothingRemoved();
}

TEST_F(Refusals, MalformedArgument) {
    bench::Process stage = StartSecondStage("\"//TMW// C:\\Apps\\KIVO\"");
    bench::Box box = bench::WaitBox("uninstKIVO", 30000);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Text(MSG_MISUSE));
    Answer(box, IDOK);
    EXPECT_EQ(bench::WaitExit(stage), 4);
    bench::Close(stage);
    ExpectNothingRemoved();
}

TEST_F(Refusals, LockedDataFileKeepsTheFolder) {
    std::string locked = std::string(INSTALL_FOLDER) + "\\Data\\clients.dat";
    HANDLE file = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ExpectCleaningRequired();
    CloseHandle(file);
    ExpectDataFilesIntact();
    EXPECT_TRUE(e2e::ArchivesAtRoot('C').empty()) << "the partial archive stayed";
}

// The drive root cannot take the archive: every name the run can choose is
// already taken by a folder (read-only files do not stop root under Wine),
// and what those folders hold must survive.
TEST_F(Refusals, ArchiveCannotBeWritten) {
    std::vector<std::string> occupied;
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME start;
    SystemTimeToFileTime(&now, &start);
    for (int second = -2; second < 120; ++second) {
        ULARGE_INTEGER at;
        at.LowPart = start.dwLowDateTime;
        at.HighPart = start.dwHighDateTime;
        at.QuadPart += static_cast<ULONGLONG>(second) * 10000000ull;
        FILETIME moment = {at.LowPart, at.HighPart};
        SYSTEMTIME t;
        FileTimeToSystemTime(&moment, &t);
        char name[80];
        std::snprintf(name, sizeof name, "C:\\savKIVO[%4d-%02d-%02d](%02d.%02d.%02d).zip", t.wYear, t.wMonth,
                      t.wDay, t.wHour, t.wMinute, t.wSecond);
        bench::MakeFolders(name);
        bench::WriteFileBytes(std::string(name) + "\\earlier.txt", "kept");
        occupied.push_back(name);
    }
    ExpectCleaningRequired();
    ExpectDataFilesIntact();
    for (const std::string& name : occupied) {
        std::string bytes;
        EXPECT_TRUE(bench::ReadFileBytes(name + "\\earlier.txt", bytes) && bytes == "kept") << name;
    }
}

// The data folder's drive fills up while the archive is written: the partial
// archive goes, the data stays. Drive D: is a 1 MiB tmpfs (small-drive.sh).
TEST(FullDrive, PartialArchiveIsDeletedAndDataKept) {
    if (!bench::IsFolder("D:\\")) GTEST_SKIP() << "no small drive D: (mounting needs root)";
    const std::string folder = "D:\\Apps\\KIVO";
    std::string incompressible;
    unsigned state = 7;
    for (int i = 0; i < 640 * 1024; ++i) {
        state = state * 1664525u + 1013904223u;
        incompressible += static_cast<char>(state >> 24);
    }
    ASSERT_TRUE(bench::MakeFolders(folder + "\\KIVO") && bench::MakeFolders(folder + "\\Data"));
    ASSERT_TRUE(bench::WriteFileBytes(folder + "\\KIVO\\KIVO.EXE", "program"));
    ASSERT_TRUE(bench::WriteFileBytes(folder + "\\Data\\measures.bin", incompressible));

    std::string title = Text(MSG_TITLE);
    bench::Process stage = bench::Start(e2e::SecondStageCommand("\"//tmw// " + folder + "\""), "C:\\run");
    Answer(ExpectBox(title, Text(MSG_CLEANING_REQUIRED) + "\r" + folder), IDOK);
    Answer(ExpectBox(title, Text(MSG_SUCCESS)), IDOK);
    EXPECT_EQ(bench::WaitExit(stage), 0);
    bench::Close(stage);

    EXPECT_FALSE(bench::Exists(folder + "\\KIVO\\KIVO.EXE"));
    std::string bytes;
    EXPECT_TRUE(bench::ReadFileBytes(folder + "\\Data\\measures.bin", bytes) && bytes == incompressible);
    EXPECT_TRUE(e2e::ArchivesAtRoot('D').empty()) << "the partial archive stayed";
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--console-snapshot") == 0) {
        return e2e::ConsoleSnapshotMain(std::strtoul(argv[2], nullptr, 10), argv[3]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--demo") == 0) return e2e::DemoMain(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
