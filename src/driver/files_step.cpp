#include "driver/files_step.h"

#include "clean/clean.h"
#include "clean/file_tests.h"
#include "console/console.h"
#include "driver/archive_name.h"
#include "driver/catalogue.h"
#include "driver/driver_state.h"
#include "driver/exit_codes.h"
#include "driver/relaunch_argument.h"
#include "driver/run_log.h"
#include "driver/uninstall_key.h"
#include "platform/handle_walk.h"
#include "platform/wide_files.h"
#include "platform/windows_version.h"
#include "zip/zip.h"
#include "zip/zip_names.h"
#include "zip/zip_verify.h"

#include <windows.h>

#include <aclapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

void (*archiveWrittenHook)(const char* archivePath, HANDLE archive) = nullptr;
void (*archiveVerifiedHook)(const char* partialPath, HANDLE archive) = nullptr;

namespace {

// Names tried in turn: the dated one, then with -2 up to -9 before ".zip".
// More clashes than that within one second are somebody's doing.
constexpr int NAME_ATTEMPTS = 9;

//--- the archive's access rights

typedef DWORD(WINAPI* GetNamedSecurityInfoFunction)(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*,
                                                    PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR*);
typedef BOOL(WINAPI* InitializeSecurityDescriptorFunction)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* SetSecurityDescriptorDaclFunction)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI* SetSecurityDescriptorControlFunction)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                                           SECURITY_DESCRIPTOR_CONTROL);

// The data folder's access list, made the security of the new archive, so
// that whoever could not read the data cannot read the archive either
// (rather than what the drive's root hands down, which often lets every user
// read). Protected, so that the root's inheritable entries are not added.
struct FolderRights {
    PSECURITY_DESCRIPTOR folderSecurity; // the system's copy, LocalFree
    SECURITY_DESCRIPTOR security;
    SECURITY_ATTRIBUTES attributes;
    ~FolderRights() {
        if (folderSecurity != nullptr) LocalFree(folderSecurity);
    }
};

// The functions are looked up at run time: Windows 9x, which has no access
// rights, lacks some of them. False when the NT family's rights cannot be read.
bool TakeFolderRights(const char* folder, FolderRights* rights) {
    if (isNT == 0) return true;
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (advapi == nullptr) advapi = LoadLibraryA("advapi32.dll");
    if (advapi == nullptr) return false;
    auto getNamedSecurityInfo =
        PlatformFunction<GetNamedSecurityInfoFunction>(advapi, "GetNamedSecurityInfoA");
    auto initialize =
        PlatformFunction<InitializeSecurityDescriptorFunction>(advapi, "InitializeSecurityDescriptor");
    auto setDacl = PlatformFunction<SetSecurityDescriptorDaclFunction>(advapi, "SetSecurityDescriptorDacl");
    auto setControl =
        PlatformFunction<SetSecurityDescriptorControlFunction>(advapi, "SetSecurityDescriptorControl");
    if (getNamedSecurityInfo == nullptr || initialize == nullptr || setDacl == nullptr) return false;
    PACL dacl = nullptr;
    if (getNamedSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                             nullptr, &rights->folderSecurity) != ERROR_SUCCESS ||
        !initialize(&rights->security, SECURITY_DESCRIPTOR_REVISION) ||
        !setDacl(&rights->security, TRUE, dacl, FALSE))
        return false;
    // Before Windows 2000 nothing is inherited into a given list anyway.
    if (setControl != nullptr && !setControl(&rights->security, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return false;
    rights->attributes = SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &rights->security, FALSE};
    return true;
}

//--- the archive file

// The archive is written, flushed and verified under its partial name
// beside its final place, and only then renamed to the final one, so that a
// run stopped at any moment leaves under a backup's name only a complete,
// verified archive. The drive's root is held from the clean-up of earlier
// runs' partial archives to the rename (the NT family).
struct ArchiveFile {
    HANDLE file;
    HANDLE drive;
    char partial[ARCHIVE_NAME_CAPACITY];
    char dated[ARCHIVE_NAME_CAPACITY]; // the final name before any number
};

