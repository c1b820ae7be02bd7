// The whole uninstaller, driven as a person would: the first stage is
// confirmed, the copy in %TEMP% does the work, and every box is answered.
// Afterwards the prefix is searched for what must be gone and what must stay.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/stages.h"
#include "e2e/sample_install.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

using e2e::FreshInstallation;
using e2e::INSTALL_FOLDER;
using e2e::RemoveArchives;

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

HANDLE OpenProcessOf(const bench::Box& box) {
    return box.found() ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, box.processId) : nullptr;
}

// The log's lines: each has the time, the stage that wrote it and a text.
// Every expected line, a stage and a part of its text, must come in this
// order; other lines may come between them.
void ExpectLog(const std::string& path, const std::vector<std::pair<std::string, std::string>>& expected) {
    std::string log;
    ASSERT_TRUE(bench::ReadFileBytes(path, log)) << path;
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(log.substr(start, end - start));
    EXPECT_EQ(log.size(), log.rfind("\r\n") + 2) << "the last line is unfinished";
    const std::regex line("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (first|copy ) [^\\r\\n]+");
    for (const std::string& text : lines)
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    size_t at = 0;
    for (const auto& wanted : expected) {
        std::string stage = wanted.first + std::string(6 - wanted.first.size(), ' ');
        while (at < lines.size() && (lines[at].compare(24, 6, stage) != 0 ||
                                     lines[at].find(wanted.second, 30) == std::string::npos))
            ++at;
        EXPECT_LT(at, lines.size()) << "no line \"" << wanted.second << "\" by " << wanted.first
                                    << " in the right place of:\n"
                                    << log;
        if (at == lines.size()) return;
    }
}

std::string Joined(const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts)
        joined += text + "\n";
    return joined;
}

// What a whole uninstall removed and kept, archives being those at C:\.
void ExpectUninstalled(bool win9x, const std::vector<std::string>& archives) {
    // Archive: one file named after the data folder's drive and the time.
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(archives[0].compare(0, 11, "C:\\savKIVO["), 0) << archives[0];
    EXPECT_EQ(archives[0].size(), std::strlen("C:\\savKIVO[2013-06-24](14.05.09).zip"));

    // Shortcuts, on both families: every one of ours wherever it was (desktops,
    // start menus, Quick Launch, pins), and the groups they emptied; nothing
    // else, not the start menus' own folders.
    for (const std::string& link : e2e::ProductShortcuts())
        EXPECT_FALSE(bench::Exists(link)) << link;
    for (const std::string& group : e2e::ProductGroups())
        EXPECT_FALSE(bench::Exists(group)) << "an emptied program group: " << group;
    for (const std::string& folder : e2e::WindowsFolders())
        EXPECT_TRUE(bench::IsFolder(folder)) << "the start menu's own folder went: " << folder;
    for (const std::string& link : e2e::ForeignShortcuts())
        EXPECT_TRUE(bench::Exists(link)) << link;
    for (const std::string& link : e2e::ShortcutsInto(INSTALL_FOLDER))
        ADD_FAILURE() << "a shortcut to KIVO stayed: " << link;

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

// Another user, not logged on: a profile in the list whose NTUSER.DAT holds
// the product's variables and settings beside another product's.
const char* const OTHER_USER_KEY =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7-7-7-1002";
const char* const OTHER_USER_HIVE = "C:\\users\\other\\NTUSER.DAT";

void LayOutOtherUser() {
    const std::string scratch = "Software\\KivoOtherUser";
    bench::RegDeleteTree(HKEY_CURRENT_USER, scratch);
    for (const char* name : {"KIVO", "REVERIRA", "KIVO_OTHER"})
        ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, scratch + "\\Environment", name, "x"));
    for (const char* product : {"KIVO", "Common"})
        ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, scratch + "\\Software\\TMW\\" + product, "v", 1));
    ASSERT_TRUE(bench::MakeFolders("C:\\users\\other"));
    DeleteFileA(OTHER_USER_HIVE);
    ASSERT_TRUE(bench::RegSaveHive(HKEY_CURRENT_USER, scratch, OTHER_USER_HIVE));
    bench::RegDeleteTree(HKEY_CURRENT_USER, scratch);
    ASSERT_TRUE(
        bench::RegSetString(HKEY_LOCAL_MACHINE, OTHER_USER_KEY, "ProfileImagePath", "C:\\users\\other"));
}

