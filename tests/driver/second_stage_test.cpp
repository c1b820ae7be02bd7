// The second stage's own operations under Wine: the environment broadcast
// and its failure branch, the system tests, COM release, and the retrying
// deletion command run by the real command interpreter.
#include "bench/bench.h"
#include "clean/clean.h"
#include "driver/delete_command.h"
#include "driver/driver_state.h"
#include "driver/second_stage.h"
#include "driver/stages.h"

#include <objbase.h>

#include <gtest/gtest.h>

namespace {

int broadcasts = 0;
int FailingBroadcast() {
    ++broadcasts;
    return 0;
}
int DeliveredBroadcast() {
    ++broadcasts;
    return 1;
}

class EnvironmentChange : public ::testing::Test {
  protected:
    void SetUp() override {
        broadcasts = 0;
        environmentChanged = 0;
        restartNeeded = 0;
    }
    void TearDown() override { environmentBroadcast = BroadcastEnvironmentChange; }
};

} // namespace

TEST_F(EnvironmentChange, FailedBroadcastAsksForARestart) {
    environmentChanged = -1;
    environmentBroadcast = FailingBroadcast;
    AnnounceEnvironmentChange();
    EXPECT_EQ(broadcasts, 1);
    EXPECT_EQ(restartNeeded, -1);
}

TEST_F(EnvironmentChange, DeliveredBroadcastNeedsNoRestart) {
    environmentChanged = -1;
    environmentBroadcast = DeliveredBroadcast;
    AnnounceEnvironmentChange();
    EXPECT_EQ(broadcasts, 1);
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(EnvironmentChange, NothingChangedNothingSent) {
    environmentBroadcast = FailingBroadcast;
    AnnounceEnvironmentChange();
    EXPECT_EQ(broadcasts, 0);
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(EnvironmentChange, RealBroadcastIsDelivered) {
    EXPECT_NE(BroadcastEnvironmentChange(), 0);
}

// Registered twice: as Windows 10 and as Windows 98.
TEST(SystemChecks, FamilyAndAdministrator) {
    bool win9x = (GetVersion() & 0x80000000u) != 0;
    EXPECT_EQ(IsWindowsNT(), win9x ? 0 : -1);
    EXPECT_EQ(IsAdministrator(), -1); // the prefix's user is an administrator
    EXPECT_TRUE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"));
}

TEST(ReleaseComTest, UninitialisesOnceAndOnlyWhenMarked) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    comInitialized = true;
    ReleaseCom();
    EXPECT_FALSE(comInitialized);
    // COM is off again for this thread: initialising it is new, not nested.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    ReleaseCom(); // not marked: must leave our own initialisation alone
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
}

TEST(DeleteOwnCopyTest, WithoutComspecNothingStarts) {
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("COMSPEC", saved, MAX_PATH);
    bench::SetEnv("COMSPEC", nullptr);
    EXPECT_EQ(DeleteOwnCopy(), -1);
    std::string tooLong = "C:\\" + std::string(300, 'x') + "\\cmd.exe";
    bench::SetEnv("COMSPEC", tooLong.c_str());
    EXPECT_EQ(DeleteOwnCopy(), -1);
    bench::SetEnv("COMSPEC", saved);
}

// The file is held (as the ending process holds its own image) for two
// seconds after the interpreter starts; the command must outlast that.
TEST(DeleteCommandRun, WaitsUntilTheFileIsReleased) {
    const std::string folder = "C:\\held folder";
    const std::string path = folder + "\\uninstKIVO.exe";
    ASSERT_TRUE(bench::MakeFolders(folder));
    ASSERT_TRUE(bench::WriteFileBytes(path, "the copy"));
    HANDLE held =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    char comspec[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA("COMSPEC", comspec, MAX_PATH), 0u);
    char line[DELETE_COMMAND_CAPACITY];
    ASSERT_EQ(DeleteCommandFormat(line, sizeof line, comspec, folder.c_str(), "uninstKIVO.exe"), 0);
    bench::Process interpreter = bench::Start(line);
    ASSERT_NE(interpreter.handle, nullptr);
    Sleep(2000);
    EXPECT_TRUE(bench::Exists(path)) << "deleted while held";
    CloseHandle(held);
    EXPECT_EQ(bench::WaitExit(interpreter, 40000), 0);
    bench::Close(interpreter);
    EXPECT_FALSE(bench::Exists(path));
}
