// Which folders may be taken for the installation, against the prefix's own
// Windows, profile and known folders. C:\Links holds two links made on the
// Linux side: Moved leads to the Windows folder, Linked to C:\Real\KIVO.
#include "bench/bench.h"
#include "driver/folder_safety.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const profileListKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char* const otherProfileKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1001";

// The check by the text, and the same check on the folder held, which must
// agree and hold a handle only when the folder is safe.
FolderSafety Check(const std::string& folder, std::string* made = nullptr) {
    char text[260];
    lstrcpynA(text, folder.c_str(), sizeof text);
    const FolderSafety safety = InstallFolderCheck(text, sizeof text);
    if (made != nullptr) *made = text;
    lstrcpynA(text, folder.c_str(), sizeof text);
    void* held = nullptr;
    EXPECT_EQ(InstallFolderHold(text, sizeof text, nullptr, &held), safety) << folder;
    EXPECT_EQ(held != nullptr, safety == FOLDER_SAFE) << folder;
    if (held != nullptr) CloseHandle(held);
    return safety;
}

std::string ShellFolder(int id) {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, id | CSIDL_FLAG_DONT_VERIFY, nullptr, 0, path);
    return path;
}

class InstallFolderSafety : public ::testing::Test {
  protected:
    void SetUp() override {
        // Another user's profile, only known from the profile list.
        ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, otherProfileKey, "ProfileImagePath",
                                        "%SystemDrive%\\Profiles\\bob", REG_EXPAND_SZ));
        // The profile shared by all users in the layout before Vista: a name
        // inside the profiles' folder.
        ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, profileListKey, "AllUsersProfile", "All Users"));
        for (const char* folder :
             {"C:\\Apps\\KIVO\\DOC", "C:\\Profiles\\bob\\Documents", "C:\\Profiles\\bob\\KIVO"})
            ASSERT_TRUE(bench::MakeFolders(folder));
    }
    void TearDown() override {
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, otherProfileKey);
        HKEY list;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, profileListKey, 0, KEY_SET_VALUE, &list) == ERROR_SUCCESS) {
            RegDeleteValueA(list, "AllUsersProfile");
            RegCloseKey(list);
        }
        bench::RemoveTree("C:\\users\\All Users");
        bench::RemoveTree("C:\\Apps");
        bench::RemoveTree("C:\\Profiles");
    }
};

} // namespace

TEST_F(InstallFolderSafety, FoldersOfWindowsAndOfItsUsersAreReserved) {
    const std::string profile = ShellFolder(CSIDL_PROFILE);
    char shortName[MAX_PATH] = "";
    GetShortPathNameA("C:\\Program Files", shortName, sizeof shortName);
    ASSERT_TRUE(bench::MakeFolders(ShellFolder(CSIDL_PERSONAL)));
    for (const std::string& folder :
         {std::string("C:\\windows"), std::string("c:\\WINDOWS\\system32"), std::string("C:\\windows\\Temp"),
          std::string("C:\\Program Files"), std::string(shortName), std::string("C:\\ProgramData"),
          std::string("C:\\users"), std::string("C:\\users\\Public"), profile, profile + "\\AppData",
          ShellFolder(CSIDL_PERSONAL), ShellFolder(CSIDL_DESKTOPDIRECTORY), ShellFolder(CSIDL_STARTMENU),
          ShellFolder(CSIDL_COMMON_STARTMENU), bench::TempFolder(), std::string("C:\\Profiles"),
          std::string("C:\\Profiles\\bob"), std::string("C:\\Profiles\\bob\\Documents"),
          std::string("C:\\Links\\Moved")}) {
        bench::MakeFolders(folder);
        EXPECT_EQ(Check(folder), FOLDER_RESERVED) << folder;
    }
    // The shared profile, and the same folder in it as the user's own Documents.
    for (const char* shared : {"C:\\users\\All Users", "C:\\users\\All Users\\Documents"}) {
        bench::MakeFolders(shared);
        EXPECT_EQ(Check(shared), FOLDER_RESERVED) << shared;
    }
    const std::string downloads = profile + "\\Downloads"; // a known folder without an old number
    ASSERT_TRUE(bench::IsFolder(downloads));
    EXPECT_EQ(Check(downloads), FOLDER_RESERVED);
}