// The other user's hive lost the product's traces (kept them on Windows 9x,
// which has one user's settings at a time) and kept the rest; it is no
// longer loaded.
void ExpectOtherUserCleaned(bool win9x) {
    ASSERT_EQ(bench::RegLoadHive("KivoOtherUser", OTHER_USER_HIVE), ERROR_SUCCESS);
    // Wine never writes a hive loaded from a file back to it: there only the
    // log tells what went.
    const bool kept = win9x || bench::UnderWine();
    EXPECT_EQ(bench::RegValueExists(HKEY_USERS, "KivoOtherUser\\Environment", "KIVO"), kept);
    EXPECT_EQ(bench::RegValueExists(HKEY_USERS, "KivoOtherUser\\Environment", "REVERIRA"), kept);
    EXPECT_EQ(bench::RegKeyExists(HKEY_USERS, "KivoOtherUser\\Software\\TMW\\KIVO"), kept);
    EXPECT_TRUE(bench::RegValueExists(HKEY_USERS, "KivoOtherUser\\Environment", "KIVO_OTHER"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_USERS, "KivoOtherUser\\Software\\TMW\\Common"));
    EXPECT_EQ(bench::RegUnloadHive("KivoOtherUser"), ERROR_SUCCESS);
    for (const std::string& name : bench::RegSubkeys(HKEY_USERS, ""))
        EXPECT_NE(name.compare(0, 5, "KIVO-"), 0) << "a hive stayed loaded: " << name;
    bench::RegDeleteTree(HKEY_LOCAL_MACHINE, OTHER_USER_KEY);
    bench::RemoveTree("C:\\users\\other");
}

} // namespace

// From the first stage's confirmation through the copy's last box; run in
// English, French and Spanish, and on Windows 98, 2000, XP and 10.
TEST(EndToEnd, WholeUninstall) {
    FreshInstallation();
    bool win9x = Windows9x();
    if (win9x) e2e::WriteAutoexec();
    // Windows 2000 and XP run in their own profile layout (xp-profiles.sh).
    if (LOBYTE(LOWORD(GetVersion())) == 5) {
        EXPECT_EQ(e2e::ProductShortcuts().front().rfind("C:\\Documents and Settings\\", 0), 0u);
    }
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
    DWORD copyId = e2e::ProcessIdOf("uninstKIVO.exe", 20000);
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

    ExpectUninstalled(win9x, archives);
}

