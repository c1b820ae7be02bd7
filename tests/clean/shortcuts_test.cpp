// Shortcut removal against Wine's shell, file system and shell-link object.
#include "clean/clean.h"
#include "clean/clean_tree.h"
#include "clean/shell_items.h"
#include "platform/handle_walk.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string INSTALL = "C:\\Apps\\KIVO";
const std::string OURS = INSTALL + "\\KIVO.EXE";
const std::string OTHERS = "C:\\Other\\y.exe";
const std::string PROFILE_LIST =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-";

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

// The folders of a profile as Windows keeps them since Vista.
struct VistaProfile {
    std::string desktop, menu, programs, quickLaunch, taskbarPins, startPins;
    explicit VistaProfile(const std::string& profile)
        : desktop(profile + "\\Desktop"),
          menu(profile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"), programs(menu + "\\Programs"),
          quickLaunch(profile + "\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch"),
          taskbarPins(quickLaunch + "\\User Pinned\\TaskBar"),
          startPins(quickLaunch + "\\User Pinned\\StartMenu") {}
};

std::string Upper(std::string text) {
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Wine's shell has no unpin command, so pins meet this stand-in: it notes
// each call and takes taskbar pins away as the shell would; start-menu pins
// are left to the deletion, as on systems without that command.
std::vector<std::string> unpinCalls; // "VERB PATH", with "gone" when the pin was no longer there
int RecordUnpin(const char* path, const char* verb) {
    unpinCalls.push_back(Upper(std::string(verb) + " " + path + (bench::Exists(path) ? "" : " gone")));
    if (std::string(verb) == "taskbarunpin") DeleteFileA(path);
    return 1;
}

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
        {o + "\\Documents\\kivo.lnk", OURS, true},    // only desktops and start menus are searched
        {wineMenu + "\\KIVO\\kivo.lnk", OURS, false}, // the user's own start menu, wherever it lies
        {o + "\\Start Menu\\Programs\\Startup\\kivo.lnk", OURS, false},
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
    for (const std::string& kept : {p + "\\WithFile\\readme.txt", p + "\\WithSub\\Sub\\notes.txt",
                                    o + "\\Start Menu\\Programs", o + "\\Start Menu\\Programs\\Startup"})
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

// Three registered profiles (Wine's user, one beside it, one only the
// registry leads to) and the folders of all users, each with our shortcuts
// beside foreign ones. A hidden shortcut of ours in each place is only shown
// again on a first visit: a second visit would delete it. One profile is
// listed twice, written in short form and lower case.
TEST_F(Shortcuts, EveryPlaceOfEveryProfileIsWalkedOnce) {
    const std::string alice = profiles.root + "\\Alice Martin", carol = "C:\\Elsewhere\\carol";
    ASSERT_TRUE(bench::MakeFolders(alice) && bench::MakeFolders(carol));
    std::string aliceAgain(MAX_PATH, '\0');
    aliceAgain.resize(GetShortPathNameA(alice.c_str(), &aliceAgain[0], MAX_PATH));
    CharLowerBuffA(&aliceAgain[0], static_cast<DWORD>(aliceAgain.size()));
    ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, PROFILE_LIST + "1001", "ProfileImagePath", alice));
    ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, PROFILE_LIST + "1002", "ProfileImagePath",
                                    "%SystemDrive%\\Elsewhere\\carol", REG_EXPAND_SZ));
    ASSERT_TRUE(
        bench::RegSetString(HKEY_LOCAL_MACHINE, PROFILE_LIST + "1003", "ProfileImagePath", aliceAgain));

    std::vector<Link> links;
    std::vector<std::string> hidden, groups, windowsFolders;
    for (const std::string& profile : {profiles.me, alice, carol}) {
        const VistaProfile v(profile);
        for (const std::string& place : {v.desktop, v.menu, v.quickLaunch, v.taskbarPins, v.startPins}) {
            links.push_back({place + "\\kivo.lnk", OURS, false});
            links.push_back({place + "\\other.lnk", OTHERS, true});
            hidden.push_back(place + "\\hidden.lnk");
        }
        links.push_back({v.programs + "\\KIVO\\kivo.lnk", OURS, false});
        links.push_back({v.programs + "\\KIVO\\Tools\\tools.lnk", INSTALL + "\\a.exe", false});
        links.push_back({v.programs + "\\Startup\\kivo.lnk", OURS, false});
        links.push_back({v.programs + "\\Shared\\kivo.lnk", OURS, false});
        links.push_back({v.programs + "\\Shared\\other.lnk", OTHERS, true});
        groups.push_back(v.programs + "\\KIVO\\Tools");
        groups.push_back(v.programs + "\\KIVO");
        windowsFolders.push_back(v.programs + "\\Startup");
        windowsFolders.push_back(v.taskbarPins);
    }
    // The shell unpins from the current user's taskbar and start menu only;
    // other users' pins are just deleted.
    const VistaProfile mine(profiles.me);
    std::vector<std::string> pinsUnpinned = {Upper("startunpin " + mine.startPins + "\\kivo.lnk"),
                                             Upper("taskbarunpin " + mine.taskbarPins + "\\kivo.lnk")};
    const std::string commonPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    for (const std::string& place : {profiles.root + "\\Public\\Desktop", commonPrograms}) {
        links.push_back({place + "\\KIVO\\kivo.lnk", OURS, false});
        links.push_back({place + "\\other.lnk", OTHERS, true});
        hidden.push_back(place + "\\hidden.lnk");
    }
    groups.push_back(commonPrograms + "\\KIVO");
    for (const Link& link : links)
        ASSERT_TRUE(MakeShortcut(link.path, link.target)) << link.path;
    for (const std::string& link : hidden) {
        ASSERT_TRUE(MakeShortcut(link, OURS)) << link;
        AddAttributes(link, FILE_ATTRIBUTE_HIDDEN);
    }

    unpinCalls.clear();
    shortcutUnpin = RecordUnpin;
    ASSERT_TRUE(bench::ListenToShell());
    EXPECT_EQ(1, ShortcutsRemove(INSTALL.c_str()));
    const std::vector<bench::ShellEvent> events = bench::ShellEventsSeen();
    shortcutUnpin = ShellItemInvokeVerb;

    std::vector<std::string> deleted;
    for (const Link& link : links) {
        EXPECT_EQ(link.stays, bench::Exists(link.path)) << link.path;
        if (!link.stays) deleted.push_back(Upper(link.path));
    }
    for (const std::string& link : hidden)
        EXPECT_TRUE(bench::Exists(link) && !HasAttributes(link, FILE_ATTRIBUTE_HIDDEN))
            << "walked twice: " << link;
    for (const std::string& group : groups)
        EXPECT_FALSE(bench::Exists(group)) << group;
    for (const std::string& folder : windowsFolders)
        EXPECT_TRUE(bench::IsFolder(folder)) << folder;
    std::sort(unpinCalls.begin(), unpinCalls.end());
    EXPECT_EQ(pinsUnpinned, unpinCalls); // each once, before its file went

    // Explorer hears of each shortcut and group once.
    std::vector<std::string> heardDeleted, heardRemoved;
    for (const bench::ShellEvent& event : events) {
        EXPECT_TRUE(event.event == SHCNE_DELETE || event.event == SHCNE_RMDIR)
            << event.event << " " << event.path;
        (event.event == SHCNE_DELETE ? heardDeleted : heardRemoved).push_back(Upper(event.path));
    }
    for (std::string& group : groups)
        group = Upper(group);
    for (std::vector<std::string>* paths : {&deleted, &heardDeleted, &groups, &heardRemoved})
        std::sort(paths->begin(), paths->end());
    EXPECT_EQ(deleted, heardDeleted);
    EXPECT_EQ(groups, heardRemoved);

    for (const char* sid : {"1001", "1002", "1003"})
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, PROFILE_LIST + sid);
}

