// The uninstall sequence called directly, on a thread of its own, while this
// thread answers its result box: which keys go, what the box says, and what
// becomes of the data folder. No console is open, so the labels draw nothing.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/files_step.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"
#include "platform/handle_walk.h"
#include "platform/user_hives.h"
#include "zip/zip_test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <aclapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char* const caption = "Sequence test";
const char* const uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO";

struct SequenceCall {
    std::string folder;
    int removeUserSettings;
};

DWORD WINAPI RunOnThread(void* parameter) {
    const SequenceCall* call = static_cast<const SequenceCall*>(parameter);
    RunUninstallSequence(call->folder.c_str(), call->folder.c_str(), call->removeUserSettings);
    return 0;
}

std::vector<std::string> ArchivesAtRoot() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\savKIVO*.zip", &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(std::string("C:\\") + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

class Sequence : public ::testing::Test {
  protected:
    void SetUp() override {
        languageCode = 2;
        isNT = -1;
        lstrcpynA(windowCaption, caption, CAPTION_CAPACITY);
        ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, uninstallKey, "InstallLocation", "C:\\Seq"));
    }
    void TearDown() override {
        archiveWrittenHook = nullptr;
        archiveVerifiedHook = nullptr;
        handleWalkSeam = nullptr;
        bench::RemoveTree("C:\\Seq");
        for (const std::string& name : ArchivesAtRoot())
            DeleteFileA(name.c_str());
        bench::RegDeleteTree(HKEY_CURRENT_USER, "Software\\TMW");
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);
    }

    // Runs the sequence and returns the text of its result box, answered OK.
    static std::string Run(const std::string& folder, int removeUserSettings) {
        SequenceCall call = {folder, removeUserSettings};
        std::string text = "(no box)";
        EXPECT_TRUE(
            bench::AnswerOwnBox(RunOnThread, &call, caption, 60000, 30000, [&](const bench::Box& box) {
                text = box.text;
                EXPECT_TRUE(bench::Press(box, IDOK));
            }));
        return text;
    }
};

} // namespace

// The archive takes the drive letter as the folder writes it; the program
// files are gone before the rest is packed; the user's settings stay when
// the caller keeps them, while the uninstall key goes in any case. Explorer
// hears of the associations and of the folder.
TEST_F(Sequence, ArchivesTheRestAndKeepsUserSettingsWhenAsked) {
    for (const char* folder : {"KIVO", "DOC", "ZAVURE", "Data"})
        ASSERT_TRUE(bench::MakeFolders(std::string("C:\\Seq\\KIVO\\") + folder));
    for (const char* file : {"KIVO\\KIVO.EXE", "KIVO\\KV.KV", "RUN.LOG", "DOC\\manual.txt", "ZAVURE\\z.dat"})
        ASSERT_TRUE(bench::WriteFileBytes(std::string("C:\\Seq\\KIVO\\") + file, "program"));
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Seq\\KIVO\\Data\\clients.dat", "data"));
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, "Software\\TMW\\KIVO", "v", 1));

    ASSERT_TRUE(bench::ListenToShell());
    std::string text = Run("c:\\Seq\\KIVO", 0);
    std::vector<std::string> heard;
    for (const bench::ShellEvent& event : bench::ShellEventsSeen())
        heard.push_back(std::to_string(event.event) + " " + event.path);
    EXPECT_EQ(heard, (std::vector<std::string>{std::to_string(SHCNE_ASSOCCHANGED) + " ",
                                               std::to_string(SHCNE_RMDIR) + " C:\\Seq\\KIVO"}));
    std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    std::string name = archives[0].substr(3);
    EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\rc:\\") + name);
    EXPECT_FALSE(bench::Exists("C:\\Seq\\KIVO"));
    EXPECT_FALSE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, uninstallKey));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\KIVO"));
}

