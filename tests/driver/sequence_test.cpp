// The uninstall sequence called directly, on a thread of its own, while this
// thread answers its result box: which keys go, what the box says, and what
// becomes of the data folder. No console is open, so the labels draw nothing.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/stages.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

const char* const caption = "Sequence test";
const char* const uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";

struct SequenceCall {
    std::string folder;
    int removeUserSettings;
};

DWORD WINAPI RunOnThread(void* parameter) {
    const SequenceCall* call = static_cast<const SequenceCall*>(parameter);
    RunUninstallSequence(call->folder.c_str(), call->folder.c_str(), call->removeUserSettings);
    return 0;
}

std::vector<std::string> ArchivesAtRoot() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\savKIVO*.zip", &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(std::string("C:\\") + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

class Sequence : public ::testing::Test {
  protected:
    void SetUp() override {
        languageCode = 2;
        isNT = -1;
        lstrcpynA(windowCaption, caption, CAPTION_CAPACITY);
        ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Seq"));
    }
    void TearDown() override {
        bench::RemoveTree("C:\\Seq");
        for (const std::string& name : ArchivesAtRoot())
            DeleteFileA(name.c_str());
        bench::RegDeleteTree(HKEY_CURRENT_USER, "Software\\TMW");
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);
    }

    // Runs the sequence and returns the text of its result box, answered OK.
    static std::string Run(const std::string& folder, int removeUserSettings) {
        SequenceCall call = {folder, removeUserSettings};
        std::string text = "(no box)";
        EXPECT_TRUE(
            bench::AnswerOwnBox(RunOnThread, &call, caption, 60000, 30000, [&](const bench::Box& box) {
                text = box.text;
                EXPECT_TRUE(bench::Press(box, IDOK));
            }));
        return text;
    }
};

} // namespace

// The archive takes the drive letter as the folder writes it; the program
// files are gone before the rest is packed; the user's settings stay when
// the caller keeps them, while the uninstall key goes in any case. Explorer
// hears of the associations and of the folder.
TEST_F(Sequence, ArchivesTheRestAndKeepsUserSettingsWhenAsked) {
    for (const char* folder : {"KIVO", "DOC", "ZAVURE", "Data"})
        ASSERT_TRUE(bench::MakeFolders(std::string("C:\\Seq\\KIVO\\") + folder));
    for (const char* file : {"KIVO\\KIVO.EXE", "KIVO\\KV.KV", "RUN.LOG", "DOC\\manual.txt", "ZAVURE\\z.dat"})
        ASSERT_TRUE(bench::WriteFileBytes(std::string("C:\\Seq\\KIVO\\") + file, "program"));
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Seq\\KIVO\\Data\\clients.dat", "data"));
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, "Software\\TMW\\KIVO", "v", 1));

    ASSERT_TRUE(bench::ListenToShell());
    std::string text = Run("c:\\Seq\\KIVO", 0);
    std::vector<std::string> heard;
    for (const bench::ShellEvent& event : bench::ShellEventsSeen())
        heard.push_back(std::to_string(event.event) + " " + event.path);
    EXPECT_EQ(heard, (std::vector<std::string>{std::to_string(SHCNE_ASSOCCHANGED) + " ",
                                               std::to_string(SHCNE_RMDIR) + " C:\\Seq\\KIVO"}));
    std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    std::string name = archives[0].substr(3);
    EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\rc:\\") + name);
    EXPECT_FALSE(bench::Exists("C:\\Seq\\KIVO"));
    EXPECT_FALSE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, uninstallKey));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\KIVO"));
}

// Without a settings key of the product, the maker's key goes only when
// nothing else is left in it: another product's key keeps it. A folder
// without the program's subfolders is archived too.
TEST_F(Sequence, MakersKeyStaysForAnotherProduct) {
    ASSERT_TRUE(bench::MakeFolders("C:\\Seq\\Plain"));
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Seq\\Plain\\notes.txt", "data"));
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, "Software\\TMW\\Other", "v", 1));

    std::string text = Run("C:\\Seq\\Plain", 1);
    std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + archives[0]);
    EXPECT_FALSE(bench::Exists("C:\\Seq\\Plain"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\Other"));
}
