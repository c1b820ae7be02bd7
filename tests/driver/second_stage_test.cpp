// The second stage's own operations under Wine: the environment broadcast
// and its failure branch, the system tests, COM release, and the retrying
// deletion command run by the real command interpreter.
#include "bench/bench.h"
#include "clean/clean.h"
#include "driver/driver_state.h"
#include "driver/private_copy.h"
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

// Only Windows 9x takes its interpreter from COMSPEC; on the NT family the
// deletion would start and end this very process.
TEST(DeleteOwnCopyTest, Windows9xWithoutComspecNothingStarts) {
    if ((GetVersion() & 0x80000000u) == 0) GTEST_SKIP() << "the NT family does not read COMSPEC";
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("COMSPEC", saved, MAX_PATH);
    bench::SetEnv("COMSPEC", nullptr);
    EXPECT_EQ(DeleteOwnCopy(), -1);
    std::string tooLong = "C:\\" + std::string(300, 'x') + "\\cmd.exe";
    bench::SetEnv("COMSPEC", tooLong.c_str());
    EXPECT_EQ(DeleteOwnCopy(), -1);
    bench::SetEnv("COMSPEC", saved);
}

// Two read-only copies, held (as the ending process holds its own image) for
// two seconds after the interpreter starts, in folders whose path holds every
// character cmd.exe would otherwise parse: each command outlasts the hold and
// deletes exactly its copy, and the private folder with it. COMSPEC names no
// program: the NT family's interpreter is the system folder's.
TEST(DeleteCommandRun, DeletesExactlyTheHeldCopyAndItsPrivateFolder) {
    const std::string parent = "C:\\odd %PATH% !x! ^a & (b) ;,=";
    const std::string folders[] = {parent + "\\uninstKIVO-0123456789ABCDEF", parent + "\\run"};
    const std::string name = "unins KIVO.exe";
    ASSERT_TRUE(bench::MakeFolders(parent) && bench::WriteFileBytes(parent + "\\" + name, "not the copy"));
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("COMSPEC", saved, MAX_PATH);
    bench::SetEnv("COMSPEC", "C:\\nowhere\\cmd.exe");
    HANDLE held[2];
    for (int i = 0; i < 2; ++i) {
        const std::string copy = folders[i] + "\\" + name;
        ASSERT_TRUE(bench::MakeFolders(folders[i]) && bench::WriteFileBytes(copy, "the copy"));
        SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_READONLY);
        held[i] =
            CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held[i], INVALID_HANDLE_VALUE);
        EXPECT_EQ(PrivateCopyDelete(folders[i].c_str(), name.c_str()), 0);
    }
    bench::SetEnv("COMSPEC", saved);
    Sleep(2000);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(bench::Exists(folders[i] + "\\" + name)) << "deleted while held";
        CloseHandle(held[i]);
    }
    for (DWORD waited = 0; waited < 45000 && bench::Exists(folders[1] + "\\" + name); waited += 200)
        Sleep(200);
    for (DWORD waited = 0; waited < 5000 && bench::Exists(folders[0]); waited += 200)
        Sleep(200);
    EXPECT_FALSE(bench::Exists(folders[0])) << "the private folder stayed";
    EXPECT_FALSE(bench::Exists(folders[1] + "\\" + name));
    EXPECT_TRUE(bench::IsFolder(folders[1])) << "a folder of somebody else's went";
    EXPECT_TRUE(bench::Exists(parent + "\\" + name));
    bench::RemoveTree(parent);
}

namespace {

// Swaps another program in under the program's name between the check and the copy.
std::string swapProgram;
void SwapProgramIn() {
    bench::WriteFileBytes(swapProgram, "MZ planted program");
}

} // namespace

// The copy is made only of the file this process runs from, read through a
// handle that proves it: a program that was put in its place is refused and
// leaves no copy and no folder; the running program's own file is copied
// byte for byte and held against writers.
TEST(PrivateCopyMake, CopiesOnlyTheRunningProgram) {
    char own[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, own, MAX_PATH), 0u);
    const std::string temp = "C:\\copytemp";
    swapProgram = "C:\\copysource\\uninstKIVO.exe";
    ASSERT_TRUE(bench::MakeFolders(temp) && bench::MakeFolders("C:\\copysource"));
    ASSERT_TRUE(CopyFileA(own, swapProgram.c_str(), FALSE)); // the same bytes, another file
    char copyPath[MAX_PATH] = "x";
    HANDLE held = nullptr;
    for (bool swapped : {false, true}) {
        beforeCopyHook = swapped ? SwapProgramIn : nullptr;
        EXPECT_EQ(PrivateCopyMake(swapProgram.c_str(), temp.c_str(), "uninstKIVO.exe", copyPath, &held), -2);
        EXPECT_STREQ(copyPath, "");
        EXPECT_EQ(held, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(bench::ListTree(temp).empty()) << swapped;
    }
    beforeCopyHook = nullptr;
    ASSERT_EQ(PrivateCopyMake(own, temp.c_str(), "uninstKIVO.exe", copyPath, &held), 0);
    std::string original, copied;
    ASSERT_TRUE(bench::ReadFileBytes(own, original) && bench::ReadFileBytes(copyPath, copied));
    EXPECT_TRUE(original == copied) << "the copy differs from the running program";
    EXPECT_FALSE(bench::WriteFileBytes(copyPath, "changed")) << "the copy is not held against writers";
    CloseHandle(held);
    bench::RemoveTree(temp);
    bench::RemoveTree("C:\\copysource");
}