// Without a settings key of the product, the maker's key goes only when
// nothing else is left in it: another product's key keeps it. A folder
// without the program's subfolders is archived too.
TEST_F(Sequence, MakersKeyStaysForAnotherProduct) {
    ASSERT_TRUE(bench::MakeFolders("C:\\Seq\\Plain"));
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Seq\\Plain\\notes.txt", "data"));
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, "Software\\TMW\\Other", "v", 1));

    std::string text = Run("C:\\Seq\\Plain", 1);
    std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + archives[0]);
    EXPECT_FALSE(bench::Exists("C:\\Seq\\Plain"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\Other"));
}

namespace {

// A key whose DACL refuses Everyone what is asked (deny) or gives it back.
bool DenyEveryone(HKEY root, const char* key, DWORD denied) {
    HKEY opened;
    if (RegOpenKeyExA(root, key, 0, WRITE_DAC, &opened) != ERROR_SUCCESS) return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    BYTE buffer[256];
    PACL acl = reinterpret_cast<PACL>(buffer);
    SECURITY_DESCRIPTOR descriptor;
    bool set = InitializeAcl(acl, sizeof buffer, ACL_REVISION) &&
               (denied == 0 || AddAccessDeniedAce(acl, ACL_REVISION, denied, everyone)) &&
               AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
               RegSetKeySecurity(opened, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    FreeSid(everyone);
    RegCloseKey(opened);
    return set;
}

} // namespace

// Each kind of removal that fails stays, is counted (and logged by name), and
// turns the run's code into "some items remain": an uninstall key with a
// subkey (Windows deletes no key that has one), an association whose program
// key lies too deep to be deleted, a variable whose key refuses the change.
TEST_F(Sequence, RemovalsThatFailAreCountedAndChangeTheCode) {
    for (int kind = 0; kind < 3; ++kind) {
        ASSERT_TRUE(bench::MakeFolders("C:\\Seq\\Plain"));
        ASSERT_TRUE(bench::WriteFileBytes("C:\\Seq\\Plain\\notes.txt", "data"));
        if (kind == 0) {
            ASSERT_TRUE(bench::RegSetDword(HKEY_LOCAL_MACHINE, std::string(uninstallKey) + "\\Held", "v", 1));
        } else if (kind == 1) {
            ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, ".KVO", nullptr, "KIVO.Deep"));
            HKEY level = HKEY_CLASSES_ROOT;
            for (const std::string& name : {std::string("KIVO.Deep"), std::string(250, 'a'),
                                            std::string(250, 'b'), std::string(40, 'c')}) {
                HKEY next;
                ASSERT_EQ(RegCreateKeyA(level, name.c_str(), &next), ERROR_SUCCESS) << name.size();
                if (level != HKEY_CLASSES_ROOT) RegCloseKey(level);
                level = next;
            }
            RegCloseKey(level);
        } else {
            ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, "Environment", "KIVO", "C:\\Seq"));
            ASSERT_TRUE(DenyEveryone(HKEY_CURRENT_USER, "Environment", KEY_SET_VALUE));
        }
        removalsFailed = 0;
        Run("C:\\Seq\\Plain", 0);
        EXPECT_EQ(removalsFailed, 1) << kind;
        EXPECT_EQ(CopyOutcome(), EXIT_ITEMS_REMAIN) << kind;
        EXPECT_TRUE(kind == 0   ? bench::RegKeyExists(HKEY_LOCAL_MACHINE, uninstallKey)
                    : kind == 1 ? bench::RegKeyExists(HKEY_CLASSES_ROOT, "KIVO.Deep")
                                : bench::RegValueExists(HKEY_CURRENT_USER, "Environment", "KIVO"))
            << kind;
        if (kind == 2) {
            EXPECT_TRUE(DenyEveryone(HKEY_CURRENT_USER, "Environment", 0));
            HKEY environment;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_SET_VALUE, &environment),
                      ERROR_SUCCESS);
            RegDeleteValueA(environment, "KIVO");
            RegCloseKey(environment);
        }
        bench::RegDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);
        bench::RegDeleteTree(HKEY_CLASSES_ROOT, "KIVO.Deep");
        bench::RegDeleteTree(HKEY_CLASSES_ROOT, ".KVO");
        for (const std::string& name : ArchivesAtRoot())
            DeleteFileA(name.c_str());
    }
    ASSERT_TRUE(bench::MakeFolders("C:\\Seq\\Plain"));
    removalsFailed = 0;
    Run("C:\\Seq\\Plain", 0);
    EXPECT_EQ(removalsFailed, 0);
    EXPECT_EQ(CopyOutcome(), EXIT_DONE);
}

