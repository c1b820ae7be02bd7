// Shortcut removal against Wine's shell, file system and shell-link object.
#include "clean/clean.h"
#include "clean/clean_tree.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

const std::string INSTALL = "C:\\Apps\\KIVO";
const std::string OURS = INSTALL + "\\KIVO.EXE";
const std::string OTHERS = "C:\\Other\\y.exe";

bool MakeShortcut(const std::string& path, const std::string& target) {
    bench::MakeFolders(path.substr(0, path.rfind('\\')));
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(link->SetPath(target.c_str())) &&
                 SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (file != nullptr) {
        const std::wstring wide(path.begin(), path.end());
        saved = SUCCEEDED(file->Save(wide.c_str(), TRUE)) && saved;
        file->Release();
    }
    link->Release();
    return saved;
}

// The shell's desktop is <profiles>\<user>\Desktop; the walk starts at
// <profiles>. Wine keeps the real start menu under AppData, so the layout the
// walk expects ("Start Menu" beside the desktop) is built here.
struct Profiles {
    std::string root, me, desktop;
    Profiles() {
        char path[MAX_PATH] = "";
        SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE);
        desktop = path;
        me = desktop.substr(0, desktop.rfind('\\'));
        root = me.substr(0, me.rfind('\\'));
    }
};

class Shortcuts : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitialize(nullptr);
        ASSERT_TRUE(MakeTree(INSTALL, {"KIVO.EXE", "a.exe"}));
        ASSERT_TRUE(MakeTree("C:\\Apps\\KIVO2", {"x.exe"}));
        ASSERT_TRUE(MakeTree("C:\\Other", {"y.exe"}));
    }
    Profiles profiles;
};

struct Link {
    std::string path, target;
    bool stays;
};

} // namespace

