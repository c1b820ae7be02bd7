// The relaunch argument and the bounded path texts around it.
#include "driver/relaunch_argument.h"

#include <gtest/gtest.h>

#include <string>

namespace {

RelaunchCheck Check(const std::string& argument, std::string* folder = nullptr) {
    char out[260];
    RelaunchCheck result = RelaunchArgumentCheck(argument.c_str(), out, sizeof out);
    if (folder != nullptr) *folder = out;
    return result;
}

std::string Quoted(const std::string& folder) {
    return "\"//tmw// " + folder + "\"";
}

} // namespace

TEST(RelaunchArgument, ShortTextsSelectTheFirstStage) {
    EXPECT_TRUE(IsFirstStageArgument(""));
    EXPECT_TRUE(IsFirstStageArgument("\"//tmw// C:"));    // 11 characters
    EXPECT_FALSE(IsFirstStageArgument("\"//tmw// C:\"")); // 12
    EXPECT_FALSE(IsFirstStageArgument("anything long enough"));
}

TEST(RelaunchArgument, AcceptsAFolderAndIgnoresTheCharacterAfterTheMarker) {
    std::string folder;
    EXPECT_EQ(Check(Quoted("C:\\Program Files\\KIVO"), &folder), RELAUNCH_OK);
    EXPECT_EQ(folder, "C:\\Program Files\\KIVO");
    EXPECT_EQ(Check("\"//tmw//_D:\\Apps\\KIVO\"", &folder), RELAUNCH_OK);
    EXPECT_EQ(folder, "D:\\Apps\\KIVO");
}

TEST(RelaunchArgument, EachMalformedTextHasItsOwnResult) {
    std::string folder = "untouched";
    EXPECT_EQ(Check("\"//tmw// C:\\Apps\\KIVO", &folder), RELAUNCH_NO_CLOSING_QUOTE);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(Check("//tmw// C:\\Apps\\KIVO\""), RELAUNCH_NO_OPENING_QUOTE);
    EXPECT_EQ(Check("\"//TMW// C:\\Apps\\KIVO\""), RELAUNCH_BAD_MARKER);
    EXPECT_EQ(Check(Quoted("\\\\server\\share")), RELAUNCH_NO_DRIVE);
    EXPECT_EQ(Check("\"//tmw// C"), RELAUNCH_TOO_SHORT);
}

TEST(RelaunchArgument, ChecksRunInTheirOrder) {
    // No opening quote and a wrong marker: the quote is reported.
    EXPECT_EQ(Check("x//TMW// C:\\KIVO\""), RELAUNCH_NO_OPENING_QUOTE);
    // Wrong marker and no closing quote: the marker is reported.
    EXPECT_EQ(Check("\"//tmw/x C:\\KIVO"), RELAUNCH_BAD_MARKER);
}

TEST(RelaunchArgument, WholeDrivesAreRefused) {
    EXPECT_EQ(Check("\"//tmw// C:\""), RELAUNCH_ROOT_FOLDER); // the shortest text that passes the checks
    for (const char* root : {"C:\\", "Z:\\", "z:\\.", "C:\\..", "C:\\KIVO\\..", "C:\\KIVO\\..\\..", "C:\\.\\",
                             "C:\\KIVO\\. .\\..", "C:\\KIVO\\..\\Apps\\..\\"})
        EXPECT_EQ(Check(Quoted(root)), RELAUNCH_ROOT_FOLDER) << root;
    EXPECT_EQ(Check(Quoted("C:\\KIVO\\..\\Apps")), RELAUNCH_OK);
    EXPECT_EQ(Check(Quoted("C:\\..\\..\\Apps")), RELAUNCH_OK); // nothing is above a root
}

// A tab is no blank: Windows drops trailing blanks and dots from a name, but
// a tab, like every character no name may hold, makes the folder unusable.
TEST(RelaunchArgument, CharactersNoFolderNameHoldsAreRefused) {
    for (const char* folder : {"C:\\\t", "C:\\KIVO\t", "C:\\KIVO\\.\t", "C:\\Apps\\*", "C:\\Apps?", "C:\\a|b",
                               "C:\\a<b>", "C:\\KIVO:data", "C:\\a\"b", "C:\\a\nb"})
        EXPECT_EQ(Check(Quoted(folder)), RELAUNCH_BAD_CHARACTER) << folder;
    EXPECT_EQ(Check("\"//tmw//\tC:\\Apps\\KIVO\""),
              RELAUNCH_OK); // the character after the marker is never read
}

TEST(RelaunchArgument, FoldersBelowADrivesCurrentFolderAreRefused) {
    EXPECT_EQ(Check(Quoted("C:Apps\\KIVO")), RELAUNCH_RELATIVE_FOLDER);
    EXPECT_EQ(Check(Quoted("C:KIVO")), RELAUNCH_RELATIVE_FOLDER);
    EXPECT_EQ(Check(Quoted("C:/Apps/KIVO")), RELAUNCH_OK);
}

