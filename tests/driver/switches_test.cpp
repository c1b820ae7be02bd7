// The switches of unattended runs, the stage an argument text selects, the
// value that carries the switches to the copy, and the log path.
#include "driver/switches.h"

#include <gtest/gtest.h>

#include <string>

namespace {

SwitchCheck Parse(const std::string& text, RunSwitches* out) {
    return SwitchesParse(text.c_str(), out);
}

} // namespace

TEST(ArgumentKind, OnlyATextBeginningWithASwitchChangesTheStageSelection) {
    for (const char* text : {"", "   ", "\t \t", "               ", "\"//tmw// C:", "abc", "x /S"})
        EXPECT_EQ(ArgumentKindOf(text), ARGUMENT_FIRST_STAGE) << text;
    for (const char* text : {"/S", "  /s", "/unknown", "\"/log=C:\\my logs\\k.txt\"", "/S and more words",
                             " \"//tmw// C:\\Apps\\KIVO\"", "//tmw// C:\\Apps\\KIVO"})
        EXPECT_EQ(ArgumentKindOf(text), ARGUMENT_SWITCHES) << text;
    for (const char* text : {"\"//tmw// C:\\Apps\\KIVO\"", "\"//tmw//_C:\\Apps\\KIVO\"", "\"//tmw// C:\\Apps",
                             "C:\\Apps\\KIVO is long"})
        EXPECT_EQ(ArgumentKindOf(text), ARGUMENT_RELAUNCH) << text;
}

TEST(Switches, EveryFormIsAcceptedWhateverItsCase) {
    RunSwitches s;
    ASSERT_EQ(Parse("/S", &s), SWITCHES_OK);
    EXPECT_TRUE(s.quiet && !s.noRestart && s.logPath[0] == '\0');
    ASSERT_EQ(Parse("\t/QUIET  /NoRestart ", &s), SWITCHES_OK);
    EXPECT_TRUE(s.quiet && s.noRestart);
    for (const char* text : {"/log=\"C:\\my logs\\k.txt\"", "\"/Log=C:\\my logs\\k.txt\"",
                             "/LOG \"C:\\my logs\\k.txt\"", "/norestart /log \"C:\\my logs\"\\k.txt"}) {
        ASSERT_EQ(Parse(text, &s), SWITCHES_OK) << text;
        EXPECT_STREQ(s.logPath, "C:\\my logs\\k.txt") << text;
        EXPECT_FALSE(s.quiet);
    }
    ASSERT_EQ(Parse("/log " + std::string(259, 'a') + " /s", &s), SWITCHES_OK);
    EXPECT_TRUE(s.quiet);
}

// A refused text still says whether it asked for quiet, so that its refusal
// shows no box.
TEST(Switches, AnythingElseIsRefusedAndAQuietRefusalStaysQuiet) {
    struct Case {
        std::string text;
        SwitchCheck check;
        bool quiet;
    };
    const Case cases[] = {
        {"/x", SWITCHES_UNKNOWN, false},
        {"/S=1 /quiet", SWITCHES_UNKNOWN, true},
        {"/S stray", SWITCHES_UNKNOWN, true},
        {"/S /quiet", SWITCHES_REPEATED, true},
        {"/log=a /LOG b", SWITCHES_REPEATED, false},
        {"/log=", SWITCHES_LOG_WITHOUT_PATH, false},
        {"/log /S", SWITCHES_LOG_WITHOUT_PATH, true},
        {"/S /log=\"C:\\my logs", SWITCHES_OPEN_QUOTE, true},
        {"/log " + std::string(260, 'a'), SWITCHES_PATH_TOO_LONG, false},
        {"/S /log=" + std::string(2040, 'a'), SWITCHES_TOO_LONG, false},
    };
    for (const Case& c : cases) {
        RunSwitches s;
        EXPECT_EQ(Parse(c.text, &s), c.check) << c.text;
        EXPECT_EQ(s.quiet, c.quiet) << c.text;
    }
}

TEST(UnattendedValue, CarriesTheSwitchesExactlyAndNothingElse) {
    RunSwitches given = {true, false, "C:\\my logs\\k.txt"};
    char value[UNATTENDED_VALUE_CAPACITY];
    ASSERT_TRUE(UnattendedValueFormat(given, value, sizeof value));
    EXPECT_STREQ(value, "10|C:\\my logs\\k.txt");
    RunSwitches taken;
    ASSERT_TRUE(UnattendedValueParse("01|", &taken));
    EXPECT_TRUE(!taken.quiet && taken.noRestart && taken.logPath[0] == '\0');
    for (const char* malformed :
         {"", "10", "10C:\\k.txt", "20|", "10|k.txt", "10|\\\\.\\nul", "10|C:\\k.txt|"})
        EXPECT_FALSE(UnattendedValueParse(malformed, &taken)) << malformed;
    RunSwitches relative = {true, true, "k.txt"};
    EXPECT_FALSE(UnattendedValueFormat(relative, value, sizeof value));
}

// Names a device in any folder, or another file than the one written.
TEST(LogPath, OnlyAFileOnADriveOrAShare) {
    for (const char* plain : {"c:\\my logs\\kivo run.txt", "\\\\server\\share\\k.txt", "C:\\logs\\com10.txt"})
        EXPECT_TRUE(LogPathIsPlain(plain)) << plain;
    for (const char* refused :
         {"k.txt", "C:k.txt", "C:\\logs\\", "C:/logs/k.txt", "\\\\.\\nul", "\\\\?\\C:\\k.txt",
          "\\\\server\\share", "C:\\logs\\..\\k.txt", "C:\\logs\\k.txt:stream", "C:\\logs\\k.txt.",
          "C:\\logs\\nul.txt", "C:\\logs\\Com1.log", "C:\\logs\\con .txt"})
        EXPECT_FALSE(LogPathIsPlain(refused)) << refused;
    EXPECT_FALSE(LogPathIsPlain(("C:\\" + std::string(257, 'a')).c_str()));
}