namespace {

using Tree = std::vector<std::string>;

const char* const seqFolder = "C:\\Seq\\KIVO";
const Tree seqFiles = {"Data\\clients.dat", "Data\\2013\\report.txt", u8"Donn\u00E9es \U0001F600.txt",
                       "notes.txt"};

bool MakeTreeOf(const std::string& root, const Tree& entries) {
    for (const std::string& entry : entries) {
        const std::string path = root + "\\" + entry;
        if (!bench::MakeFolders(entry.back() == '\\' ? path.substr(0, path.size() - 1)
                                                     : path.substr(0, path.rfind('\\'))) ||
            (entry.back() != '\\' && !bench::WriteFileBytes(path, "the victim's " + entry)))
            return false;
    }
    return true;
}

void LayOutData() {
    for (const std::string& file : seqFiles) {
        const std::string path = std::string(seqFolder) + "\\" + file;
        ASSERT_TRUE(bench::MakeFolders(path.substr(0, path.rfind('\\'))));
        ASSERT_TRUE(bench::WriteFileBytes(path, ziptest::MakeData(20000, 't', uint32_t(file.size()))));
    }
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    bench::ReadFileBytes(path, bytes);
    return bytes;
}

// The archive's names, sorted.
Tree NamesIn(const std::string& archive) {
    Tree names;
    for (const ziptest::CentralHeader& c : ziptest::ParseDirectory(ReadAll(archive)).entries)
        names.push_back(c.name);
    std::sort(names.begin(), names.end());
    return names;
}

// The archive through the handle that wrote it, which the step holds
// against other writers until its deletions are over.
std::string ReadHeld(HANDLE archive) {
    std::string bytes(GetFileSize(archive, nullptr), '\0');
    DWORD got = 0;
    SetFilePointer(archive, 0, nullptr, FILE_BEGIN);
    if (!bytes.empty() && !ReadFile(archive, &bytes[0], DWORD(bytes.size()), &got, nullptr)) bytes.clear();
    bytes.resize(got);
    return bytes;
}

bool WriteHeld(HANDLE archive, const std::string& bytes) {
    DWORD put = 0;
    SetFilePointer(archive, 0, nullptr, FILE_BEGIN);
    return WriteFile(archive, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size() &&
           SetEndOfFile(archive);
}

// Ways of damaging the flushed archive before it is read back.
int damage = 0;
void Damage(const char*, HANDLE archive) {
    std::string bytes = ReadHeld(archive);
    const ziptest::Directory d = ziptest::ParseDirectory(bytes);
    ASSERT_TRUE(d.valid) << d.why;
    const ziptest::LocalHeader first = ziptest::ParseLocal(bytes, 0);
    switch (damage) {
    case 0: // one bit of an entry's data
        bytes[first.dataAt + first.compressedSize / 2] ^= 0x10;
        break;
    case 1: // a CRC-32, the same in both headers
        bytes[14] ^= 0x01;
        bytes[d.offset + 16] ^= 0x01;
        break;
    case 2: // the last bytes lost
        bytes.resize(bytes.size() - 10);
        break;
    default: // the central directory's first name
        bytes[d.offset + 46] ^= 0x20;
        break;
    }
    ASSERT_TRUE(WriteHeld(archive, bytes));
}

} // namespace

// An archive that does not read back as it was written is removed and the
// folder, which the user is told to clean, stays as it was.
TEST_F(Sequence, DamagedArchiveIsRemovedAndTheFolderKept) {
    for (damage = 0; damage < 4; ++damage) {
        LayOutData();
        archiveWrittenHook = Damage;
        const std::string text = Run(seqFolder, 0);
        EXPECT_EQ(text, CatalogueText(MSG_CLEANING_REQUIRED, 2) + std::string("\r") + seqFolder) << damage;
        EXPECT_TRUE(ArchivesAtRoot().empty()) << damage;
        EXPECT_EQ(dataFolderKept, -1);
        EXPECT_STREQ(archivePath, "");
        for (const std::string& file : seqFiles)
            EXPECT_TRUE(bench::Exists(std::string(seqFolder) + "\\" + file)) << damage << " " << file;
    }
}

int changes = 0;
void ChangeAndAdd(const char*, HANDLE) {
    const std::string folder = std::string(seqFolder) + "\\";
    bench::WriteFileBytes(folder + "notes.txt", "written after the archive was closed");
    bench::WriteFileBytes(folder + "Data\\new.txt", "added after the archive was closed");
    ++changes;
}

// A file written or added after the archive was closed is not in it: it
// stays, and so does the folder, of which the user is told besides the
// archive; every file that the archive holds unchanged goes.
TEST_F(Sequence, FilesChangedOrAddedAfterArchivingStay) {
    LayOutData();
    archiveWrittenHook = ChangeAndAdd;
    const std::string text = Run(seqFolder, 0);
    EXPECT_EQ(changes, 1);
    const std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + archives[0] + "\r\r" +
                        CatalogueText(MSG_CLEANING_REQUIRED, 2) + "\r" + seqFolder);
    EXPECT_EQ(bench::ListTree(seqFolder), (Tree{"Data\\", "Data\\new.txt", "notes.txt"}));
    EXPECT_EQ(dataFolderKept, -1);
    EXPECT_EQ(archivePath, archives[0]);
    EXPECT_EQ(NamesIn(archives[0]).size(), seqFiles.size());
}

struct BeforeRename {
    std::string partial;
    size_t dataLeft = 0;
    Tree finals;
    bool clash = false;
} beforeRename;

// Sees the moment between the verification and the rename; with clash set
// it takes the final name first.
void SeeBeforeRename(const char* partial, HANDLE) {
    beforeRename.partial = partial;
    for (const std::string& file : seqFiles)
        beforeRename.dataLeft += bench::Exists(std::string(seqFolder) + "\\" + file) ? 1 : 0;
    beforeRename.finals = ArchivesAtRoot();
    const std::string final = beforeRename.partial.substr(0, beforeRename.partial.size() - 8);
    if (beforeRename.clash) bench::WriteFileBytes(final, "taken at the rename");
}

