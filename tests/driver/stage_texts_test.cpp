// The texts that the sequence and the self-deletion compose: the dated
// archive name, the entry prefix, the result message and the deletion command.
#include "driver/archive_name.h"
#include "driver/delete_command.h"

#include <gtest/gtest.h>

#include <string>

TEST(ArchiveName, DatedNameAtTheDataFoldersDrive) {
    char name[ARCHIVE_NAME_CAPACITY];
    ASSERT_EQ(ArchiveNameFormat(name, sizeof name, 'C', 2013, 6, 24, 14, 5, 9), 0);
    EXPECT_STREQ(name, "C:\\savKIVO[2013-06-24](14.05.09).zip");
    // The letter is kept as written in the folder.
    ASSERT_EQ(ArchiveNameFormat(name, sizeof name, 'c', 2026, 12, 31, 0, 0, 0), 0);
    EXPECT_STREQ(name, "c:\\savKIVO[2026-12-31](00.00.00).zip");
}

TEST(ArchiveName, TooSmallABufferIsRefusedNotCut) {
    char name[36];
    EXPECT_EQ(ArchiveNameFormat(name, sizeof name, 'C', 2013, 6, 24, 14, 5, 9), -1);
    EXPECT_STREQ(name, "");
    char exact[37]; // the 36 characters and the terminating zero
    EXPECT_EQ(ArchiveNameFormat(exact, sizeof exact, 'C', 2013, 6, 24, 14, 5, 9), 0);
}

TEST(ArchiveName, ClashesTakeANumberBeforeTheSuffix) {
    const char* dated = "C:\\savKIVO[2013-06-24](14.05.09).zip";
    char name[ARCHIVE_NAME_CAPACITY];
    ASSERT_EQ(ArchiveNameNumbered(name, sizeof name, dated, 1), 0);
    EXPECT_STREQ(name, dated);
    ASSERT_EQ(ArchiveNameNumbered(name, sizeof name, dated, 9), 0);
    EXPECT_STREQ(name, "C:\\savKIVO[2013-06-24](14.05.09)-9.zip");
    char small[38]; // one short of the numbered name and its terminating zero
    EXPECT_EQ(ArchiveNameNumbered(small, sizeof small, dated, 2), -1);
    EXPECT_STREQ(small, "");
}

TEST(ArchiveName, PrefixKeepsTheFoldersOwnName) {
    EXPECT_EQ(ArchivePrefixLength("C:\\Apps\\KIVO"), 8); // names begin with "KIVO"
    EXPECT_EQ(ArchivePrefixLength("C:\\KIVO"), 3);
    EXPECT_EQ(ArchivePrefixLength("C:KIVO"), 0);
}

TEST(ResultMessage, EveryTextWithTheLongestPathFits) {
    std::string longest(259, 'x');
    longest[0] = 'C';
    longest[1] = ':';
    longest[2] = '\\';
    // The longest result text of the catalogue (Spanish CleaningRequired).
    std::string text = "Requieren una limpieza para el directorio siguiente :";
    char message[RESULT_MESSAGE_CAPACITY];
    ASSERT_EQ(ResultMessageFormat(message, sizeof message, text.c_str(), longest.c_str()), 0);
    EXPECT_EQ(std::string(message), text + "\r" + longest);
    char small[20];
    EXPECT_EQ(ResultMessageFormat(small, sizeof small, text.c_str(), "C:\\x"), -1);
    EXPECT_STREQ(small, "");
    // Both parts when the archive was written but the folder kept files.
    const std::string archived = "Des fichiers ont \xE9t\xE9 sauvegard\xE9s dans :";
    const std::string archive = "C:\\savKIVO[2013-06-24](14.05.09)-9.zip";
    ASSERT_EQ(KeptFolderMessageFormat(message, sizeof message, archived.c_str(), archive.c_str(),
                                      text.c_str(), longest.c_str()),
              0);
    EXPECT_EQ(std::string(message), archived + "\r" + archive + "\r\r" + text + "\r" + longest);
    EXPECT_EQ(KeptFolderMessageFormat(small, sizeof small, "a", "b", "c", "C:\\a longer folder"), -1);
}

TEST(DeleteCommand, OnlyCmdCanRetry) {
    EXPECT_TRUE(InterpreterCanRetry("C:\\windows\\system32\\cmd.exe"));
    EXPECT_TRUE(InterpreterCanRetry("C:\\WINNT\\SYSTEM32\\CMD.EXE"));
    EXPECT_TRUE(InterpreterCanRetry("cmd.exe"));
    EXPECT_FALSE(InterpreterCanRetry("C:\\COMMAND.COM"));
    EXPECT_FALSE(InterpreterCanRetry("C:\\tools\\xcmd.exe"));
    EXPECT_FALSE(InterpreterCanRetry("C:\\tools\\cmd.exe.bak"));
}

TEST(DeleteCommand, CmdRetriesUntilTheFileIsGone) {
    char line[DELETE_COMMAND_CAPACITY];
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, "C:\\windows\\system32\\cmd.exe", "C:\\users\\a b\\Temp",
                                  "uninstKIVO.exe"),
              0);
    EXPECT_STREQ(line,
                 "C:\\windows\\system32\\cmd.exe /c for %f in (\"C:\\users\\a b\\Temp\\uninstKIVO.exe\") "
                 "do for /l %i in (1,1,30) do (if exist %f del %f & if exist %f ping -n 2 127.0.0.1 >nul)");
}

TEST(DeleteCommand, CommandComGetsTheSingleDeletion) {
    char line[DELETE_COMMAND_CAPACITY];
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, "C:\\COMMAND.COM", "C:\\WINDOWS\\TEMP", "UNINST~1.EXE"),
              0);
    EXPECT_STREQ(line, "C:\\COMMAND.COM /c del \"C:\\WINDOWS\\TEMP\\UNINST~1.EXE\"");
}

TEST(DeleteCommand, DriveRootGetsNoDoubledBackslash) {
    char line[DELETE_COMMAND_CAPACITY];
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, "C:\\COMMAND.COM", "C:\\", "uninstKIVO.exe"), 0);
    EXPECT_STREQ(line, "C:\\COMMAND.COM /c del \"C:\\uninstKIVO.exe\"");
}

TEST(DeleteCommand, LongestPathsFitAndLongerOnesAreRefused) {
    std::string comspec = "C:\\" + std::string(245, 'c') + "\\cmd.exe"; // 259 characters
    std::string folder = "C:\\" + std::string(240, 't');
    std::string name(259 - folder.size() - 1, 'n'); // folder\name is 259 characters
    char line[DELETE_COMMAND_CAPACITY];
    EXPECT_EQ(DeleteCommandFormat(line, sizeof line, comspec.c_str(), folder.c_str(), name.c_str()), 0);
    std::string tooLong =
        name + "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
    EXPECT_EQ(DeleteCommandFormat(line, sizeof line, comspec.c_str(), folder.c_str(), tooLong.c_str()), -1);
    EXPECT_STREQ(line, "");
}