void CloseArchiveDrive(ArchiveFile* archive) {
    if (archive->drive != INVALID_HANDLE_VALUE) CloseHandle(archive->drive);
    archive->drive = INVALID_HANDLE_VALUE;
}

// The bare name after "d:\" as wide text; false when it does not convert.
bool BareWideName(const char* name, wchar_t* wide) {
    if (!WideFromAnsi(name, wide, ARCHIVE_NAME_CAPACITY) || std::wcslen(wide) < 4) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

// Creates name new: on the NT family by its bare name relative to the held
// drive root, so that no link on the way is followed.
HANDLE CreateNew(const ArchiveFile& archive, const char* name, SECURITY_ATTRIBUTES* security) {
    if (!HandleWalkAvailable())
        return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    wchar_t wide[ARCHIVE_NAME_CAPACITY];
    if (!BareWideName(name, wide)) return INVALID_HANDLE_VALUE;
    // Held, refusing others' writes and deletion, until the deletions that
    // rely on it are over; renamed, and deleted if it fails, through this handle.
    HANDLE file;
    const int created =
        HandleCreateChild(archive.drive, wide + 3, std::wcslen(wide + 3),
                          GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, security, &file);
    return created == HANDLE_WALK_OK ? file : INVALID_HANDLE_VALUE;
}

// Removes the partial archives that runs stopped before their rename left at
// the drive's root: only regular files of that exact name pattern, never
// through a link, and none that another run still holds open.
void RemoveStoppedRunArchives(const ArchiveFile& archive) {
    const char drive = archive.dated[0];
    char name[ARCHIVE_NAME_CAPACITY];
    if (!HandleWalkAvailable()) {
        WIN32_FIND_DATAA found;
        const char pattern[] = {drive, ':', '\\', 's', 'a', 'v', '*', '.',
                                'p',   'a', 'r',  't', 'i', 'a', 'l', '\0'};
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            wchar_t wide[ARCHIVE_NAME_CAPACITY];
            size_t length = 0;
            for (; found.cFileName[length] != '\0' && length + 1 < ARCHIVE_NAME_CAPACITY; ++length)
                wide[length] = static_cast<unsigned char>(found.cFileName[length]);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !ArchiveNameIsPartial(wide, length) ||
                !TextFormat(name, sizeof name, "%c:\\%s", drive, found.cFileName))
                continue;
            if (DeleteFileA(name))
                RunLogWrite("the partial archive %s, left by a stopped run, removed", name);
            else
                RunLogWrite("the partial archive %s, left by a stopped run, could not be removed (error %lu)",
                            name, static_cast<unsigned long>(GetLastError()));
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return;
    }
    HandleListing listing;
    if (HandleListBegin(&listing, archive.drive)) {
        HandleListed listed;
        while (HandleListNext(&listing, &listed) == HANDLE_WALK_OK) {
            const wchar_t* bare = listed.found.cFileName;
            const size_t length = std::wcslen(bare);
            if ((listed.found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                !ArchiveNameIsPartial(bare, length))
                continue;
            // The name is plain ASCII, as the pattern says.
            char narrow[ARCHIVE_NAME_CAPACITY] = {drive, ':', '\\'};
            for (size_t i = 0; i <= length && i + 3 < sizeof narrow; ++i)
                narrow[i + 3] = static_cast<char>(bare[i]);
            const HandleOpen open = {DELETE, 0, HANDLE_OPEN_FILE | HANDLE_OPEN_ONE_LINK, listed.index};
            HANDLE file;
            HandleFacts facts;
            const int opened = HandleOpenChild(archive.drive, bare, length, open, &file, &facts);
            const bool removed = opened == HANDLE_WALK_OK && HandleDelete(file);
            const DWORD cause = GetLastError();
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            if (removed)
                RunLogWrite("the partial archive %s, left by a stopped run, removed", narrow);
            else
                RunLogWrite("the partial archive %s, left by a stopped run, not removed (%d, error %lu)",
                            narrow, opened, static_cast<unsigned long>(cause));
        }
    }
    HandleListEnd(&listing);
}

// Holds the data folder's drive root, clears it of stopped runs' partial
// archives and creates the archive under the first free partial name. Only a
// name that nothing holds is taken, so neither an earlier file nor a link
// planted under the name is ever opened.
bool CreateArchiveFile(const char* dataFolder, ArchiveFile* archive) {
    *archive = ArchiveFile{INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, "", ""};
    FolderRights rights = {};
    if (!TakeFolderRights(dataFolder, &rights)) {
        RunLogWrite("archive not created: the access rights of %s could not be read", dataFolder);
        return false;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (ArchiveNameFormat(archive->dated, ARCHIVE_NAME_CAPACITY, dataFolder[0], now.wYear, now.wMonth,
                          now.wDay, now.wHour, now.wMinute, now.wSecond) != 0)
        return false;
    if (HandleWalkAvailable()) {
        const wchar_t root[4] = {wchar_t(static_cast<unsigned char>(dataFolder[0])), L':', L'\\', L'\0'};
        const HandleOpen open = {FILE_ADD_FILE | FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, HANDLE_OPEN_FOLDER,
                                 0};
        HandleFacts facts;
        if (HandleOpenPath(root, open, &archive->drive, &facts) != HANDLE_WALK_OK) {
            RunLogWrite("archive %s not created: its drive's root could not be opened (error %lu)",
                        archive->dated, static_cast<unsigned long>(GetLastError()));
            return false;
        }
    }
    RemoveStoppedRunArchives(*archive);
    SECURITY_ATTRIBUTES* security = rights.attributes.nLength != 0 ? &rights.attributes : nullptr;
    DWORD cause = ERROR_FILE_EXISTS;
    for (int number = 1; number <= NAME_ATTEMPTS; ++number) {
        char numbered[ARCHIVE_NAME_CAPACITY];
        if (ArchiveNameNumbered(numbered, ARCHIVE_NAME_CAPACITY, archive->dated, number) != 0 ||
            ArchivePartialName(archive->partial, ARCHIVE_NAME_CAPACITY, numbered) != 0)
            break;
        archive->file = CreateNew(*archive, archive->partial, security);
        if (archive->file != INVALID_HANDLE_VALUE) return true;
        // A folder of that name may answer that access is denied.
        cause = GetLastError();
        if (cause != ERROR_FILE_EXISTS && cause != ERROR_ALREADY_EXISTS && cause != ERROR_ACCESS_DENIED)
            break;
    }
    RunLogWrite("archive %s not created under a partial name: Windows error %lu", archive->dated,
                static_cast<unsigned long>(cause));
    archive->partial[0] = '\0';
    CloseArchiveDrive(archive);
    return false;
}

// Gives the verified archive the first free final name, never replacing a
// file: through its handle relative to the held drive root on the NT family;
// on Windows 9x, which has no links, closed, moved (which never replaces)
// and opened again to be held. name receives the final name; false when
// none could be given, with the archive still partial and its handle open.
bool MakeArchiveFinal(ArchiveFile* archive, char* name) {
    DWORD cause = ERROR_FILE_EXISTS;
    if (!HandleWalkAvailable() && !CloseHandle(archive->file)) cause = GetLastError();
    for (int number = 1; number <= NAME_ATTEMPTS && cause == ERROR_FILE_EXISTS; ++number) {
        wchar_t wide[ARCHIVE_NAME_CAPACITY];
        if (ArchiveNameNumbered(name, ARCHIVE_NAME_CAPACITY, archive->dated, number) != 0) break;
        bool renamed = false;
        if (HandleWalkAvailable())
            renamed = BareWideName(name, wide) &&
                      HandleRename(archive->file, archive->drive, wide + 3, std::wcslen(wide + 3));
        else
            renamed = MoveFileA(archive->partial, name) != 0;
        if (renamed) {
            if (!HandleWalkAvailable())
                archive->file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            // The new name reaches the disk before any file goes: a file system
            // without a journal (FAT) might otherwise keep the deletions and lose
            // the rename in a power cut, and the next run would take the archive
            // for a partial one.
            FlushFileBuffers(archive->file);
            return true;
        }
        cause = GetLastError();
        if (cause == ERROR_ALREADY_EXISTS) cause = ERROR_FILE_EXISTS;
    }
    RunLogWrite("archive %s not given its final name %s or a numbered one: Windows error %lu",
                archive->partial, archive->dated, static_cast<unsigned long>(cause));
    name[0] = '\0';
    if (!HandleWalkAvailable())
        archive->file = CreateFileA(archive->partial, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return false;
}

void ShowProgress(void*, uint64_t done, uint64_t total) {
    if (workSeam != nullptr) workSeam(WORK_SEAM_ARCHIVED);
    // 100 % waits for the verification.
    busyProgress = total == 0 || done >= total ? 99 : static_cast<int>(done * 99 / total);
}

//--- the deletion

// What the deletion asks of each file: the archive must hold it under its
// name, with its size and last-write time as they were when it was read.
struct ArchivedCheck {
    const ZipListing* listing;
    std::vector<wchar_t> wide; // the names' prefix, then the file's path below the folder
    size_t prefixLength;
    std::vector<char> name; // its stored form
    bool byHandle;
};

bool HeldUnchanged(void* context, const wchar_t* relative, const HandleFacts& facts) {
    ArchivedCheck& check = *static_cast<ArchivedCheck*>(context);
    const size_t length = std::wcslen(relative);
    if (check.prefixLength + length + 1 > check.wide.size()) return false;
    std::memcpy(&check.wide[check.prefixLength], relative, length * sizeof(wchar_t));
    const int64_t stored =
        ZipNameFromUtf16(&check.wide[0], check.prefixLength + length, &check.name[0], check.name.size());
    if (stored < 0) return false;
    for (int64_t i = 0; i < stored; ++i)
        if (check.name[size_t(i)] == '\\') check.name[size_t(i)] = '/';
    const int64_t index = ZipListingFind(check.listing, &check.name[0], static_cast<uint32_t>(stored));
    if (index < 0) return false;
    const ZipListedEntry& entry = check.listing->entries[index];
    // The file to go is the one that was read (by its index, where the file
    // system tells one), unchanged since.
    if (check.byHandle && entry.fileIndex != facts.index) return false;
    return entry.lastWrite != 0 && entry.lastWrite == facts.written && entry.size == facts.size;
}

// The held installation folder, once empty, is let go and removed: nobody
// can delete a folder held without delete sharing, this program included.
// What might take its place in between is at most an empty folder or a
// link, of which only the link itself would go.
bool RemoveHeldFolder() {
    CloseHandle(static_cast<HANDLE>(installFolderHandle));
    installFolderHandle = nullptr;
    if (FolderRemoveOrGone(installFolder)) return true;
    RunLogWrite("the emptied folder %s could not be removed (error %lu)", installFolder,
                static_cast<unsigned long>(GetLastError()));
    return false;
}

// Deletes the data folder's files that the archive holds unchanged, and the
// folders they leave empty; true when nothing stayed.
bool DeleteArchivedFiles(const HeldFolder& folder, ZipListing* listing, const RemovalReport* report) {
    ArchivedCheck check = {listing, std::vector<wchar_t>(2 * WIDE_PATH_CAPACITY), 0,
                           std::vector<char>(6 * WIDE_PATH_CAPACITY), folder.handle != INVALID_HANDLE_VALUE};
    if (!ZipListingSort(listing) || ZipFolderNamePrefix(folder.path, ArchivePrefixLength(folder.path),
                                                        &check.wide[0], WIDE_PATH_CAPACITY) != ZIP_OK)
        return false;
    check.prefixLength = std::wcslen(&check.wide[0]);
    // The driver's hold of the installation folder has no right to delete it.
    const bool held = installFolderHandle != nullptr && folder.handle == installFolderHandle;
    if (FolderDeleteTreeHeld(folder, held ? 0 : 1, HeldUnchanged, &check, report) != 0) return false;
    // The key goes before the emptied folder: a stop between the two leaves
    // an empty folder, not a key that names a folder no run can find.
    if (held) UninstallKeyRemove();
    return !held || RemoveHeldFolder();
}

// Each removal that failed is logged by its full name and counted, once: a
// program file that stayed is named when it stays, and not again when the
// data deletion leaves it too.
struct FailedNames {
    const char* folder;
    const char* what;
    std::vector<std::wstring>* record;      // the program files that stayed, kept here
    const std::vector<std::wstring>* named; // and skipped here
};

wchar_t AsciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? wchar_t(c + (L'a' - L'A')) : c;
}

// The walks spell the program subfolders themselves, perhaps in another case.
bool SameName(const std::wstring& named, const wchar_t* relative) {
    size_t i = 0;
    for (; i < named.size() && relative[i] != L'\0'; ++i)
        if (AsciiLower(named[i]) != AsciiLower(relative[i])) return false;
    return i == named.size() && relative[i] == L'\0';
}

void LogFailedRemoval(void* context, const wchar_t* relative) {
    const FailedNames& names = *static_cast<FailedNames*>(context);
    if (names.named != nullptr) {
        ++dataFilesUndeleted;
        for (const std::wstring& named : *names.named)
            if (*relative != L'\0' && SameName(named, relative)) return;
    }
    if (*relative == L'\0') {
        RunLogRemovalFailed("folder", names.folder);
        return;
    }
    if (names.record != nullptr) names.record->push_back(relative);
    RunLogRemovalFailedBelow(names.what, names.folder, relative);
}

// A file the archive does not hold unchanged stays with the folder: kept on
// purpose, not a removal that failed.
void LogKeptFile(void* context, const wchar_t* relative) {
    const FailedNames& names = *static_cast<FailedNames*>(context);
    ++dataFilesUnarchived;
    if (!RunLogWriteNamed("kept, as the archive does not hold it unchanged: ", names.folder, relative))
        RunLogWrite("kept, as the archive does not hold it unchanged: a file in %s", names.folder);
}

// Writes the archive of the held folder into file, which stays open, and flushes it.
int ArchiveInto(HANDLE file, const char* archiveName, const HeldFolder& folder, uint32_t workers,
                ZipListing* listing) {
    ZipArchive* archive = nullptr;
    int added = ZipCreateArchive(&archive, file, 0, ZIP_KIND_HANDLE, nullptr);
    int closed = added;
    if (added == ZIP_OK) {
        ZipSetProgress(archive, ShowProgress, nullptr);
        ZipSetWorkers(archive, workers);
        busyProgress = 0;
        added = ZipAddFolderTreeHeld(archive, folder.handle, folder.path, ArchivePrefixLength(folder.path));
        closed = ZipCloseArchiveListing(archive, listing);
    }
    // Only an archive that reached the disk, and whose closing succeeded, counts.
    const bool flushed = FlushFileBuffers(file) != 0;
    if (added == ZIP_OK && closed == ZIP_OK && flushed) return ZIP_OK;
    if (added != ZIP_OK || closed != ZIP_OK)
        RunLogWrite("archive %s not completed: adding the folder %d (%s), closing it %d (%s)", archiveName,
                    added, ZipResultMeaning(added), closed, ZipResultMeaning(closed));
    else
        RunLogWrite("archive %s not flushed to the disk", archiveName);
    ZipListingFree(listing);
    return added != ZIP_OK ? added : closed != ZIP_OK ? closed : ZIP_ERR_WRITE;
}

std::vector<ZipVerifyExpected> ExpectedEntries(const ZipListing& listing) {
    std::vector<ZipVerifyExpected> expected(listing.count + 1);
    for (uint32_t i = 0; i < listing.count; ++i) {
        const ZipListedEntry& entry = listing.entries[i];
        expected[i] =
            ZipVerifyExpected{ZipListedName(&listing, i), entry.nameLength, entry.crc32, entry.size};
    }
    return expected;
}

int VerifyResult(const char* archiveName, int result) {
    if (result != ZIP_OK)
        RunLogWrite("archive %s does not read back as it was written: %d (%s)", archiveName, result,
                    ZipResultMeaning(result));
    return result;
}

// The archives that stopped runs of this uninstall made, those still on the
// disk, "\r" between them: the data they deleted is only there. names
// (EARLIER_ARCHIVES_CAPACITY) receives part of what was read into a buffer of
// that size, so it always fits.
void EarlierArchives(char* names) {
    char recorded[EARLIER_ARCHIVES_CAPACITY];
    names[0] = '\0';
    if (!UninstallArchivesRead(recorded, sizeof recorded)) {
        RunLogWrite("the archives of stopped runs are recorded in a form this run cannot read");
        return;
    }
    size_t length = 0;
    for (char* name = recorded; *name != '\0';) {
        char* end = std::strchr(name, '\r');
        if (end != nullptr) *end = '\0';
        if (!FileExists(name)) {
            RunLogWrite("the archive %s, made by a stopped run, is no longer there: not named", name);
        } else {
            RunLogWrite("the archive %s, made by a stopped run, holds data of this folder", name);
            const size_t nameLength = std::strlen(name);
            if (length != 0) names[length++] = '\r';
            std::memcpy(names + length, name, nameLength + 1);
            length += nameLength;
        }
        name = end != nullptr ? end + 1 : name + std::strlen(name);
    }
}

} // namespace

int FilesStepArchive(HANDLE file, const char* archiveName, const char* dataFolder, uint32_t workers,
                     ZipListing* listing) {
    int result =
        ArchiveInto(file, archiveName, HeldFolder{INVALID_HANDLE_VALUE, dataFolder}, workers, listing);
    if (!CloseHandle(file) && result == ZIP_OK) {
        RunLogWrite("archive %s not closed", archiveName);
        ZipListingFree(listing);
        result = ZIP_ERR_WRITE;
    }
    return result;
}

int FilesStepVerify(const char* archiveName, const ZipListing& listing) {
    wchar_t path[ARCHIVE_NAME_CAPACITY];
    if (!WideFromAnsi(archiveName, path, ARCHIVE_NAME_CAPACITY)) return ZIP_ERR_ARGS;
    const std::vector<ZipVerifyExpected> expected = ExpectedEntries(listing);
    return VerifyResult(archiveName, ZipVerifyArchiveFile(path, expected.data(), listing.count));
}

void RunFilesStep(const char* dataFolder, char* message) {
    // The driver's hold of the installation folder serves when that is the
    // data folder; otherwise the step holds the folder itself: with the right
    // to remove it at the end if it can, else without, while something else
    // has it open.
    if (installFolderHandle != nullptr && lstrcmpiA(dataFolder, installFolder) == 0) {
        RunFilesStepHeld(HeldFolder{static_cast<HANDLE>(installFolderHandle), dataFolder}, message);
        return;
    }
    HANDLE held = FolderHold(dataFolder, true);
    if (held == INVALID_HANDLE_VALUE) held = FolderHold(dataFolder, false);
    if (held == INVALID_HANDLE_VALUE && HandleWalkAvailable())
        RunLogWrite("the data folder %s could not be held: Windows error %lu", dataFolder, GetLastError());
    RunFilesStepHeld(HeldFolder{held, dataFolder}, message);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
}

void RunFilesStepHeld(const HeldFolder& folder, char* message) {
    const char* dataFolder = folder.path;
    // Where the walks go by handle, a folder that is not held is not touched.
    const bool usable = folder.handle != INVALID_HANDLE_VALUE || !HandleWalkAvailable();
    std::vector<std::wstring> programFilesLeft;
    FailedNames programFiles = {dataFolder, "program file", &programFilesLeft, nullptr};
    const RemovalReport programReport = {LogFailedRemoval, &programFiles, nullptr};
    dataFilesUndeleted = 0;
    dataFilesUnarchived = 0;
    if (usable && !finishingStoppedRun) ProgramFilesDeleteHeld(folder, &programReport);
    char earlier[EARLIER_ARCHIVES_CAPACITY];
    EarlierArchives(earlier);

    char archiveName[ARCHIVE_NAME_CAPACITY] = "";
    bool archived = false;
    ArchiveFile archive;
    if (usable && CreateArchiveFile(dataFolder, &archive)) {
        ZipListing listing = {};
        int result = ArchiveInto(archive.file, archive.partial, folder, 0, &listing);
        if (result == ZIP_OK) {
            if (archiveWrittenHook != nullptr) archiveWrittenHook(archive.partial, archive.file);
            const std::vector<ZipVerifyExpected> expected = ExpectedEntries(listing);
            result = VerifyResult(archive.partial,
                                  ZipVerifyArchiveHandle(archive.file, expected.data(), listing.count));
        }
        if (result == ZIP_OK && archiveVerifiedHook != nullptr)
            archiveVerifiedHook(archive.partial, archive.file);
        // No file goes before the archive that holds it has its final name.
        archived = result == ZIP_OK && MakeArchiveFinal(&archive, archiveName);
        if (archived && !UninstallArchiveAdd(archiveName))
            RunLogWrite(
                "the archive %s could not be recorded in the uninstall key: should this run be stopped, a "
                "later one will not name it",
                archiveName);
        CloseArchiveDrive(&archive);
        if (archived) busyProgress = 100;
        FailedNames dataFiles = {dataFolder, "file", nullptr, &programFilesLeft};
        const RemovalReport dataReport = {LogFailedRemoval, &dataFiles, LogKeptFile};
        const bool folderGone = archived && DeleteArchivedFiles(folder, &listing, &dataReport);
        dataFolderKept = folderGone ? 0 : -1;
        ZipListingFree(&listing);
        // The archive was held from its creation to the end of the deletions;
        // one that failed is ours, created new, still partial, and goes
        // through that handle.
        HANDLE file = archive.file;
        if (!archived) {
            if (!HandleWalkAvailable() || file == INVALID_HANDLE_VALUE || !HandleDelete(file)) {
                if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
                file = INVALID_HANDLE_VALUE;
                if (!HandleWalkAvailable()) DeleteFileA(archive.partial);
            }
            archiveName[0] = '\0';
        }
        if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && archived)
            RunLogWrite("archive %s not closed", archiveName);
    } else {
        dataFolderKept = -1;
    }
    busyProgress = -1;
    lstrcpynA(archivePath, archiveName, PATH_CAPACITY);

    // Every archive that holds data of the folder is named; the names always
    // fit, should they not, this run's own archive is.
    char named[EARLIER_ARCHIVES_CAPACITY + ARCHIVE_NAME_CAPACITY];
    if (ArchiveNamesAppend(named, sizeof named, earlier, archiveName) != 0)
        lstrcpynA(named, archiveName, sizeof named);
    const char* cleaningRequired = CatalogueText(MSG_CLEANING_REQUIRED, languageCode);
    const char* filesArchived = CatalogueText(MSG_FILES_ARCHIVED, languageCode);
    int formatted = -1;
    if (!archived && earlier[0] != '\0')
        formatted = KeptFolderMessageFormat(message, RESULT_MESSAGE_CAPACITY, filesArchived, earlier,
                                            cleaningRequired, dataFolder);
    else if (!archived)
        formatted = ResultMessageFormat(message, RESULT_MESSAGE_CAPACITY, cleaningRequired, dataFolder);
    else if (dataFolderKept == 0)
        formatted = ResultMessageFormat(message, RESULT_MESSAGE_CAPACITY, filesArchived, named);
    else
        formatted = KeptFolderMessageFormat(message, RESULT_MESSAGE_CAPACITY, filesArchived, named,
                                            cleaningRequired, dataFolder);
    // Every text and a full path always fit; should they not, the bare text
    // still tells the user what happened.
    if (formatted != 0)
        lstrcpynA(message, archived && dataFolderKept == 0 ? filesArchived : cleaningRequired,
                  RESULT_MESSAGE_CAPACITY);
}
