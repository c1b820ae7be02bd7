// The batch-file line editor and the root test, natively under sanitizers;
// the rest of their rules is checked under Wine on real files.
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
// front of the line and behind its line feed, and never reads past the end;
// padded back to the old size, the edited text is followed only by its last
// line's end and blanks on a line of their own.
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
        const size_t size = text.size();
        text.resize(AutoexecCutLine(&text[0], size, start, end));
        ASSERT_EQ(expected, text);
        std::string padded = text + std::string(size - text.size(), 'x');
        AutoexecPad(&padded[0], text.size(), size);
        const size_t blanks = padded.find_last_not_of(' ') + 1;
        ASSERT_EQ(expected, padded.substr(0, expected.size()));
        ASSERT_TRUE(blanks == 0 || padded[blanks - 1] == '\n') << padded;
        ASSERT_LE(blanks, expected.size() + 2) << padded;
    }
    std::string cut = "set A=1\r\nset B=2old tail";
    AutoexecPad(&cut[0], 16, cut.size());
    EXPECT_EQ("set A=1\r\nset B=2\r\n" + std::string(6, ' '), cut);
}

TEST(PathText, DriveAndShareRoots) {
    for (const char* root : {"C:", "c:\\", "C:\\\\", "\\", "\\\\srv", "\\\\srv\\share", "\\\\srv\\share\\"})
        EXPECT_TRUE(PathIsDriveRoot(root)) << root;
    for (const char* folder : {"", "C:\\A", "C:x", "\\A", "\\\\srv\\share\\a", "KIVO", "1:"})
        EXPECT_FALSE(PathIsDriveRoot(folder)) << folder;
}
