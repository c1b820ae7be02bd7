// The batch-file line editor and the path texts, natively under sanitizers.
#include "clean/autoexec_edit.h"
#include "clean/path_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// The text with the variable's line cut out, or "-" when none is found.
std::string Edit(std::string text, const char* name) {
    size_t start = 0, end = 0;
    if (!AutoexecFindLine(text.data(), text.size(), name, &start, &end)) return "-";
    text.resize(AutoexecCutLine(&text[0], text.size(), start, end));
    return text;
}

} // namespace

TEST(AutoexecEdit, LineRules) {
    EXPECT_EQ("a\r\nb\r\n", Edit("a\r\nset KIVO=1\r\nb\r\n", "KIVO"));
    EXPECT_EQ("a\r\n", Edit("a\r\nset KIVO=1", "KIVO"));      // last line, no line feed
    EXPECT_EQ("a\r\n", Edit("a\r\nset KIVO", "KIVO"));        // ... every byte examined
    EXPECT_EQ("-", Edit("a\nset KIVO\n", "KIVO"));            // bare feed: last byte not examined
    EXPECT_EQ("\n\nx\n", Edit("\n\nset KIVO=\nx\n", "KIVO")); // empty lines are passed over
    EXPECT_EQ("set KIVO=2\r\n", Edit("set KIVO=1\r\nset KIVO=2\r\n", "KIVO")); // the first only
    EXPECT_EQ("", Edit("set KIVO=1\r\n", "KIVO"));                             // the caller keeps such a file
    EXPECT_EQ("-", Edit("SET KIVO=1\r\nset  KIVO=1\r\nset REVERIRA=1\r\n", "KIVO"));
    EXPECT_EQ("-", Edit("set KIVO=1\r\n", ""));
    EXPECT_EQ("-", Edit("", "KIVO"));
}

// Only the first 259 bytes of a line are examined.
TEST(AutoexecEdit, LongLinesAreJudgedOnTheirStart) {
    const std::string fits = std::string(251, ' ') + "set KIVO";   // 259 bytes
    const std::string beyond = std::string(252, ' ') + "set KIVO"; // 260 bytes
    EXPECT_EQ("x\n", Edit(fits + "\r\nx\n", "KIVO"));
    EXPECT_EQ("-", Edit(beyond + "\r\nx\n", "KIVO"));
    EXPECT_EQ("x\n", Edit("x\n" + fits, "KIVO"));
    EXPECT_EQ("-", Edit("x\n" + beyond, "KIVO"));
}

// Random texts of few symbols: the cut always leaves exactly the bytes in
// front of the line and behind its line feed, and never reads past the end.
TEST(AutoexecEdit, RandomTextsKeepEverythingElse) {
    std::mt19937 random(20130624);
    const char symbols[] = {'s', 'e', 't', ' ', 'K', 'I', 'V', 'O', '\r', '\n'};
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 40, ' ');
        for (char& c : text)
            c = symbols[random() % sizeof symbols];
        size_t start = 0, end = 0;
        if (!AutoexecFindLine(text.data(), text.size(), "KIVO", &start, &end)) continue;
        ASSERT_LE(end, text.size());
        ASSERT_NE(std::string::npos, text.substr(start, end - start).find("set KIVO")) << text;
        ASSERT_TRUE(start == 0 || text[start - 1] == '\n') << text;
        ASSERT_TRUE(end == text.size() || text[end - 1] == '\n') << text;
        const std::string expected = text.substr(0, start) + text.substr(end);
        text.resize(AutoexecCutLine(&text[0], text.size(), start, end));
        ASSERT_EQ(expected, text);
    }
}

TEST(PathText, DriveAndShareRoots) {
    for (const char* root : {"C:", "c:\\", "C:\\\\", "\\", "\\\\srv", "\\\\srv\\share", "\\\\srv\\share\\"})
        EXPECT_TRUE(PathIsDriveRoot(root)) << root;
    for (const char* folder : {"", "C:\\A", "C:x", "\\A", "\\\\srv\\share\\a", "KIVO", "1:"})
        EXPECT_FALSE(PathIsDriveRoot(folder)) << folder;
}

TEST(PathText, MasksMatchTheLongName) {
    EXPECT_TRUE(MaskMatches("*.EXE", "kivo.exe"));
    EXPECT_TRUE(MaskMatches("*.*", "README"));
    EXPECT_TRUE(MaskMatches("KV.KV", "kv.kv"));
    EXPECT_TRUE(MaskMatches("a*b?c", "aXbbYc"));
    EXPECT_FALSE(MaskMatches("*.LOG", "notes.logbook"));
    EXPECT_FALSE(MaskMatches("*.KIV", "data.kivo"));
    EXPECT_FALSE(MaskMatches("KV.KV", "KV.KVX"));
}

TEST(PathText, BoundedCopiesRefuseWhatDoesNotFit) {
    char buffer[8] = "abc";
    EXPECT_TRUE(TextAppend(buffer, sizeof buffer, "defg")); // 7 characters and the zero
    EXPECT_FALSE(TextAppend(buffer, sizeof buffer, "h"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_FALSE(TextCopy(buffer, sizeof buffer, "12345678"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_TRUE(TextEndsWithAZ("A.LNK", ".lnk"));
    EXPECT_FALSE(TextEndsWithAZ("lnk", ".lnk"));
}