// The links that make-links.sh made on the Linux side, which Wine shows as
// reparse points: below the desktop and the start menu, in the profiles'
// folder, and a registered profile whose desktop and AppData are links.
// What lies behind them is never touched.
TEST_F(Shortcuts, LinksAreNeverFollowed) {
    const std::string dave = profiles.root + "\\dave", target = "C:\\LinkTarget",
                      elsewhere = "C:\\LinkProfile";
    const std::vector<std::string> linkFolders = {
        profiles.desktop + "\\Linked", VistaProfile(profiles.me).programs + "\\Linked",
        profiles.root + "\\Linked", dave + "\\Desktop", dave + "\\AppData"};
    for (const std::string& folder : linkFolders)
        ASSERT_TRUE(HasAttributes(folder, FILE_ATTRIBUTE_REPARSE_POINT))
            << folder << " (made by KIVO_PRERUN)";
    ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, PROFILE_LIST + "1004", "ProfileImagePath", dave));
    const VistaProfile behind(elsewhere);
    const std::vector<std::string> markers = {
        target + "\\kivo.lnk", target + "\\Group\\kivo.lnk", elsewhere + "\\Desktop\\kivo.lnk",
        behind.programs + "\\KIVO\\kivo.lnk", behind.taskbarPins + "\\kivo.lnk"};
    for (const std::string& marker : markers)
        ASSERT_TRUE(MakeShortcut(marker, OURS)) << marker;

    EXPECT_EQ(1, ShortcutsRemove(INSTALL.c_str()));
    for (const std::string& path : markers)
        EXPECT_TRUE(bench::Exists(path)) << path;
    for (const std::string& folder : linkFolders)
        EXPECT_TRUE(bench::IsFolder(folder)) << folder;
    bench::RegDeleteTree(HKEY_LOCAL_MACHINE, PROFILE_LIST + "1004");
}

