// FindOwnPath and FindInstallFolder against the prefix's file system,
// environment and registry.
#include "bench/bench.h"
#include "driver/stages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";

class InstallFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bench::MakeFolders("C:\\Apps\\KIVO\\KIVO"));
        ASSERT_TRUE(bench::WriteFileBytes("C:\\Apps\\KIVO\\KIVO\\KIVO.EXE", "MZ"));
        ASSERT_TRUE(bench::MakeFolders("C:\\Other\\KIVO\\KIVO.EXE")); // a folder, not the program
    }
    void TearDown() override {
        bench::SetEnv("KIVO", nullptr);
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);
        bench::RemoveTree("C:\\Apps");
        bench::RemoveTree("C:\\Other");
    }
    static std::string Find(int expected) {
        char out[260] = "junk";
        EXPECT_EQ(FindInstallFolder(out), expected);
        return out;
    }
};

} // namespace

TEST_F(InstallFolder, KivoVariableWinsOverTheRegistry) {
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Other");
    bench::SetEnv("KIVO", "C:\\Apps\\KIVO\\KIVO");
    EXPECT_EQ(Find(0), "C:\\Apps\\KIVO\\KIVO");
    bench::SetEnv("KIVO", "C:\\Other\\KIVO"); // holds only a folder named KIVO.EXE
    Find(-1);
    bench::SetEnv("KIVO", "C:\\Nowhere"); // the registry is not asked then
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Apps\\KIVO");
    Find(-1);
}

TEST_F(InstallFolder, UninstallKeyNamesTheFolderAboveTheProgramFolder) {
    Find(-1);
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Apps\\KIVO");
    EXPECT_EQ(Find(0), "C:\\Apps\\KIVO\\KIVO");
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Apps\\KIVO\\");
    EXPECT_EQ(Find(0), "C:\\Apps\\KIVO\\KIVO");
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Other");
    Find(-1);
    // A bare drive names its root: C:\KIVO (this program's own folder, run
    // from there, so "C:KIVO" would be looked for in C:\KIVO\KIVO instead).
    ASSERT_TRUE(bench::WriteFileBytes("C:\\KIVO\\KIVO.EXE", "MZ"));
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:");
    EXPECT_EQ(Find(0), "C:\\KIVO");
    DeleteFileA("C:\\KIVO\\KIVO.EXE");
}

TEST_F(InstallFolder, OverlongTextsAreRefusedNotCut) {
    std::string longFolder = "C:\\Apps\\KIVO\\KIVO\\" + std::string(260, '.');
    bench::SetEnv("KIVO", longFolder.c_str());
    Find(-1);
    bench::SetEnv("KIVO", nullptr);
    std::string longLocation = "C:\\" + std::string(255, 'x');
    bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", longLocation);
    Find(-1);
}

TEST(OwnPath, FindsThisProgramAndItsFolder) {
    char folder[260];
    char name[260];
    ASSERT_EQ(FindOwnPath(folder, name), 0);
    EXPECT_STREQ(folder, "C:\\kivo");
    EXPECT_STREQ(name, "driver_win32_test.exe");
}

// Run by the next test in a copy of this program: reports what it finds.
TEST(OwnPath, ChildReport) {
    char report[260] = "";
    if (GetEnvironmentVariableA("KIVO_OWN_PATH_REPORT", report, sizeof report) == 0) GTEST_SKIP();
    char folder[260];
    char name[260];
    int result = FindOwnPath(folder, name);
    bench::WriteFileBytes(report, std::to_string(result) + "|" + folder + "|" + name);
}

TEST(OwnPath, ProgramInADriveRootKeepsTheRootsBackslash) {
    ASSERT_TRUE(CopyFileA("C:\\kivo\\driver_win32_test.exe", "C:\\own path.exe", FALSE));
    bench::SetEnv("KIVO_OWN_PATH_REPORT", "C:\\kivo\\own_path_report.txt");
    bench::Process child = bench::Start("\"C:\\own path.exe\" --gtest_filter=OwnPath.ChildReport");
    bench::SetEnv("KIVO_OWN_PATH_REPORT", nullptr);
    ASSERT_NE(child.handle, nullptr);
    EXPECT_EQ(bench::WaitExit(child), 0);
    bench::Close(child);
    std::string report;
    ASSERT_TRUE(bench::ReadFileBytes("C:\\kivo\\own_path_report.txt", report));
    EXPECT_EQ(report, "0|C:\\|own path.exe");
    DeleteFileA("C:\\own path.exe");
}