TEST(RelaunchArgument, OverlongTextsAreRefusedNotCut) {
    std::string folder259 = "C:\\" + std::string(256, 'a');
    std::string folder;
    EXPECT_EQ(Check(Quoted(folder259), &folder), RELAUNCH_OK);
    EXPECT_EQ(folder, folder259);
    EXPECT_EQ(Check(Quoted(folder259 + "b"), &folder), RELAUNCH_FOLDER_TOO_LONG);
    EXPECT_EQ(folder, "");
    std::string text299 = Quoted("C:\\" + std::string(286, 'a'));
    ASSERT_EQ(text299.size(), 299u);
    EXPECT_EQ(Check(text299), RELAUNCH_FOLDER_TOO_LONG);
    EXPECT_EQ(Check(Quoted("C:\\" + std::string(287, 'a'))), RELAUNCH_TOO_LONG);
    EXPECT_EQ(Check(Quoted("C:\\" + std::string(5000, 'a'))), RELAUNCH_TOO_LONG);
}

TEST(RelaunchArgument, BuiltArgumentPassesTheCheck) {
    char argument[ARGUMENT_CAPACITY];
    ASSERT_TRUE(RelaunchArgumentBuild("C:\\Apps\\KIVO", argument, sizeof argument));
    EXPECT_STREQ(argument, "\"//tmw// C:\\Apps\\KIVO\"");
    std::string folder;
    EXPECT_EQ(Check(argument, &folder), RELAUNCH_OK);
    EXPECT_EQ(folder, "C:\\Apps\\KIVO");
    char small[20] = "old";
    EXPECT_FALSE(RelaunchArgumentBuild("C:\\Apps\\KIVO", small, sizeof small));
    EXPECT_STREQ(small, "");
}

TEST(RelaunchArgument, CopyCommandLineQuotesTheProgramName) {
    char line[COMMAND_LINE_CAPACITY];
    ASSERT_TRUE(CopyCommandLineBuild("unins KIVO.exe", "\"//tmw// C:\\KIVO\"", line, sizeof line));
    EXPECT_STREQ(line, "\"unins KIVO.exe\" \"//tmw// C:\\KIVO\"");
    char small[10];
    EXPECT_FALSE(CopyCommandLineBuild("uninstKIVO.exe", "\"//tmw// C:\\KIVO\"", small, sizeof small));
}

TEST(Paths, JoinPutsOneSeparatorAndRefusesOverflow) {
    char out[260];
    ASSERT_TRUE(PathJoin("C:\\Apps\\KIVO", "KIVO.EXE", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Apps\\KIVO\\KIVO.EXE");
    ASSERT_TRUE(PathJoin("C:\\", "x.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\x.exe");
    ASSERT_TRUE(PathJoin("C:", "KIVO.EXE", out, sizeof out));
    EXPECT_STREQ(out, "C:KIVO.EXE");
    // A folder named by its own text keeps a bare drive's root.
    ASSERT_TRUE(FolderJoin("C:", "KIVO", out, sizeof out));
    EXPECT_STREQ(out, "C:\\KIVO");
    ASSERT_TRUE(FolderJoin("C:\\Temp\\", "u.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Temp\\u.exe");
    std::string folder(250, 'a');
    EXPECT_TRUE(PathJoin(folder.c_str(), "KIVO.EXE", out, sizeof out)); // 259 characters
    folder += 'a';
    EXPECT_FALSE(PathJoin(folder.c_str(), "KIVO.EXE", out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST(Paths, ProgramFolderParentDropsTheProgramFolder) {
    char folder[260] = "C:\\Apps\\KIVO\\KIVO";
    ASSERT_TRUE(ProgramFolderParent(folder));
    EXPECT_STREQ(folder, "C:\\Apps\\KIVO");
    char trailing[260] = "C:\\Apps\\KIVO\\KIVO\\\\";
    ASSERT_TRUE(ProgramFolderParent(trailing));
    EXPECT_STREQ(trailing, "C:\\Apps\\KIVO");
    char underRoot[260] = "C:\\KIVO";
    ASSERT_TRUE(ProgramFolderParent(underRoot));
    EXPECT_STREQ(underRoot, "C:");
    char bare[260] = "C:";
    EXPECT_FALSE(ProgramFolderParent(bare));
}

TEST(Paths, RootsNameNoFolderBelowThem) {
    for (const char* root : {"", "C:", "c:\\", "C:\\\\", "\\", "\\\\server\\share", "\\\\server\\share\\",
                             "C:\\a\\..", "C:/", "C:\\. .\\", "C:\\ "})
        EXPECT_TRUE(FolderIsRoot(root)) << root;
    for (const char* folder : {"C:\\KIVO", "C:KIVO", "\\\\server\\share\\KIVO", "C:\\a\\..\\b", "KIVO",
                               "C:\\...x", "C:\\\t", "C:\\.\t"})
        EXPECT_FALSE(FolderIsRoot(folder)) << folder;
}

TEST(TextFormat, RefusesInsteadOfTruncating) {
    char out[300];
    std::string fits(299, 'x');
    ASSERT_TRUE(TextFormat(out, sizeof out, "%s", fits.c_str()));
    EXPECT_EQ(out, fits);
    EXPECT_FALSE(TextFormat(out, sizeof out, "%s\r\r%s", fits.c_str(), "Confirm"));
    EXPECT_STREQ(out, "");
}