// Made full and long: "." and "..", "/", a trailing "\" and short names are
// gone; a link keeps its own path (a moved installation).
TEST_F(InstallFolderSafety, OrdinaryFoldersAreMadeFullAndLong) {
    std::string made;
    EXPECT_EQ(Check("C:\\Apps\\KIVO\\DOC\\.\\..", &made), FOLDER_SAFE);
    EXPECT_EQ(made, "C:\\Apps\\KIVO");
    EXPECT_EQ(Check("C:/Apps/KIVO/DOC/", &made), FOLDER_SAFE);
    EXPECT_EQ(made, "C:\\Apps\\KIVO\\DOC");
    ASSERT_TRUE(bench::MakeFolders("C:\\Program Files\\KIVO Suite"));
    char shortName[MAX_PATH] = "";
    GetShortPathNameA("C:\\Program Files\\KIVO Suite", shortName, sizeof shortName);
    EXPECT_EQ(Check(shortName, &made), FOLDER_SAFE) << shortName;
    EXPECT_EQ(made, "C:\\Program Files\\KIVO Suite");
    bench::RemoveTree("C:\\Program Files\\KIVO Suite");
    const std::string inProfile = ShellFolder(CSIDL_LOCAL_APPDATA) + "\\KIVO";
    ASSERT_TRUE(bench::MakeFolders(inProfile));
    EXPECT_EQ(Check(inProfile), FOLDER_SAFE);
    bench::RemoveTree(inProfile);
    EXPECT_EQ(Check("C:\\Profiles\\bob\\KIVO"), FOLDER_SAFE);
    EXPECT_EQ(Check("C:\\Links\\Linked", &made), FOLDER_SAFE);
    EXPECT_EQ(made, "C:\\Links\\Linked");
}

TEST_F(InstallFolderSafety, RootsMissingFoldersAndFilesAreRefused) {
    for (const char* root : {"C:\\Apps\\..", "c:\\.", "C:\\Apps\\KIVO\\..\\..\\."})
        EXPECT_EQ(Check(root), FOLDER_ROOT) << root;
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Apps\\KIVO\\file", "x"));
    for (const char* unusable : {"C:\\Apps\\Missing", "C:\\Apps\\KIVO\\file", "C:\\Apps\\KIVO\t"})
        EXPECT_EQ(Check(unusable), FOLDER_UNRESOLVED) << unusable;
    ASSERT_TRUE(bench::MakeFolders("C:\\Apps\\a long name"));
    char text[40] = "C:\\Apps\\a long name";
    EXPECT_EQ(InstallFolderCheck(text, 12), FOLDER_UNRESOLVED); // the full path does not fit
}

// Held, the folder can be neither renamed nor deleted (Windows' own sharing
// rules; a rename made on the Linux side passes Wine by). A handle passed on
// is held only while the text still names its folder: another folder put in
// the place of the one checked is refused, and the handle let go.
TEST_F(InstallFolderSafety, HeldFolderStaysAndAnotherInItsPlaceIsRefused) {
    char text[260] = "C:\\Apps\\KIVO";
    void* held = nullptr;
    ASSERT_EQ(InstallFolderHold(text, sizeof text, nullptr, &held), FOLDER_SAFE);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(MoveFileA("C:\\Apps\\KIVO", "C:\\Apps\\Away"));
    EXPECT_TRUE(bench::IsFolder("C:\\Apps\\KIVO\\DOC"));
    char final[260];
    ASSERT_TRUE(HandleFinalPath(held, final));
    EXPECT_STREQ(final, "C:\\Apps\\KIVO");

    ASSERT_TRUE(bench::MakeFolders("C:\\Apps\\Other"));
    HANDLE other =
        CreateFileA("C:\\Apps\\Other", FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    void* passedOn = nullptr;
    EXPECT_EQ(InstallFolderHold(text, sizeof text, other, &passedOn), FOLDER_UNRESOLVED);
    EXPECT_EQ(passedOn, nullptr);
    EXPECT_EQ(GetFileType(other), static_cast<DWORD>(FILE_TYPE_UNKNOWN)) << "the handle passed on was kept";
    CloseHandle(held);
    EXPECT_TRUE(MoveFileA("C:\\Apps\\Other", "C:\\Apps\\Away"));
}

// Before Vista there is no final path: the native object name, its device
// made a drive letter again, gives the same answers.
TEST_F(InstallFolderSafety, NativeObjectNamesGiveTheSameAnswers) {
    finalPathByObjectName = true;
    char final[260] = "";
    HANDLE folder = CreateFileA("C:\\Links\\Linked", FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_TRUE(HandleFinalPath(folder, final));
    CloseHandle(folder);
    EXPECT_STRCASEEQ(final, "C:\\Real\\KIVO");
    EXPECT_EQ(Check("C:\\Links\\Moved"), FOLDER_RESERVED);
    EXPECT_EQ(Check("C:\\windows\\system32"), FOLDER_RESERVED);
    EXPECT_EQ(Check("C:\\Links\\Linked"), FOLDER_SAFE);
    EXPECT_EQ(Check("C:\\Apps\\KIVO"), FOLDER_SAFE);
    finalPathByObjectName = false;
}