// The archive is written and verified under its partial name, while every
// data file is still there and no final name exists; renamed, it is the
// only archive. A final name taken at the rename is never replaced: the
// archive takes the next numbered one.
TEST_F(Sequence, ArchiveIsFinalOnlyOnceVerifiedAndBeforeAnyDeletion) {
    for (const bool clash : {false, true}) {
        LayOutData();
        beforeRename = BeforeRename();
        beforeRename.clash = clash;
        archiveVerifiedHook = SeeBeforeRename;
        const std::string text = Run(seqFolder, 0);
        ASSERT_GT(beforeRename.partial.size(), 8u) << clash;
        EXPECT_EQ(beforeRename.partial.substr(beforeRename.partial.size() - 12), ".zip.partial");
        EXPECT_EQ(beforeRename.dataLeft, seqFiles.size());
        EXPECT_TRUE(beforeRename.finals.empty()) << beforeRename.finals[0];
        EXPECT_FALSE(bench::Exists(beforeRename.partial));
        const std::string final = beforeRename.partial.substr(0, beforeRename.partial.size() - 8);
        const std::string expected = clash ? final.substr(0, final.size() - 4) + "-2.zip" : final;
        EXPECT_EQ(archivePath, expected);
        EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + expected);
        EXPECT_EQ(NamesIn(expected).size(), seqFiles.size());
        EXPECT_FALSE(bench::Exists(seqFolder));
        if (clash) {
            EXPECT_EQ(ReadAll(final), "taken at the rename");
        }
        for (const std::string& name : ArchivesAtRoot())
            DeleteFileA(name.c_str());
    }
}

// Partial archives that a stopped run left at the drive's root are removed
// by the next and never taken for its archive; files that only resemble
// that name, and folders, stay.
TEST_F(Sequence, PartialArchivesOfAStoppedRunAreRemoved) {
    LayOutData();
    const Tree leftovers = {"C:\\savKIVO[2020-01-02](03.04.05).zip.partial",
                            "C:\\savKIVO[2020-01-02](03.04.05)-3.zip.partial"};
    const Tree lookalikes = {"C:\\savKIVO[2020-01-02](03.04.05).zip.partial.txt",
                             "C:\\savKIVO[2020-01-02](03.04.05)-10.zip.partial", "C:\\savKIVO.zip.partial"};
    for (const std::string& name : leftovers)
        ASSERT_TRUE(bench::WriteFileBytes(name, "PK half an archive"));
    for (const std::string& name : lookalikes)
        ASSERT_TRUE(bench::WriteFileBytes(name, "somebody's"));
    const std::string folderLike = "C:\\savKIVO[2020-01-02](03.04.06).zip.partial";
    ASSERT_TRUE(CreateDirectoryA(folderLike.c_str(), nullptr));
    Run(seqFolder, 0);
    for (const std::string& name : leftovers)
        EXPECT_FALSE(bench::Exists(name)) << name;
    for (const std::string& name : lookalikes) {
        EXPECT_EQ(ReadAll(name), "somebody's") << name;
        DeleteFileA(name.c_str());
    }
    EXPECT_TRUE(bench::IsFolder(folderLike));
    RemoveDirectoryA(folderLike.c_str());
    const std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(archivePath, archives[0]);
    EXPECT_EQ(NamesIn(archives[0]).size(), seqFiles.size());
}

// The names of those an object's access list grants anything, sorted.
Tree TrusteesOf(const std::string& path) {
    Tree trustees;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &security) != ERROR_SUCCESS)
        return {"(unreadable)"};
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        char name[64], domain[64];
        DWORD nameSize = sizeof name, domainSize = sizeof domain;
        SID_NAME_USE use;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
            LookupAccountSidA(nullptr, &ace->SidStart, name, &nameSize, domain, &domainSize, &use))
            trustees.push_back(name);
    }
    LocalFree(security);
    std::sort(trustees.begin(), trustees.end());
    return trustees;
}

// The dated name is taken already: the archive is created new under the
// next free one, and the file that held the name is left as it was. The
// archive gets the data folder's access list, here narrower than the drive
// root's. (Wine keeps no lists: it shows one made of the Unix mode, which the
// pre-run narrows for the folder, see tests.cmake, and makes the mode of a
// new file from the list it is given.)
TEST_F(Sequence, ArchiveIsCreatedNewWithTheFoldersRights) {
    const std::string folder = "C:\\Private\\KIVO";
    ASSERT_TRUE(bench::WriteFileBytes(folder + "\\notes.txt", "private"));
    const Tree folderTrustees = TrusteesOf(folder);
    ASSERT_NE(folderTrustees, TrusteesOf("C:\\")) << "the folder's rights must differ from the root's";

    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME start;
    SystemTimeToFileTime(&now, &start);
    Tree taken;
    for (int second = -1; second < 30; ++second) {
        ULARGE_INTEGER at = {{start.dwLowDateTime, start.dwHighDateTime}};
        at.QuadPart += static_cast<ULONGLONG>(second) * 10000000ull;
        FILETIME moment = {at.LowPart, at.HighPart};
        SYSTEMTIME t;
        FileTimeToSystemTime(&moment, &t);
        char name[80];
        std::snprintf(name, sizeof name, "C:\\savKIVO[%4d-%02d-%02d](%02d.%02d.%02d).zip", t.wYear, t.wMonth,
                      t.wDay, t.wHour, t.wMinute, t.wSecond);
        ASSERT_TRUE(bench::WriteFileBytes(name, "an earlier archive"));
        taken.push_back(name);
    }

    const std::string text = Run(folder, 0);
    std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), taken.size() + 1);
    std::string created;
    for (const std::string& name : archives)
        if (std::find(taken.begin(), taken.end(), name) == taken.end()) created = name;
    EXPECT_EQ(created.substr(created.size() - 6), "-2.zip");
    EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + created);
    for (const std::string& name : taken)
        EXPECT_EQ(ReadAll(name), "an earlier archive") << name;
    EXPECT_FALSE(bench::Exists(folder));
    EXPECT_EQ(TrusteesOf(created), folderTrustees);
    for (const std::string& name : taken)
        DeleteFileA(name.c_str());
}