TEST_F(Shortcuts, WalkFollowsTheProfileDepths) {
    const std::string d = profiles.desktop, menu = profiles.me + "\\Start Menu", p = menu + "\\Programs";
    const std::string o = profiles.root + "\\Other";
    const std::string wineMenu = profiles.me + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    const std::vector<Link> links = {
        {profiles.root + "\\kivo.lnk", OURS, false},
        {o + "\\kivo.lnk", OURS, false},
        {d + "\\kivo.lnk", OURS, false},
        {d + "\\folder.lnk", "C:\\APPS\\kivo", false},
        {d + "\\A.LNK", INSTALL + "\\a.exe", false},
        {d + "\\kivo2.lnk", "C:\\Apps\\KIVO2\\x.exe", true},
        {d + "\\.lnk", OURS, true},
        {d + "\\hidden.lnk", OURS, true},
        {menu + "\\kivo.lnk", OURS, false},
        {p + "\\KIVO\\Tools\\t.lnk", OURS, false},
        {p + "\\Mixed\\kivo.lnk", OURS, false},
        {p + "\\Mixed\\other.lnk", OTHERS, true},
        {p + "\\WithFile\\kivo.lnk", OURS, false},
        {p + "\\WithSub\\kivo.lnk", OURS, false},
        {p + "\\Locked\\kivo.lnk", OURS, false},
        {o + "\\Desktop\\kivo.lnk", OURS, false},
        {o + "\\Start Menu\\Programs\\KIVO\\kivo.lnk", OURS, false},
        {o + "\\Documents\\kivo.lnk", OURS, true},   // only desktops and start menus are searched
        {wineMenu + "\\KIVO\\kivo.lnk", OURS, true}, // Wine's own start menu is not where the walk looks
        {profiles.root + "\\Public\\Desktop\\kivo.lnk", OURS, false},
    };
    for (const Link& link : links)
        ASSERT_TRUE(MakeShortcut(link.path, link.target)) << link.path;
    ASSERT_TRUE(MakeTree(p, {"WithFile\\readme.txt", "WithSub\\Sub\\notes.txt"}));
    ASSERT_TRUE(bench::WriteFileBytes(d + "\\damaged.lnk", "not a shell link"));
    AddAttributes(d + "\\hidden.lnk", FILE_ATTRIBUTE_HIDDEN);
    AddAttributes(p + "\\Locked", FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(1, ShortcutsRemove(INSTALL.c_str()));
    EXPECT_TRUE(comInitialized);
    for (const Link& link : links)
        EXPECT_EQ(link.stays, bench::Exists(link.path)) << link.path;
    EXPECT_FALSE(HasAttributes(d + "\\hidden.lnk", FILE_ATTRIBUTE_HIDDEN)); // shown again, not deleted
    EXPECT_TRUE(bench::Exists(d + "\\damaged.lnk"));
    // Emptied groups go, read-only or not; the program folder stays even empty.
    for (const std::string& gone : {p + "\\KIVO", p + "\\Locked", o + "\\Start Menu\\Programs\\KIVO"})
        EXPECT_FALSE(bench::Exists(gone)) << gone;
    for (const std::string& kept :
         {p + "\\WithFile\\readme.txt", p + "\\WithSub\\Sub\\notes.txt", o + "\\Start Menu\\Programs"})
        EXPECT_TRUE(bench::Exists(kept)) << kept;
    EXPECT_TRUE(bench::Exists(OURS)); // targets are never touched
}

TEST_F(Shortcuts, UndeletableShortcutKeepsItsGroupAndFails) {
    const std::string group = profiles.me + "\\Start Menu\\Programs\\Stuck";
    ASSERT_TRUE(MakeShortcut(group + "\\kivo.lnk", OURS));
    AddAttributes(group + "\\kivo.lnk", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, ShortcutsRemove(INSTALL.c_str()));
    EXPECT_TRUE(HasAttributes(group + "\\kivo.lnk", FILE_ATTRIBUTE_READONLY));
    bench::RemoveTree(group);
}

TEST_F(Shortcuts, WithoutInstallFolderOnlyBrokenShortcutsGo) {
    ASSERT_TRUE(MakeTree("C:\\Gone", {"old.exe"}));
    ASSERT_TRUE(MakeShortcut(profiles.desktop + "\\broken.lnk", "C:\\Gone\\old.exe"));
    ASSERT_TRUE(MakeShortcut(profiles.desktop + "\\alive.lnk", OTHERS));
    bench::RemoveTree("C:\\Gone");
    EXPECT_EQ(1, ShortcutsRemove(""));
    EXPECT_FALSE(bench::Exists(profiles.desktop + "\\broken.lnk"));
    EXPECT_TRUE(bench::Exists(profiles.desktop + "\\alive.lnk"));
}

// A shortcut whose path would overrun the walk's 261-byte path is left and
// reported, never silently passed over.
TEST_F(Shortcuts, ShortcutBeyondTheWalkPathStaysAndFails) {
    const std::string folder = profiles.desktop + "\\" + std::string(190, 'f');
    const std::string link = folder + "\\" + std::string(70, 'k') + ".lnk";
    ASSERT_TRUE(MakeLongFolder(folder) && MakeLongFile(link));
    EXPECT_EQ(0, ShortcutsRemove(INSTALL.c_str()));
    EXPECT_TRUE(LongExists(link));
}

// On Windows 9x the walk starts at the folder that holds the desktop (one
// profile) and removes groups from depth 4 on.
class Shortcuts9x : public Shortcuts {};

TEST_F(Shortcuts9x, WalkStartsAtTheDesktopsFolder) {
    ASSERT_NE(0u, GetVersion() & 0x80000000u) << "the prefix must be set to Windows 98";
    const std::string me = profiles.me;
    const std::vector<std::string> links = {
        profiles.desktop + "\\kivo.lnk",
        me + "\\Start Menu\\kivo.lnk",
        me + "\\Start Menu\\Programs\\KIVO\\k.lnk",
        me + "\\Windows\\Start Menu\\KIVO\\k.lnk",
        profiles.root + "\\Other\\Desktop\\kivo.lnk",
    };
    for (const std::string& link : links)
        ASSERT_TRUE(MakeShortcut(link, OURS)) << link;
    EXPECT_EQ(1, ShortcutsRemove(INSTALL.c_str()));
    EXPECT_FALSE(bench::Exists(links[0]));
    EXPECT_FALSE(bench::Exists(links[1]));
    EXPECT_TRUE(bench::Exists(links[2])); // below a depth-2 folder only its namesakes are entered
    EXPECT_FALSE(bench::Exists(me + "\\Windows\\Start Menu\\KIVO")); // depth 4: removed
    EXPECT_TRUE(bench::IsFolder(me + "\\Windows\\Start Menu"));
    EXPECT_TRUE(bench::Exists(links[4])); // other profiles are not searched
}
