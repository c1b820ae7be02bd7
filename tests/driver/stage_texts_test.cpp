// The texts that the sequence and the self-deletion compose: the dated
// archive name, the entry prefix, the result message and the deletion command.
#include "driver/archive_name.h"
#include "driver/delete_command.h"

#include <gtest/gtest.h>

#include <cwchar>
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

TEST(ArchiveName, PartialNamesAreKnownByTheirExactPattern) {
    char name[ARCHIVE_NAME_CAPACITY];
    ASSERT_EQ(ArchivePartialName(name, sizeof name, "C:\\savKIVO[2013-06-24](14.05.09)-2.zip"), 0);
    EXPECT_STREQ(name, "C:\\savKIVO[2013-06-24](14.05.09)-2.zip.partial");
    char small[46]; // one short
    EXPECT_EQ(ArchivePartialName(small, sizeof small, "C:\\savKIVO[2013-06-24](14.05.09)-2.zip"), -1);
    EXPECT_STREQ(small, "");
    for (const wchar_t* partial :
         {L"savKIVO[2013-06-24](14.05.09).zip.partial", L"savKIVO[2013-06-24](14.05.09)-9.zip.partial"})
        EXPECT_TRUE(ArchiveNameIsPartial(partial, std::wcslen(partial))) << partial;
    for (const wchar_t* other :
         {L"savKIVO[2013-06-24](14.05.09).zip", L"savKIVO[2013-06-24](14.05.09)-1.zip.partial",
          L"savKIVO[2013-06-24](14.05.09)-10.zip.partial", L"savKIVO[2013-06-2x](14.05.09).zip.partial",
          L"savKIVO[2013-06-24](14.05.09).zip.partial2", L"SAVKIVO[2013-06-24](14.05.09).zip.partial",
          L"savKIVO.zip.partial", L""})
        EXPECT_FALSE(ArchiveNameIsPartial(other, std::wcslen(other))) << other;
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

// The paths never appear in cmd.exe's command: it reads them from its
// environment, so no character of TEMP's path is parsed as part of a command.
TEST(DeleteCommand, CmdRetriesAndReadsThePathsFromItsEnvironment) {
    char line[DELETE_COMMAND_CAPACITY];
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, "C:\\windows\\system32\\cmd.exe",
                                  "C:\\windows\\system32\\PING.EXE", "C:\\T %x% & (y)\\u.exe", true),
              0);
    EXPECT_STREQ(line,
                 "\"C:\\windows\\system32\\cmd.exe\" /d /v:off /c for %f in (\"%uninstKIVO_copy%\") do "
                 "for /l %i in (1,1,30) do (del /f %f 2>nul & rd \"%uninstKIVO_folder%\" 2>nul & if exist "
                 "\"%uninstKIVO_folder%\" \"C:\\windows\\system32\\PING.EXE\" -n 2 127.0.0.1 >nul)");
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, "C:\\WINNT\\SYSTEM32\\CMD.EXE",
                                  "C:\\WINNT\\SYSTEM32\\PING.EXE", "C:\\run\\u.exe", false),
              0);
    EXPECT_EQ(std::string(line).find("rd "), std::string::npos) << "only a private folder is removed";
}

TEST(DeleteCommand, CommandComGetsTheSingleDeletion) {
    char line[DELETE_COMMAND_CAPACITY];
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, "C:\\COMMAND.COM", "C:\\WINDOWS\\PING.EXE",
                                  "C:\\WINDOWS\\TEMP\\UNINST~1.EXE", true),
              0);
    EXPECT_STREQ(line, "C:\\COMMAND.COM /c del \"C:\\WINDOWS\\TEMP\\UNINST~1.EXE\"");
}

TEST(DeleteCommand, EnvironmentHoldsSystemRootAndBothPathsInOrder) {
    char block[DELETE_ENVIRONMENT_CAPACITY];
    ASSERT_EQ(DeleteEnvironmentFormat(block, sizeof block, "C:\\windows", "C:\\T\\f\\u.exe", "C:\\T\\f"), 0);
    // Each text ends in a zero, the block in a second one.
    const char expected[] =
        "SystemRoot=C:\\windows\0uninstKIVO_copy=C:\\T\\f\\u.exe\0uninstKIVO_folder=C:\\T\\f\0";
    EXPECT_EQ(std::string(block, sizeof expected), std::string(expected, sizeof expected));
}

TEST(DeleteCommand, LongestPathsFitAndSmallBuffersAreRefused) {
    std::string longest = "C:\\" + std::string(248, 'c') + "\\cmd.exe"; // 259 characters
    std::string ping = "C:\\" + std::string(247, 'p') + "\\PING.EXE";
    char line[DELETE_COMMAND_CAPACITY];
    EXPECT_EQ(DeleteCommandFormat(line, sizeof line, longest.c_str(), ping.c_str(), "", true), 0);
    char block[DELETE_ENVIRONMENT_CAPACITY];
    EXPECT_EQ(DeleteEnvironmentFormat(block, sizeof block, longest.c_str(), longest.c_str(), longest.c_str()),
              0);
    char small[100];
    EXPECT_EQ(DeleteCommandFormat(small, sizeof small, longest.c_str(), ping.c_str(), "", true), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(DeleteEnvironmentFormat(small, sizeof small, "C:\\windows", longest.c_str(), "C:\\T"), -1);
    EXPECT_STREQ(small, "");
}

TEST(PrivateFolder, NameIsThePrefixAndSixteenHexDigits) {
    const unsigned char random[PRIVATE_FOLDER_RANDOM_BYTES] = {0x00, 0x1F, 0xA0, 0xFF,
                                                               0x12, 0x34, 0x56, 0x78};
    char name[PRIVATE_FOLDER_NAME_CAPACITY];
    ASSERT_TRUE(PrivateFolderNameFormat(name, sizeof name, random));
    EXPECT_STREQ(name, "uninstKIVO-001FA0FF12345678");
    EXPECT_TRUE(IsPrivateFolderName(name));
    for (const char* other :
         {"uninstKIVO-001FA0FF1234567", "uninstKIVO-001FA0FF123456789", "uninstKIVO-001fa0ff12345678", "Temp",
          "run", "uninstKIVO-001FA0FF1234567G", ""})
        EXPECT_FALSE(IsPrivateFolderName(other)) << other;
    char small[27];
    EXPECT_FALSE(PrivateFolderNameFormat(small, sizeof small, random));
}