// Folder links below the data folder (made on the Linux side, see
// tests.cmake) are neither archived nor followed, and what they lead to
// stays; a link back to the folder itself does not fail the archive. The
// data folder may itself be a link. (Windows removes the links with the
// folder; Wine cannot, so there the folder stays with them.)
TEST_F(Sequence, LinksAreNeitherArchivedNorFollowed) {
    const std::string linked = "C:\\Linked\\KIVO";
    ASSERT_TRUE(bench::IsFolder(linked + "\\Data\\out")) << "the links are made by the test's pre-run";
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Outside\\marker.txt", "not ours"));
    ASSERT_TRUE(bench::WriteFileBytes(linked + "\\Data\\mine.txt", "ours"));
    const std::string text = Run(linked, 0);
    std::vector<std::string> archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(NamesIn(archives[0]), (Tree{"KIVO/Data/mine.txt"}));
    EXPECT_EQ(ReadAll("C:\\Outside\\marker.txt"), "not ours");
    if (bench::UnderWine()) {
        EXPECT_EQ(bench::ListTree(linked), (Tree{"Data\\", "Data\\out\\", "loop\\"}));
        EXPECT_EQ(dataFolderKept, -1);
    } else {
        EXPECT_FALSE(bench::Exists(linked));
        EXPECT_EQ(dataFolderKept, 0);
    }
    DeleteFileA(archives[0].c_str());

    ASSERT_TRUE(bench::MakeFolders("C:\\Real\\KIVO\\Data"));
    ASSERT_TRUE(bench::WriteFileBytes("C:\\Real\\KIVO\\Data\\moved.txt", "moved with the installation"));
    const std::string movedText = Run("C:\\Moved\\KIVO", 0);
    archives = ArchivesAtRoot();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(movedText, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + archives[0]);
    EXPECT_EQ(NamesIn(archives[0]), (Tree{"KIVO/Data/moved.txt"}));
    EXPECT_FALSE(bench::Exists("C:\\Real\\KIVO\\Data\\moved.txt"));
    EXPECT_EQ(dataFolderKept, 0);
}

