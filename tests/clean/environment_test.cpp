// Environment-variable cleaning: the registry on the NT family, the start-up
// batch file in a prefix set to Windows 98.
#include "clean/clean.h"
#include "clean/clean_tree.h"
#include "driver/driver_state.h"

#include <gtest/gtest.h>

namespace {

const char USER_KEY[] = "Environment";
const char MACHINE_KEY[] = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char BATCH[] = "c:\\autoexec.bat";

std::string Batch() {
    std::string bytes;
    bench::ReadFileBytes(BATCH, bytes);
    return bytes;
}

void ResetFlags() {
    environmentChanged = 0;
    restartNeeded = 0;
}

} // namespace

TEST(EnvironmentNT, DeletesWhatIsThereAndSaysSo) {
    isNT = -1;
    ResetFlags();
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, USER_KEY, "KIVO", "C:\\Apps\\KIVO"));
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, USER_KEY, "KIVO2", "stays"));
    ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, MACHINE_KEY, "REVERIRA", "C:\\R", REG_EXPAND_SZ));
    ASSERT_TRUE(bench::WriteFileBytes(BATCH, "set KIVO=C:\\KIVO\r\nrem\r\n"));
    EnvironmentRemoveVariables();
    EXPECT_EQ(-1, environmentChanged);
    EXPECT_EQ(0, restartNeeded);
    EXPECT_FALSE(bench::RegValueExists(HKEY_CURRENT_USER, USER_KEY, "KIVO"));
    EXPECT_FALSE(bench::RegValueExists(HKEY_LOCAL_MACHINE, MACHINE_KEY, "REVERIRA"));
    EXPECT_TRUE(bench::RegValueExists(HKEY_CURRENT_USER, USER_KEY, "KIVO2"));
    EXPECT_TRUE(bench::RegValueExists(HKEY_LOCAL_MACHINE, MACHINE_KEY, "PATH"));
    EXPECT_EQ("set KIVO=C:\\KIVO\r\nrem\r\n", Batch()); // the batch file is for Windows 9x only

    ResetFlags();
    EnvironmentRemoveVariables(); // nothing left: no flag
    EXPECT_EQ(0, environmentChanged);
}

class Environment9x : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(0u, GetVersion() & 0x80000000u) << "the prefix must be set to Windows 98";
        isNT = 0; // as the driver's entry decides it from the version
        ResetFlags();
        SetFileAttributesA(BATCH, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(BATCH);
        DeleteFileA("d:\\autoexec.bat");
    }
    void Edits(const std::string& before, const char* name, const std::string& after) {
        ASSERT_TRUE(bench::WriteFileBytes(BATCH, before));
        EXPECT_EQ(0, AutoexecRemoveVariable(name));
        EXPECT_EQ(after, Batch());
    }
};

TEST_F(Environment9x, RemovesTheFirstLineNamingTheVariable) {
    Edits("ECHO OFF\r\nset KIVO=C:\\KIVO\r\nPATH C:\\DOS\r\n", "KIVO", "ECHO OFF\r\nPATH C:\\DOS\r\n");
    Edits("rem set KIVO=C:\\X\r\nset KIVO=C:\\Y\r\n", "KIVO", "set KIVO=C:\\Y\r\n");
    Edits("set KIVO2=1\r\nx\r\n", "KIVO", "x\r\n");
    Edits("SET KIVO=C:\\X\r\nset REVERIRA=C:\\T\r\n", "KIVO", "SET KIVO=C:\\X\r\nset REVERIRA=C:\\T\r\n");
    Edits("set REVERIRA=C:\\T\r\nset KIVO=1", "KIVO", "set REVERIRA=C:\\T\r\n"); // last line, no line feed
    // Bare line feeds: the last byte of a line is not examined.
    Edits("a\nset KIVO\nset KIVO=1\nb\n", "KIVO", "a\nset KIVO\nb\n");
    Edits("set KIVO=C:\\KIVO\r\n", "KIVO", "set KIVO=C:\\KIVO\r\n"); // the only line stays
    Edits("", "KIVO", "");
}

TEST_F(Environment9x, StepAsksForARestartWheneverAFileWasHandled) {
    ASSERT_TRUE(bench::WriteFileBytes(BATCH, "ECHO OFF\r\nPATH C:\\DOS\r\n"));
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, USER_KEY, "KIVO", "C:\\Apps\\KIVO"));
    EnvironmentRemoveVariables();
    EXPECT_EQ(-1, restartNeeded);
    EXPECT_EQ(0, environmentChanged);
    EXPECT_EQ("ECHO OFF\r\nPATH C:\\DOS\r\n", Batch());
    EXPECT_TRUE(bench::RegValueExists(HKEY_CURRENT_USER, USER_KEY, "KIVO")); // the registry is for NT only

    ResetFlags();
    DeleteFileA(BATCH);
    EXPECT_EQ(1, AutoexecRemoveVariable("KIVO"));
    EnvironmentRemoveVariables();
    EXPECT_EQ(0, restartNeeded);
}

// Each variable it names is reported as staying; one it does not name is
// not, and asks for no restart.
TEST_F(Environment9x, ReadOnlyFileIsRefusedAndKept) {
    const std::string text = "set KIVO=C:\\KIVO\r\nset REVERIRA=C:\\T\r\n";
    ASSERT_TRUE(bench::WriteFileBytes(BATCH, text));
    AddAttributes(BATCH, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(5, AutoexecRemoveVariable("KIVO"));
    EXPECT_EQ(1, AutoexecRemoveVariable("KIVO2"));
    static std::string reported;
    removalFailed = [](const char* what, const char* name) {
        reported += std::string(what) + ": " + name + ";";
    };
    EnvironmentRemoveVariables();
    removalFailed = nullptr;
    EXPECT_EQ(reported, "variable of autoexec.bat: KIVO;variable of autoexec.bat: REVERIRA;");
    EXPECT_EQ(0, restartNeeded);
    EXPECT_EQ(text, Batch());
    EXPECT_TRUE(HasAttributes(BATCH, FILE_ATTRIBUTE_READONLY));
}

// The prefix gets a drive D: (see tests.cmake); C: wins while it has a file.
TEST_F(Environment9x, SecondDriveIsTheFallback) {
    const std::string text = "x\r\nset KIVO=1\r\n";
    ASSERT_TRUE(bench::WriteFileBytes("d:\\autoexec.bat", text));
    ASSERT_TRUE(bench::WriteFileBytes(BATCH, "rem\r\n"));
    EXPECT_EQ(0, AutoexecRemoveVariable("KIVO"));
    std::string bytes;
    EXPECT_TRUE(bench::ReadFileBytes("d:\\autoexec.bat", bytes) && bytes == text);
    DeleteFileA(BATCH);
    EXPECT_EQ(0, AutoexecRemoveVariable("KIVO"));
    EXPECT_TRUE(bench::ReadFileBytes("d:\\autoexec.bat", bytes) && bytes == "x\r\n");
}