// Wine's shell offers no unpin command; finding a command by its verb and
// running it are shown with one it does offer.
TEST_F(Shortcuts, ShellCommandsAreFoundByTheirVerb) {
    const std::string link = profiles.desktop + "\\verb.lnk";
    ASSERT_TRUE(MakeShortcut(link, OTHERS));
    EXPECT_EQ(0, ShellItemInvokeVerb(link.c_str(), "taskbarunpin"));
    EXPECT_EQ(1, ShellItemInvokeVerb(link.c_str(), "copy"));
    EXPECT_EQ(0, ShellItemInvokeVerb("C:\\Nowhere\\verb.lnk", "copy"));
    EXPECT_TRUE(bench::Exists(link));
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

std::string swapGroup;
bool groupSwapped = false;

// Before the walk opens the group, the Linux side swaps it for a link to a
// victim's folder (swapper.sh, the test's pre-run).
void SwapGroupAtSeam(int point, const wchar_t* name, size_t length) {
    if (point == HANDLE_SEAM_OPEN && !groupSwapped && std::wstring(name, length) == L"SwapGroup")
        groupSwapped = bench::SwapForLink(swapGroup, "C:\\ShortcutVictim");
}

// A group swapped for a link between the listing of its folder and its
// opening leads nowhere: the victim's shortcut to the product stays, and so
// does the group renamed away, which the walk no longer reaches.
TEST_F(Shortcuts, GroupSwappedForALinkLeadsNowhere) {
    swapGroup = profiles.desktop + "\\SwapGroup";
    ASSERT_TRUE(MakeShortcut(swapGroup + "\\kivo.lnk", OURS));
    ASSERT_TRUE(MakeShortcut("C:\\ShortcutVictim\\kivo.lnk", OURS));
    handleWalkSeam = SwapGroupAtSeam;
    ShortcutsRemove(INSTALL.c_str()); // the test before left a shortcut it cannot reach

    handleWalkSeam = nullptr;
    ASSERT_TRUE(groupSwapped);
    EXPECT_TRUE(bench::Exists("C:\\ShortcutVictim\\kivo.lnk"));
    EXPECT_TRUE(bench::Exists(swapGroup + ".away\\kivo.lnk"));
}

// On Windows 9x the profile walk starts at the folder that holds the desktop
// (one profile) and removes groups from depth 4 on; the profiles of the 9x
// registry's list and the user's own start menu are walked as places.
class Shortcuts9x : public Shortcuts {};

TEST_F(Shortcuts9x, WalkStartsAtTheDesktopsFolder) {
    ASSERT_NE(0u, GetVersion() & 0x80000000u) << "the prefix must be set to Windows 98";
    const std::string me = profiles.me;
    const std::vector<std::string> links = {
        profiles.desktop + "\\kivo.lnk",
        me + "\\Start Menu\\kivo.lnk",
        me + "\\Start Menu\\Programs\\KIVO\\k.lnk",
        me + "\\Windows\\Start Menu\\KIVO\\k.lnk",
        "C:\\Profiles\\carol\\Start Menu\\Programs\\KIVO\\k.lnk",
        profiles.root + "\\Other\\Desktop\\kivo.lnk",
    };
    for (const std::string& link : links)
        ASSERT_TRUE(MakeShortcut(link, OURS)) << link;
    ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE,
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\carol",
                                    "ProfileImagePath", "C:\\Profiles\\carol"));
    EXPECT_EQ(1, ShortcutsRemove(INSTALL.c_str()));
    for (size_t i = 0; i < 5; ++i)
        EXPECT_FALSE(bench::Exists(links[i])) << links[i];
    EXPECT_FALSE(bench::Exists(me + "\\Start Menu\\Programs\\KIVO")); // the user's own start menu
    EXPECT_FALSE(bench::Exists(me + "\\Windows\\Start Menu\\KIVO"));  // depth 4: removed
    EXPECT_TRUE(bench::IsFolder(me + "\\Windows\\Start Menu"));
    EXPECT_TRUE(bench::Exists(links[5])); // a profile the registry does not list
}