namespace {

const char* const profileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char* const hiveScratch = "Software\\KivoHiveScratch";
const std::string userPrefix = "S-1-5-21-7-7-7-";

// A user's traces of the product and the keys of others beside them.
void WriteUserTraces(HKEY root, const std::string& key) {
    for (const char* name : {"KIVO", "REVERIRA", "PATH_OTHER"})
        ASSERT_TRUE(bench::RegSetString(root, key + "\\Environment", name, "x"));
    ASSERT_TRUE(bench::RegSetDword(root, key + "\\Software\\TMW\\KIVO", "v", 1));
    ASSERT_TRUE(bench::RegSetDword(root, key + "\\Software\\TMW\\Other", "v", 1));
}

void WriteClasses(HKEY root, const std::string& key) {
    ASSERT_TRUE(bench::RegSetString(root, key + "\\.KVO", nullptr, "KIVO.Document"));
    ASSERT_TRUE(bench::RegSetString(root, key + "\\KIVO.Document\\shell\\open\\command", nullptr, "kivo"));
    ASSERT_TRUE(bench::RegSetString(root, key + "\\.GKV", nullptr, "KIVO.Archive"));
    ASSERT_TRUE(bench::RegSetString(root, key + "\\KIVO.Archive", nullptr, "archive"));
    ASSERT_TRUE(bench::RegSetString(root, key + "\\.OTH", nullptr, "Other.Document"));
    ASSERT_TRUE(bench::RegSetString(root, key + "\\Other.Document", nullptr, "other"));
}

// What is left of the traces ("variables", "settings", "classes"), and
// whether every foreign key survived.
std::string TracesLeft(HKEY root, const std::string& user, const std::string& classes) {
    std::string left;
    if (bench::RegValueExists(root, user + "\\Environment", "KIVO") ||
        bench::RegValueExists(root, user + "\\Environment", "REVERIRA"))
        left += "variables ";
    if (bench::RegKeyExists(root, user + "\\Software\\TMW\\KIVO")) left += "settings ";
    for (const std::string& key : {classes, user + "\\Software\\Classes"})
        if (bench::RegKeyExists(root, key + "\\.KVO") || bench::RegKeyExists(root, key + "\\KIVO.Document") ||
            bench::RegKeyExists(root, key + "\\.GKV") || bench::RegKeyExists(root, key + "\\KIVO.Archive"))
            left += "classes ";
    if (!bench::RegValueExists(root, user + "\\Environment", "PATH_OTHER") ||
        !bench::RegKeyExists(root, user + "\\Software\\TMW\\Other") ||
        !bench::RegKeyExists(root, classes + "\\Other.Document") ||
        !bench::RegKeyExists(root, user + "\\Software\\Classes\\.OTH"))
        left += "(foreign keys lost)";
    return left;
}

// Wine changes a hive loaded from a file in memory only and never writes it
// back: the file keeps whatever was removed from the loaded hive.
const char* const allTraces = "variables settings classes classes ";

// Saves a scratch tree of the current user as a hive file.
void SaveHive(void (*write)(HKEY, const std::string&), const std::string& file) {
    bench::RegDeleteTree(HKEY_CURRENT_USER, hiveScratch);
    write(HKEY_CURRENT_USER, hiveScratch);
    ASSERT_TRUE(bench::RegSaveHive(HKEY_CURRENT_USER, hiveScratch, file));
    bench::RegDeleteTree(HKEY_CURRENT_USER, hiveScratch);
}

// Profiles of other users: 1001 logged on (its hive and classes hive loaded
// under its SID), 1002 not (its NTUSER.DAT and UsrClass.dat in its folder),
// 1003 with a damaged hive file, 1004 without one, and a ".bak" key that
// names 1002's folder again.
class OtherUsers : public Sequence {
  protected:
    void SetUp() override {
        Sequence::SetUp();
        for (const char* user : {"1001", "1002", "1003", "1004"}) {
            const std::string folder = std::string("C:\\users\\hive") + user;
            ASSERT_TRUE(bench::MakeFolders(folder + "\\AppData\\Local\\Microsoft\\Windows"));
            ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE,
                                            std::string(profileList) + "\\" + userPrefix + user,
                                            "ProfileImagePath", folder));
        }
        ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE,
                                        std::string(profileList) + "\\" + userPrefix + "1002.bak",
                                        "ProfileImagePath", "C:\\users\\hive1002"));
        const auto userHive = [](HKEY root, const std::string& key) {
            WriteUserTraces(root, key);
            WriteClasses(root, key + "\\Software\\Classes");
        };
        for (const char* user : {"1001", "1002"}) {
            const std::string folder = std::string("C:\\users\\hive") + user;
            SaveHive(userHive, folder + "\\NTUSER.DAT");
            SaveHive(WriteClasses, folder + "\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat");
        }
        ASSERT_TRUE(bench::WriteFileBytes("C:\\users\\hive1003\\NTUSER.DAT", "regf but not really a hive"));
        ASSERT_EQ(bench::RegLoadHive(userPrefix + "1001", "C:\\users\\hive1001\\NTUSER.DAT"), ERROR_SUCCESS);
        ASSERT_EQ(bench::RegLoadHive(userPrefix + "1001_Classes",
                                     "C:\\users\\hive1001\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"),
                  ERROR_SUCCESS);
        usersBefore = bench::RegSubkeys(HKEY_USERS, "");
        ASSERT_TRUE(bench::MakeFolders("C:\\Seq\\KIVO"));
        ASSERT_TRUE(bench::WriteFileBytes("C:\\Seq\\KIVO\\notes.txt", "data"));
        DeleteFileA(logPath);
        ASSERT_EQ(RunLogOpen(logPath, true, "copy", nullptr), 0);
        removalsFailed = 0;
        environmentChanged = 0;
    }
    void TearDown() override {
        RunLogClose();
        userHivesRunningSid = nullptr;
        bench::RegUnloadHive(userPrefix + "1001_Classes");
        bench::RegUnloadHive(userPrefix + "1001");
        for (const char* user : {"1001", "1002", "1003", "1004", "1002.bak"})
            bench::RegDeleteTree(HKEY_LOCAL_MACHINE, std::string(profileList) + "\\" + userPrefix + user);
        bench::RemoveTree("C:\\users\\hive1001");
        bench::RemoveTree("C:\\users\\hive1002");
        bench::RemoveTree("C:\\users\\hive1003");
        bench::RemoveTree("C:\\users\\hive1004");
        DeleteFileA(logPath);
        Sequence::TearDown();
    }

    // The traces left in the hive files of 1002, loaded again for a look.
    static std::string LeftInFiles() {
        const std::string user = "KivoLook", classes = "KivoLookClasses";
        if (bench::RegLoadHive(user, "C:\\users\\hive1002\\NTUSER.DAT") != ERROR_SUCCESS)
            return "(not loaded)";
        if (bench::RegLoadHive(classes,
                               "C:\\users\\hive1002\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat") !=
            ERROR_SUCCESS) {
            bench::RegUnloadHive(user);
            return "(classes not loaded)";
        }
        const std::string left = TracesLeft(HKEY_USERS, user, classes);
        EXPECT_EQ(bench::RegUnloadHive(classes), ERROR_SUCCESS);
        EXPECT_EQ(bench::RegUnloadHive(user), ERROR_SUCCESS);
        return left;
    }

    static std::string Log() {
        RunLogClose();
        std::string text;
        bench::ReadFileBytes(logPath, text);
        return text;
    }

    static constexpr const char* logPath = "C:\\hives-log.txt";
    std::vector<std::string> usersBefore;
};

} // namespace

