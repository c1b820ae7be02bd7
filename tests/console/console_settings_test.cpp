// The user's console defaults under HKCU "Console": what the program writes
// there for its own console, and that every path leaves them as the user had
// them (or as the standard defaults when the saved ones are the program's).
#include "console_child.h"

#include "bench/bench.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const DWORD OWN_PALETTE[16] = {0x000000, 0xA00000, 0x00A000, 0xA0A000, 0x0000C0, 0xA000C0,
                               0x00A0C0, 0xD0D0C0, 0xA0A0A0, 0xFFA0A0, 0x80FF80, 0xFFFF80,
                               0x4040FF, 0xFF80FF, 0x80FFFF, 0xFFFFFF};
const DWORD STANDARD_PALETTE[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                    0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                    0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::string PaletteName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "ColorTable%02d", index);
    return name;
}

// A user's palette that differs from both tables in every entry.
void SetUserPalette(int count) {
    for (int i = 0; i < count; ++i)
        ConsoleKeySet(PaletteName(i).c_str(), 0x010203 * (i + 1));
}

void SetBase(DWORD window, DWORD buffer, DWORD colours = 0x1F, DWORD fullScreen = 0) {
    ConsoleKeySet("WindowSize", window);
    ConsoleKeySet("ScreenBufferSize", buffer);
    ConsoleKeySet("ScreenColors", colours);
    ConsoleKeySet("FullScreen", fullScreen);
}

// A snapshot of the key as it would look with these base values and palette.
std::string Expected(DWORD window, DWORD buffer, DWORD colours, const DWORD* palette) {
    ConsoleKeyReset();
    SetBase(window, buffer, colours);
    for (int i = 0; palette != nullptr && i < 16; ++i)
        ConsoleKeySet(PaletteName(i).c_str(), palette[i]);
    return ConsoleKeySnapshot();
}

class ConsoleSettings : public testing::Test {
  protected:
    void SetUp() override { ConsoleKeyReset(); }
    void TearDown() override { ConsoleKeyReset(); }
    Report report;
};

TEST_F(ConsoleSettings, SaneDefaultsComeBackExactlyAfterTheProgramsOwn) {
    SetBase(0x00190050, 0x012C0050, 0x1F);
    SetUserPalette(16);
    std::string before = ConsoleKeySnapshot();
    ASSERT_TRUE(RunChild("settings", report));
    EXPECT_EQ("1", report["apply"]);
    EXPECT_EQ(Expected(0x000C003C, 0x000C003C, 0xE0, OWN_PALETTE), report["mid"]);
    EXPECT_EQ(before, report["after"]);
}

// Defaults that fail the sanity rule, including the program's own values
// left by a run that ended between writing and restoring them. Row counts
// compare as signed 16-bit numbers, so a buffer of 0x8000 rows is not taller.
TEST_F(ConsoleSettings, InsaneDefaultsGiveWayToTheStandardOnes) {
    const DWORD cases[][2] = {{0x00190050, 0x00190050},
                              {0x0019006E, 0x012C0050},
                              {0x000C003C, 0x000C003C},
                              {0x00190050, 0x80000050}};
    for (const auto& saved : cases) {
        ConsoleKeyReset();
        SetBase(saved[0], saved[1], 0xE0);
        for (int i = 0; i < 16; ++i)
            ConsoleKeySet(PaletteName(i).c_str(), OWN_PALETTE[i]);
        ASSERT_TRUE(RunChild("settings", report));
        EXPECT_EQ("1", report["apply"]);
        EXPECT_EQ(Expected(0x00190050, 0x012C0050, 7, STANDARD_PALETTE), report["after"])
            << std::hex << saved[0];
    }
}

// Nothing may be created or changed when the defaults cannot all be saved:
// no key, no "WindowSize", a "WindowSize" of the wrong type, a base value missing.
TEST_F(ConsoleSettings, UnsavableDefaultsAreLeftUntouched) {
    for (int variant = 0; variant < 5; ++variant) {
        ConsoleKeyReset();
        if (variant >= 1) SetUserPalette(16);
        if (variant == 1 || variant == 2) ConsoleKeySet("ScreenColors", 0x1F);
        if (variant == 2) bench::RegSetString(HKEY_CURRENT_USER, "Console", "WindowSize", "80x25");
        if (variant == 3) {
            ConsoleKeySet("WindowSize", 0x00190050);
            ConsoleKeySet("ScreenBufferSize", 0x012C0050);
            ConsoleKeySet("FullScreen", 0);
        }
        if (variant == 4) {
            SetBase(0x00190050, 0x012C0050);
            bench::RegSetString(HKEY_CURRENT_USER, "Console", "FullScreen", "0");
        }
        std::string before = ConsoleKeySnapshot();
        ASSERT_TRUE(RunChild("settings", report));
        EXPECT_EQ("0", report["apply"]) << variant;
        EXPECT_EQ(before, report["mid"]) << variant;
        EXPECT_EQ(before, report["after"]) << variant;
    }
}

// A palette that cannot be saved whole is not overwritten, and no palette
// name beyond the sixteen is ever created.
TEST_F(ConsoleSettings, IncompletePaletteIsLeftAloneWhileTheBaseIsApplied) {
    SetBase(0x00190050, 0x012C0050);
    SetUserPalette(8);
    std::string before = ConsoleKeySnapshot();
    ASSERT_TRUE(RunChild("settings", report));
    EXPECT_EQ("1", report["apply"]);
    ConsoleKeyReset();
    SetBase(0x000C003C, 0x000C003C, 0xE0);
    SetUserPalette(8);
    EXPECT_EQ(ConsoleKeySnapshot(), report["mid"]);
    EXPECT_EQ(before, report["after"]);
}

TEST_F(ConsoleSettings, SecondRestoreWritesNothing) {
    SetBase(0x00190050, 0x012C0050);
    ASSERT_TRUE(RunChild("settings-twice", report));
    EXPECT_EQ(Expected(0xABCD, 0x012C0050, 0x1F, nullptr), report["after"]);
}

} // namespace