// /S: neither stage shows a box, a console or any other window (watched
// while it runs); the first stage waits and returns the copy's code; the
// log, given relative to the current folder, tells every step. On Windows 98
// the variables leave autoexec.bat, which needs a restart: /norestart reports
// it (3010), /quiet alone requests it, which Wine accepts without ending
// anything (1641). Started as a deployment tool starts it as LocalSystem,
// with TEMP the Windows folder's: another user's hive, not loaded, loses
// the product's traces too (not on Windows 9x). A partial
// archive that a stopped run left at the drive's root is removed and never
// taken for the backup.
TEST(EndToEnd, QuietUninstallShowsNothingAndLogsEveryStep) {
    const std::string leftover = "C:\\savKIVO[2020-01-02](03.04.05).zip.partial";
    bool win9x = Windows9x();
    std::vector<std::pair<std::string, long>> runs = {{"/S", 0}};
    if (win9x) runs = {{"/S /NoRestart", 3010}, {"/quiet", 1641}};
    char windowsFolder[MAX_PATH];
    ASSERT_NE(GetWindowsDirectoryA(windowsFolder, MAX_PATH), 0u);
    const std::string systemTemp = std::string(windowsFolder) + "\\Temp";
    const std::string userTemp = bench::TempFolder();
    for (const auto& run : runs) {
        FreshInstallation();
        if (win9x) e2e::WriteAutoexec();
        LayOutOtherUser();
        ASSERT_TRUE(bench::MakeFolders(systemTemp));
        bench::SetEnv("TEMP", systemTemp.c_str());
        bench::SetEnv("TMP", systemTemp.c_str());
        ASSERT_TRUE(bench::WriteFileBytes(leftover, "PK half an archive"));
        ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
        bench::Process first = bench::Start(
            "\"C:\\Apps\\KIVO\\uninstKIVO.exe\" " + run.first + " /log \"kivo run.txt\"", "C:\\logs");
        ASSERT_NE(first.handle, nullptr);
        std::vector<std::string> seen;
        EXPECT_EQ(bench::WaitExitWatchingWindows(first, seen, 180000), run.second) << run.first;
        bench::Close(first);
        EXPECT_TRUE(seen.empty()) << run.first << " showed:\n" << Joined(seen);

        std::vector<std::string> archives = e2e::ArchivesAtRoot('C');
        EXPECT_FALSE(bench::Exists(INSTALL_FOLDER));
        ExpectUninstalled(win9x, archives);
        // The first stage waited beside the copy, in its private folder; both
        // files and the folder go once the two processes have ended.
        DWORD waited = 0;
        while (!e2e::PrivateCopyFolder().empty() && waited < 45000) {
            Sleep(250);
            waited += 250;
        }
        const std::string stayed = e2e::PrivateCopyFolder();
        EXPECT_EQ(stayed, "") << "the copy, the first stage or their folder stayed in %TEMP%, holding:\n"
                              << (stayed.empty() ? "" : Joined(bench::ListTree(stayed)));
        bench::SetEnv("TEMP", userTemp.c_str());
        bench::SetEnv("TMP", userTemp.c_str());
        ExpectOtherUserCleaned(win9x);
        if (archives.size() != 1) continue;

        std::string code = std::to_string(run.second);
        std::vector<std::pair<std::string, std::string>> expected = {
            {"first", "uninstKIVO started with: " + run.first + " /log \"kivo run.txt\""},
            {"first", std::string("installation folder ") + INSTALL_FOLDER},
            {"first", "confirmation taken as given"},
            {"first", "this program's file moved to "},
            {"first", "uninstKIVO.exe started"},
            {"copy", std::string("copy started for the installation folder ") + INSTALL_FOLDER},
            {"copy", "step Shortcuts: done"},
            {"copy", "step Associations: .KVO result 0, .GKV result 0"},
            {"copy", win9x ? "step Variables: done, a restart is needed" : "step Variables: done"},
            {"copy", win9x ? "step Registry: done"
                           : "user S-1-5-21-7-7-7-1002 (C:\\users\\other\\NTUSER.DAT): .KVO result 0, .GKV "
                             "result 0, variables removed, settings removed"},
            {"copy", "step Registry: done"},
            {"copy", "the partial archive " + leftover + ", left by a stopped run, removed"},
            {"copy", "step Files: archive " + archives[0] +
                         " written completely and verified; the data folder " + INSTALL_FOLDER +
                         " was removed"},
            {"copy", "message, not shown: " + bench::Utf8(Text(MSG_FILES_ARCHIVED)) + " " + archives[0]},
        };
        if (win9x) {
            expected.push_back(
                {"copy", run.second == 1641 ? "restart needed: started" : "restart needed: not done"});
        } else {
            expected.push_back({"copy", "environment change announced"});
            expected.push_back({"copy", "message, not shown: " + bench::Utf8(Text(MSG_SUCCESS))});
        }
        expected.push_back({"copy", "exit code " + code});
        expected.push_back({"first", "the copy ended with exit code " + code});
        expected.push_back({"first", "uninstKIVO.exe.waiting is deleted once this program has ended"});
        expected.push_back({"first", "exit code " + code + " (uninstalled"});
        ExpectLog("C:\\logs\\kivo run.txt", expected);
        if (win9x) {
            std::string log;
            EXPECT_TRUE(bench::ReadFileBytes("C:\\logs\\kivo run.txt", log));
            EXPECT_EQ(log.find("user S-1-5-21-7-7-7-1002"), std::string::npos)
                << "Windows 9x visited another user";
        }
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

// The copy holds the folder from its check on: while its first box shows,
// the folder cannot be moved away (and so not replaced by a link).
TEST_F(Refusals, MainApplicationRunning) {
    HANDLE application = CreateMutexA(nullptr, TRUE, "_DAziv___Instance_");
    bench::Process stage = StartSecondStage();
    bench::Box box = ExpectBox(Text(MSG_TITLE), Text(MSG_APP_RUNNING));
    EXPECT_FALSE(MoveFileA(INSTALL_FOLDER, "C:\\Apps\\KIVO.away")) << "the copy does not hold the folder";
    Answer(box, IDOK);
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

// Between its check and the copy (here while it asks), the first stage holds
// the folder: it can be neither moved away nor replaced by the link to a
// victim folder that the pre-run made on the Linux side (see tests.cmake).
TEST_F(Refusals, FolderHeldFromTheCheckCannotBeSwapped) {
    ASSERT_TRUE(bench::Exists("C:\\Swap\\KIVO\\victim.txt")) << "the link is made by the pre-run";
    bench::Process first = bench::Start("\"C:\\Apps\\KIVO\\uninstKIVO.exe\"", "C:\\");
    bench::Box confirm = bench::WaitBox(Text(MSG_TITLE), 30000, first.id);
    ASSERT_TRUE(confirm.found());
    EXPECT_FALSE(MoveFileA(INSTALL_FOLDER, "C:\\Apps\\KIVO.away"))
        << "the first stage does not hold the folder";
    EXPECT_FALSE(MoveFileA("C:\\Swap\\KIVO", INSTALL_FOLDER));
    Answer(confirm, IDNO);
    EXPECT_EQ(bench::WaitExit(first), 0);
    bench::Close(first);
    ExpectNothingRemoved();
    EXPECT_TRUE(bench::Exists("C:\\Victim\\victim.txt"));
}

// The program's file replaced between the check and the copy (here while the
// first stage asks), even by one with the same bytes: the copy is made only
// of the file that runs, so none is made or started, and the run says so.
TEST_F(Refusals, ReplacedProgramFileIsNeitherCopiedNorStarted) {
    const std::string program = std::string(INSTALL_FOLDER) + "\\uninstKIVO.exe";
    bench::Process first = bench::Start("\"" + program + "\"", "C:\\");
    bench::Box confirm = bench::WaitBox(Text(MSG_TITLE), 30000, first.id);
    ASSERT_TRUE(confirm.found());
    ASSERT_TRUE(MoveFileA(program.c_str(), "C:\\uninstKIVO.running"));
    ASSERT_TRUE(CopyFileA("C:\\uninstKIVO.running", program.c_str(), TRUE));
    Answer(confirm, IDYES);
    bench::Box refused = bench::WaitBox("uninstKIVO.exe", 30000, first.id);
    ASSERT_TRUE(refused.found());
    EXPECT_EQ(refused.text, Text(MSG_LAUNCH_ERROR));
    Answer(refused, IDOK);
    EXPECT_EQ(bench::WaitExit(first), 3);
    bench::Close(first);
    EXPECT_EQ(e2e::ProcessIdOf("uninstKIVO.exe", 2000), 0u) << "a copy was started";
    ExpectNothingRemoved();
    DeleteFileA("C:\\uninstKIVO.running");
}

// The box of a refused argument, which comes before the console.
void AnswerMisuse() {
    bench::Box box = bench::WaitBox("uninstKIVO", 30000);
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, Text(MSG_MISUSE));
    Answer(box, IDOK);
}

// A copy started by hand gets the first stage's refusals: a folder of
// Windows, or a folder handed down that the argument no longer names (as when
// a link took the place of the folder checked), ends in Misuse and nothing
// of either is touched.
TEST_F(Refusals, HandStartedCopyIsCheckedOnTheFolderItHolds) {
    bench::Process stage = StartSecondStage("\"//tmw// C:\\windows\"");
    AnswerMisuse();
    EXPECT_EQ(bench::WaitExit(stage), 4);
    bench::Close(stage);
    EXPECT_TRUE(bench::IsFolder("C:\\windows\\system32"));

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE victim =
        CreateFileA("C:\\Victim", FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(victim, INVALID_HANDLE_VALUE);
    char value[32];
    std::snprintf(value, sizeof value, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(victim)));
    bench::SetEnv("KIVO_FOLDER_HANDLE", value);
    std::string command = e2e::SecondStageCommand(VALID_ARGUMENT);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, "C:\\run", &startup,
                               &started));
    bench::SetEnv("KIVO_FOLDER_HANDLE", nullptr);
    CloseHandle(started.hThread);
    CloseHandle(victim);
    AnswerMisuse();
    EXPECT_EQ(WaitProcess(started.hProcess), 4);
    CloseHandle(started.hProcess);
    ExpectNothingRemoved();
    EXPECT_TRUE(bench::Exists("C:\\Victim\\victim.txt"));
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

// Quietly as well: the data stay, and the exit code and the log say so. A
// file locked against reading leaves the archive incomplete; locked only
// against deletion it is archived, then stays, as does a program file so
// locked (named and counted once) and a file with another name elsewhere,
// which the archive does not hold: the log tells the two kinds apart, by
// names as the file system spells them.
TEST_F(Refusals, QuietRunKeepsTheFolderOfALockedDataFileAndSaysSo) {
    const std::string data = std::string(INSTALL_FOLDER) + "\\Data\\";
    const std::string greek = u8"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC\\\u03C3\u03B7\u03BC\u03B5"
                              u8"\u03B9\u03CE\u03C3\u03B5\u03B9\u03C2.txt";
    for (DWORD share : {DWORD(0), DWORD(FILE_SHARE_READ)}) {
        if (share != 0) FreshInstallation();
        std::vector<HANDLE> locks;
        for (const std::string& name :
             share == 0 ? std::vector<std::string>{"Data\\clients.dat"}
                        : std::vector<std::string>{"Data\\clients.dat", greek, "KIVO\\kivo.dll"}) {
            const std::wstring path = bench::Wide(std::string(INSTALL_FOLDER) + "\\" + name);
            locks.push_back(
                CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_NE(locks.back(), INVALID_HANDLE_VALUE) << name;
        }
        if (share != 0) {
            ASSERT_TRUE(bench::WriteFileBytes("C:\\Apps\\twin.dat", "one file, two names"));
            ASSERT_TRUE(CreateHardLinkA((data + "twin.dat").c_str(), "C:\\Apps\\twin.dat", nullptr));
        }
        ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
        DeleteFileA("C:\\logs\\kivo.txt");
        bench::Process first = bench::Start(
            "\"C:\\Apps\\KIVO\\uninstKIVO.exe\" /S /norestart /log=C:\\logs\\kivo.txt", INSTALL_FOLDER);
        std::vector<std::string> seen;
        EXPECT_EQ(bench::WaitExitWatchingWindows(first, seen), 7);
        bench::Close(first);
        for (HANDLE lock : locks)
            CloseHandle(lock);
        EXPECT_TRUE(seen.empty()) << Joined(seen);
        if (share == 0) {
            ExpectDataFilesIntact();
            ExpectProgramFiles(false);
            EXPECT_TRUE(e2e::ArchivesAtRoot('C').empty()) << "the partial archive stayed";
            ExpectLog("C:\\logs\\kivo.txt",
                      {{"copy", " not completed: adding the folder "},
                       {"copy", std::string("step Files: the data folder ") + INSTALL_FOLDER + " was kept"},
                       {"copy", "message, not shown: " + bench::Utf8(Text(MSG_CLEANING_REQUIRED)) + " " +
                                    INSTALL_FOLDER},
                       {"copy", "exit code 7"},
                       {"first", "uninstKIVO.exe.waiting is deleted once this program has ended"},
                       {"first", "exit code 7 (uninstalled, but the data folder was kept)"}});
            continue;
        }
        for (const std::string& name :
             {std::string("Data\\twin.dat"), std::string("Data\\clients.dat"), greek})
            EXPECT_TRUE(bench::Exists(std::string(INSTALL_FOLDER) + "\\" + name)) << name;
        EXPECT_EQ(e2e::ArchivesAtRoot('C').size(), 1u);
        std::string log;
        ASSERT_TRUE(bench::ReadFileBytes("C:\\logs\\kivo.txt", log));
        for (const std::string& line :
             {std::string("could not remove program file: C:\\Apps\\KIVO\\KIVO\\kivo.dll"),
              "could not remove file: " + data + "clients.dat",
              "could not remove file: " + std::string(INSTALL_FOLDER) + "\\" + greek,
              "kept, as the archive does not hold it unchanged: " + data + "twin.dat",
              std::string("was kept; 3 of its files or folders that the archive holds could not be deleted "
                          "(each named above); 1 of its files stayed since the archive does not hold them "
                          "unchanged"),
              std::string("3 items could not be removed")}) {
            EXPECT_NE(log.find(line), std::string::npos) << line << " in:\n" << log;
        }
        EXPECT_EQ(log.find("kivo.dll"), log.rfind("kivo.dll")) << "the program file is named once:\n" << log;
        ExpectLog("C:\\logs\\kivo.txt", {{"copy", "exit code 7"}, {"first", "exit code 7"}});
    }
}

// A key that cannot be deleted (Windows deletes no key with subkeys) stays,
// is named in the log, and the run ends with its own code, not success.
TEST_F(Refusals, QuietRunWhoseKeyStaysSaysSo) {
    ASSERT_TRUE(
        bench::RegSetDword(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\Held").c_str(), "v", 1));
    ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
    bench::Process first = bench::Start(
        "\"C:\\Apps\\KIVO\\uninstKIVO.exe\" /S /norestart /log=C:\\logs\\kivo.txt", INSTALL_FOLDER);
    EXPECT_EQ(bench::WaitExit(first), 9);
    bench::Close(first);
    EXPECT_FALSE(bench::Exists(INSTALL_FOLDER));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_FALSE(bench::RegValueExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallInProgress"));
    bench::RegDeleteTree(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    // The key goes last, once the Files step has removed the folder.
    ExpectLog("C:\\logs\\kivo.txt",
              {{"copy", "step Registry: done"},
               {"copy", std::string("could not remove registry key: HKLM\\") + UNINSTALL_KEY},
               {"copy", "step Files: archive"},
               {"copy", "1 items could not be removed"},
               {"copy", "exit code 9"},
               {"first", "uninstKIVO.exe.waiting is deleted once this program has ended"},
               {"first", "exit code 9 (finished, but some items remain)"}});
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
// the dated names and their numbered ones alike, and what those folders hold
// must survive.
TEST_F(Refusals, ArchiveCannotBeWritten) {
    std::vector<std::string> occupied;
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME start;
    SystemTimeToFileTime(&now, &start);
    for (int second = -2; second < 60; ++second) {
        ULARGE_INTEGER at;
        at.LowPart = start.dwLowDateTime;
        at.HighPart = start.dwHighDateTime;
        at.QuadPart += static_cast<ULONGLONG>(second) * 10000000ull;
        FILETIME moment = {at.LowPart, at.HighPart};
        SYSTEMTIME t;
        FileTimeToSystemTime(&moment, &t);
        for (int number = 1; number <= 9; ++number) {
            char name[80];
            std::snprintf(name, sizeof name, "C:\\savKIVO[%4d-%02d-%02d](%02d.%02d.%02d)%s.zip", t.wYear,
                          t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                          number == 1 ? "" : ("-" + std::to_string(number)).c_str());
            bench::MakeFolders(name);
            bench::WriteFileBytes(std::string(name) + "\\earlier.txt", "kept");
            occupied.push_back(name);
        }
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
class FullDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!bench::IsFolder("D:\\")) GTEST_SKIP() << "no small drive D: (mounting needs root)";
        unsigned state = 7;
        for (int i = 0; i < 640 * 1024; ++i) {
            state = state * 1664525u + 1013904223u;
            incompressible += static_cast<char>(state >> 24);
        }
        ASSERT_TRUE(bench::MakeFolders(folder + "\\KIVO") && bench::MakeFolders(folder + "\\Data"));
        ASSERT_TRUE(bench::WriteFileBytes(folder + "\\KIVO\\KIVO.EXE", "program"));
        ASSERT_TRUE(bench::WriteFileBytes(folder + "\\Data\\measures.bin", incompressible));
    }
    void ExpectDataKept() {
        EXPECT_FALSE(bench::Exists(folder + "\\KIVO\\KIVO.EXE"));
        std::string bytes;
        EXPECT_TRUE(bench::ReadFileBytes(folder + "\\Data\\measures.bin", bytes) && bytes == incompressible);
        EXPECT_TRUE(e2e::ArchivesAtRoot('D').empty()) << "the partial archive stayed";
    }
    const std::string folder = "D:\\Apps\\KIVO";
    std::string incompressible;
};

TEST_F(FullDrive, PartialArchiveIsDeletedAndDataKept) {

    std::string title = Text(MSG_TITLE);
    bench::Process stage = bench::Start(e2e::SecondStageCommand("\"//tmw// " + folder + "\""), "C:\\run");
    Answer(ExpectBox(title, Text(MSG_CLEANING_REQUIRED) + "\r" + folder), IDOK);
    Answer(ExpectBox(title, Text(MSG_SUCCESS)), IDOK);
    EXPECT_EQ(bench::WaitExit(stage), 0);
    bench::Close(stage);
    ExpectDataKept();
}

// Quietly the same run ends with 7: uninstalled, but the data folder stayed.
TEST_F(FullDrive, QuietRunSaysTheDataFolderStayed) {
    bench::SetEnv("KIVO", (folder + "\\KIVO").c_str());
    ASSERT_TRUE(bench::MakeFolders("C:\\logs"));
    bench::Process first = bench::Start(bench::ProgramPath() + " /S /log=C:\\logs\\full.txt");
    std::vector<std::string> seen;
    EXPECT_EQ(bench::WaitExitWatchingWindows(first, seen), 7);
    bench::Close(first);
    EXPECT_TRUE(seen.empty()) << Joined(seen);
    ExpectDataKept();
    ExpectLog("C:\\logs\\full.txt", {{"copy", "archive D:\\savKIVO["},
                                     {"copy", "(a write failed, the drive may be full)"},
                                     {"copy", "step Files: the data folder " + folder + " was kept"},
                                     {"copy", "exit code 7"},
                                     {"first", "exit code 7 (uninstalled, but the data folder was kept)"}});
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--console-snapshot") == 0) {
        return e2e::ConsoleSnapshotMain(std::strtoul(argv[2], nullptr, 10), argv[3]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--demo") == 0) return e2e::DemoMain(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--time-files-step") == 0) return e2e::FilesStepTimingMain(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--watch-files-step") == 0) {
        return e2e::WatchFilesStepMain(std::strtoul(argv[2], nullptr, 10), argv[3]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