// Whoever runs the program, every other user loses the product's variables,
// settings and classes, and keeps the rest; a logged-on user's hive is
// changed where it is loaded, another's file is loaded under a private name
// and unloaded again. A hive that cannot be loaded is only logged. 1002's
// hive, left loaded under a private name by a stopped run, is unloaded
// first; a hive whose name only resembles such a name stays.
TEST_F(OtherUsers, EveryUsersTracesGoAndForeignKeysStay) {
    const std::string stopped = "KIVO-0123456789abcDEF", resembling = "KIVO-0123456789ABCDEF0";
    SaveHive(WriteClasses, "C:\\users\\resembling.dat");
    ASSERT_EQ(bench::RegLoadHive(stopped, "C:\\users\\hive1002\\NTUSER.DAT"), ERROR_SUCCESS);
    ASSERT_EQ(bench::RegLoadHive(resembling, "C:\\users\\resembling.dat"), ERROR_SUCCESS);
    Run("C:\\Seq\\KIVO", 1);
    EXPECT_TRUE(bench::RegKeyExists(HKEY_USERS, resembling + "\\Other.Document"));
    EXPECT_EQ(bench::RegUnloadHive(resembling), ERROR_SUCCESS);
    DeleteFileA("C:\\users\\resembling.dat");
    EXPECT_EQ(TracesLeft(HKEY_USERS, userPrefix + "1001", userPrefix + "1001_Classes"), "");
    EXPECT_EQ(LeftInFiles(), bench::UnderWine() ? allTraces : "");
    EXPECT_EQ(bench::RegSubkeys(HKEY_USERS, ""), usersBefore);
    EXPECT_EQ(environmentChanged, -1);
    EXPECT_EQ(removalsFailed, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("user " + userPrefix +
                       "1001 (logged on): .KVO result 0, .GKV result 0, variables "
                       "removed, settings removed"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("user " + userPrefix +
                       "1002 (C:\\users\\hive1002\\NTUSER.DAT): .KVO result 0, .GKV "
                       "result 0, variables removed, settings removed"),
              std::string::npos);
    EXPECT_NE(
        log.find("user " + userPrefix + "1003: the hive C:\\users\\hive1003\\NTUSER.DAT could not be loaded"),
        std::string::npos);
    EXPECT_NE(
        log.find("user " + userPrefix + "1004: the hive C:\\users\\hive1004\\NTUSER.DAT could not be loaded"),
        std::string::npos);
    EXPECT_EQ(log.find("1002.bak"), std::string::npos);
    EXPECT_NE(log.find("the hive HKU\\" + stopped + ", left loaded by a stopped run, unloaded"),
              std::string::npos)
        << log;
}

// Run as user 1001 (the running account taken for another through the
// seam, as Wine has one account only): that hive is left to the running
// user's own removals, and settings are kept for everybody when the caller
// keeps them. Only an unloaded hive changed: no announcement.
TEST_F(OtherUsers, RunningAccountIsSkippedAndSettingsKeptWhenAsked) {
    userHivesRunningSid = "S-1-5-21-7-7-7-1001";
    Run("C:\\Seq\\KIVO", 0);
    EXPECT_EQ(TracesLeft(HKEY_USERS, userPrefix + "1001", userPrefix + "1001_Classes"),
              "variables settings classes classes ");
    EXPECT_EQ(LeftInFiles(), bench::UnderWine() ? allTraces : "settings ");
    EXPECT_EQ(bench::RegSubkeys(HKEY_USERS, ""), usersBefore);
    EXPECT_EQ(environmentChanged, 0);
    EXPECT_EQ(Log().find("user " + userPrefix + "1001"), std::string::npos);
}

// A user's class that an extension of the machine names as well stays, as
// the machine's own would; the user's extension goes.
TEST_F(OtherUsers, ClassThatTheMachineAlsoNamesStays) {
    ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, ".kvoshared", nullptr, "KIVO.Document"));
    Run("C:\\Seq\\KIVO", 1);
    bench::RegDeleteTree(HKEY_CLASSES_ROOT, ".kvoshared");
    const std::string classes = userPrefix + "1001_Classes";
    EXPECT_FALSE(bench::RegKeyExists(HKEY_USERS, classes + "\\.KVO"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_USERS, classes + "\\KIVO.Document\\shell\\open\\command"));
    EXPECT_FALSE(bench::RegKeyExists(HKEY_USERS, classes + "\\KIVO.Archive"));
}

namespace {

// The data folder's Data swapped at one of the walks' seams: for a link to
// the victim's folder by the Linux side (swapper.sh) before Data is opened,
// or renamed away by the program itself before a file in it is deleted.
struct SeqSwap {
    int point;
    std::wstring name;
    bool armed;
    bool tried;
    bool swapped;
};
SeqSwap seqSwap;
const Tree seqVictim = {"clients.dat", "secret\\", "secret\\report.txt"};

void SwapData(int point, const wchar_t* name, size_t length) {
    if (!seqSwap.armed || seqSwap.tried || point != seqSwap.point ||
        seqSwap.name != std::wstring(name, length))
        return;
    seqSwap.tried = true;
    const std::string data = std::string(seqFolder) + "\\Data";
    seqSwap.swapped = point == HANDLE_SEAM_OPEN ? bench::SwapForLink(data, "C:\\Victim")
                                                : MoveFileA(data.c_str(), (data + ".away").c_str());
}

// The deletion's windows open once the archive is written.
void ArmSwap(const char*, HANDLE) {
    seqSwap.armed = true;
}

} // namespace

// A subfolder swapped for a link between the listing and the opening of the
// archive walk or of the deletion walk: nothing of the victim's is read or
// deleted, what was renamed away stays, and the run says the folder stays
// and logs what it could not remove. Before each deletion the folder that
// holds the file is held: it cannot be renamed, and everything goes.
TEST_F(Sequence, DataSwappedForALinkDuringTheStepLeadsNowhere) {
    const struct {
        int point;
        const wchar_t* name;
        bool fromArchive; // armed from the start, else once the archive is written
    } windows[] = {{HANDLE_SEAM_OPEN, L"Data", true},
                   {HANDLE_SEAM_OPEN, L"Data", false},
                   {HANDLE_SEAM_DELETE, L"clients.dat", false}};
    int round = 0;
    for (const auto& window : windows) {
        const std::string at = std::to_string(window.point) + (window.fromArchive ? " archive" : " deletion");
        // Wine cannot delete a link to a folder that holds something: the
        // last round's data folder, link and all, is put aside.
        MoveFileA(seqFolder, ("C:\\Seq\\round" + std::to_string(round++)).c_str());
        bench::RemoveTree("C:\\Victim");
        ASSERT_TRUE(MakeTreeOf("C:\\Victim", seqVictim));
        LayOutData();
        seqSwap = SeqSwap{window.point, window.name, window.fromArchive, false, false};
        handleWalkSeam = SwapData;
        archiveWrittenHook = window.fromArchive ? nullptr : ArmSwap;
        removalsFailed = 0;
        const std::string text = Run(seqFolder, 0);
        handleWalkSeam = nullptr;
        ASSERT_TRUE(seqSwap.tried) << at;
        EXPECT_EQ(bench::ListTree("C:\\Victim"), seqVictim) << at;
        const std::vector<std::string> archives = ArchivesAtRoot();
        ASSERT_EQ(archives.size(), 1u) << at;
        const Tree names = NamesIn(archives[0]);
        if (window.point == HANDLE_SEAM_DELETE) {
            EXPECT_FALSE(seqSwap.swapped) << at;
            EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + archives[0]);
            EXPECT_FALSE(bench::Exists(seqFolder));
            EXPECT_EQ(dataFolderKept, 0);
            EXPECT_EQ(removalsFailed, 0);
        } else {
            ASSERT_TRUE(seqSwap.swapped) << "the link is swapped in by swapper.sh, the test's pre-run";
            EXPECT_EQ(text, CatalogueText(MSG_FILES_ARCHIVED, 2) + std::string("\r") + archives[0] + "\r\r" +
                                CatalogueText(MSG_CLEANING_REQUIRED, 2) + "\r" + seqFolder)
                << at;
            EXPECT_EQ(dataFolderKept, -1) << at;
            EXPECT_GT(removalsFailed, 0) << at;
            // What was renamed away stays whole; the archive holds Data only
            // when it was read before the swap.
            for (const char* file : {"clients.dat", "2013\\report.txt"})
                EXPECT_TRUE(bench::Exists(std::string(seqFolder) + "\\Data.away\\" + file)) << at << file;
            EXPECT_EQ(names.size(), window.fromArchive ? 2u : seqFiles.size()) << at;
        }
        for (const std::string& name : names)
            EXPECT_EQ(name.find("secret"), std::string::npos) << at;
        for (const std::string& archive : archives)
            DeleteFileA(archive.c_str());
    }
}
