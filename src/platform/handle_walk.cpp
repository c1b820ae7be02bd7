#include "platform/handle_walk.h"

#include "platform/wide_files.h"
#include "platform/windows_version.h"

#include <winternl.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

//--- ntdll's native calls, found at run time

typedef NTSTATUS(NTAPI* CreateFileFunction)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                            PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* QueryDirectoryFunction)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK,
                                                PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                                PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* FileInformationFunction)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                 FILE_INFORMATION_CLASS);
typedef ULONG(NTAPI* StatusToErrorFunction)(NTSTATUS);

struct NativeCalls {
    CreateFileFunction createFile;
    QueryDirectoryFunction queryDirectory;
    FileInformationFunction queryInformation;
    FileInformationFunction setInformation;
    StatusToErrorFunction statusToError;
    bool complete;
};

const NativeCalls& Native() {
    static const NativeCalls calls = [] {
        NativeCalls found = {};
        if (PlatformIsWindows9x()) return found;
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        found.createFile = PlatformFunction<CreateFileFunction>(ntdll, "NtCreateFile");
        found.queryDirectory = PlatformFunction<QueryDirectoryFunction>(ntdll, "NtQueryDirectoryFile");
        found.queryInformation = PlatformFunction<FileInformationFunction>(ntdll, "NtQueryInformationFile");
        found.setInformation = PlatformFunction<FileInformationFunction>(ntdll, "NtSetInformationFile");
        found.statusToError = PlatformFunction<StatusToErrorFunction>(ntdll, "RtlNtStatusToDosError");
        found.complete = found.createFile != nullptr && found.queryDirectory != nullptr &&
                         found.queryInformation != nullptr && found.setInformation != nullptr &&
                         found.statusToError != nullptr;
        return found;
    }();
    return calls;
}

// The native status codes the walk tells apart.
constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = NTSTATUS(0x80000006);
constexpr NTSTATUS STATUS_NO_SUCH_ENTRY = NTSTATUS(0xC000000F);
constexpr NTSTATUS STATUS_BAD_INFO_CLASS = NTSTATUS(0xC0000003);
constexpr NTSTATUS STATUS_BAD_PARAMETER = NTSTATUS(0xC000000D);
constexpr NTSTATUS STATUS_NOT_DONE = NTSTATUS(0xC0000002);
constexpr NTSTATUS STATUS_NAME_NOT_FOUND = NTSTATUS(0xC0000034);
constexpr NTSTATUS STATUS_PATH_NOT_FOUND = NTSTATUS(0xC000003A);
constexpr NTSTATUS STATUS_NOT_FOLDER = NTSTATUS(0xC0000103);
constexpr NTSTATUS STATUS_IS_FOLDER = NTSTATUS(0xC00000BA);
constexpr NTSTATUS STATUS_ON_SYMLINK = NTSTATUS(0x8000002D);

// NtCreateFile's dispositions and options.
constexpr ULONG OPEN_IF_THERE = 1;
constexpr ULONG CREATE_IF_NOT = 2;
constexpr ULONG OPTION_FOLDER = 0x1;
constexpr ULONG OPTION_SYNCHRONOUS = 0x20;
constexpr ULONG OPTION_NOT_FOLDER = 0x40;
constexpr ULONG OPTION_REPARSE_POINT = 0x200000;
constexpr ULONG CASE_INSENSITIVE = 0x40;

// Information classes beyond those mingw's header names reliably.
constexpr int CLASS_BOTH_DIRECTORY = 3;
constexpr int CLASS_ID_BOTH_DIRECTORY = 37;
constexpr int CLASS_BASIC = 4;
constexpr int CLASS_INTERNAL = 6;
constexpr int CLASS_DISPOSITION = 13;
constexpr int CLASS_RENAME = 10;
constexpr int CLASS_ATTRIBUTE_TAG = 35;

struct AttributeTag {
    ULONG attributes;
    ULONG tag;
};

// A reparse tag with this bit set names another object (Microsoft's
// IsReparseTagNameSurrogate).
constexpr DWORD NAME_SURROGATE_TAG = 0x20000000u;

constexpr size_t LISTING_BUFFER = 64 * 1024;

uint64_t Time64(const LARGE_INTEGER& time) {
    return static_cast<uint64_t>(time.QuadPart);
}

FILETIME FileTimeOf(const LARGE_INTEGER& time) {
    return FILETIME{DWORD(Time64(time)), DWORD(Time64(time) >> 32)};
}

// The walk's result for a failed status; the system's error is left for GetLastError.
int StatusResult(NTSTATUS status) {
    if (status == STATUS_NAME_NOT_FOUND || status == STATUS_PATH_NOT_FOUND) return HANDLE_WALK_GONE;
    if (status == STATUS_NOT_FOLDER || status == STATUS_IS_FOLDER) return HANDLE_WALK_CHANGED;
    if (status == STATUS_ON_SYMLINK) return HANDLE_WALK_LINK;
    SetLastError(Native().statusToError(status));
    return HANDLE_WALK_FAILED;
}

bool IsBareName(const wchar_t* name, size_t length) {
    if (name == nullptr || length == 0 || length > 255) return false;
    if ((length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.')) return false;
    static const wchar_t reserved[] = {L'\\', L'/', L':', L'*', L'?', L'<', L'>', L'"', L'|'};
    for (size_t i = 0; i < length; ++i) {
        if (name[i] < 32) return false;
        for (wchar_t character : reserved)
            if (name[i] == character) return false;
    }
    return true;
}

NTSTATUS NativeOpen(HANDLE parent, const wchar_t* name, size_t length, DWORD access, DWORD share,
                    PSECURITY_DESCRIPTOR security, ULONG disposition, ULONG options, HANDLE* opened) {
    UNICODE_STRING text = {USHORT(length * sizeof(wchar_t)), USHORT(length * sizeof(wchar_t)),
                           const_cast<PWSTR>(name)};
    // Filled by name: the 64-bit layout pads between the fields.
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(OBJECT_ATTRIBUTES);
    attributes.RootDirectory = parent;
    attributes.ObjectName = &text;
    attributes.Attributes = CASE_INSENSITIVE;
    attributes.SecurityDescriptor = security;
    IO_STATUS_BLOCK io = {};
    *opened = INVALID_HANDLE_VALUE;
    HANDLE handle = nullptr;
    const NTSTATUS status = Native().createFile(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                                                &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                                                disposition, options | OPTION_SYNCHRONOUS, nullptr, 0);
    if (NT_SUCCESS(status)) *opened = handle;
    return status;
}

int Refuse(HANDLE* opened, int result) {
    CloseHandle(*opened);
    *opened = INVALID_HANDLE_VALUE;
    return result;
}

// A file whose reparse point names nothing (deduplicated, cloud) is read
// through its filter. The first handle stays open, refusing deletion and so
// renames, while the second is opened; both must be the same file.
int OpenThrough(HANDLE parent, const wchar_t* name, size_t length, const HandleOpen& open, HANDLE* opened,
                HandleFacts* facts) {
    HANDLE through = INVALID_HANDLE_VALUE;
    const NTSTATUS status = NativeOpen(parent, name, length, open.access, open.share & ~FILE_SHARE_DELETE,
                                       nullptr, OPEN_IF_THERE, OPTION_NOT_FOLDER, &through);
    if (!NT_SUCCESS(status)) return Refuse(opened, StatusResult(status));
    HandleFacts read;
    if (!HandleFactsOf(through, &read, false) || read.index != facts->index) {
        CloseHandle(through);
        return Refuse(opened, HANDLE_WALK_CHANGED);
    }
    CloseHandle(*opened);
    *opened = through;
    *facts = read;
    return HANDLE_WALK_OK;
}

// Checks what was opened against what was asked for.
int CheckOpened(HANDLE parent, const wchar_t* name, size_t length, const HandleOpen& open, HANDLE* opened,
                HandleFacts* facts) {
    if (!HandleFactsOf(*opened, facts, false)) return Refuse(opened, HANDLE_WALK_FAILED);
    const bool folder = (facts->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (HandleFactsAreLink(*facts))
        return open.how & HANDLE_OPEN_LINK ? HANDLE_WALK_LINK : Refuse(opened, HANDLE_WALK_LINK);
    if (((open.how & HANDLE_OPEN_FILE) && folder) || ((open.how & HANDLE_OPEN_FOLDER) && !folder))
        return Refuse(opened, HANDLE_WALK_CHANGED);
    if ((open.how & HANDLE_OPEN_ONE_LINK) && !folder && facts->links > 1)
        return Refuse(opened, HANDLE_WALK_CHANGED);
    if (open.listedIndex != 0 && facts->index != open.listedIndex) return Refuse(opened, HANDLE_WALK_CHANGED);
    if (facts->reparseTag != 0 && !folder && (open.how & HANDLE_OPEN_THROUGH))
        return OpenThrough(parent, name, length, open, opened, facts);
    return HANDLE_WALK_OK;
}

// The length of the root part of a full path (through its last backslash:
// "\\?\C:\", "C:\", "\\?\UNC\server\share\", "\\server\share\"), and the text
// the root is opened by; 0 for any other form.
size_t RootOf(const wchar_t* path, wchar_t* root, size_t capacity) {
    size_t skip = 0;
    bool share = false;
    if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        skip = 8;
        share = true;
    } else if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
        skip = 4;
    } else if (path[0] == L'\\' && path[1] == L'\\') {
        skip = 2;
        share = true;
    }
    size_t end = 0;
    if (!share) {
        const wchar_t drive = path[skip];
        if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) ||
            path[skip + 1] != L':' || path[skip + 2] != L'\\')
            return 0;
        end = skip + 3;
    } else {
        // server\share\: two names, each ended by a backslash.
        end = skip;
        for (int part = 0; part < 2; ++part) {
            const size_t begin = end;
            while (path[end] != L'\0' && path[end] != L'\\')
                ++end;
            if (end == begin || path[end] != L'\\') return 0;
            ++end;
        }
    }
    const wchar_t* lead = share ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    const size_t leadLength = std::wcslen(lead);
    if (leadLength + end - skip + 1 > capacity) return 0;
    std::memcpy(root, lead, leadLength * sizeof(wchar_t));
    std::memcpy(root + leadLength, path + skip, (end - skip) * sizeof(wchar_t));
    root[leadLength + end - skip] = L'\0';
    return end;
}

// One record of a directory query as find data; GONE for "." and "..".
// Both classes share their head; the one with indexes adds it before the name.
int ListedOf(const unsigned char* record, bool withIndex, HandleListed* listed) {
    const FILE_BOTH_DIR_INFORMATION& both = *reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(record);
    const auto& withId = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(record);
    const wchar_t* name = withIndex ? withId.FileName : both.FileName;
    const size_t length = both.FileNameLength / sizeof(wchar_t);
    if ((length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.'))
        return HANDLE_WALK_GONE;
    if (length >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return HANDLE_WALK_REFUSED;
    }
    WIN32_FIND_DATAW& found = listed->found;
    std::memset(&found, 0, sizeof found);
    found.dwFileAttributes = both.FileAttributes;
    found.ftCreationTime = FileTimeOf(both.CreationTime);
    found.ftLastAccessTime = FileTimeOf(both.LastAccessTime);
    found.ftLastWriteTime = FileTimeOf(both.LastWriteTime);
    const uint64_t size = static_cast<uint64_t>(both.EndOfFile.QuadPart);
    found.nFileSizeHigh = DWORD(size >> 32);
    found.nFileSizeLow = DWORD(size);
    // The extended attributes' size gives way to the reparse tag where there is one.
    if (both.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) found.dwReserved0 = both.EaSize;
    std::memcpy(found.cFileName, name, length * sizeof(wchar_t));
    const size_t shortLength = size_t(static_cast<unsigned char>(both.ShortNameLength)) / sizeof(wchar_t);
    if (shortLength < 14)
        std::memcpy(found.cAlternateFileName, both.ShortName, shortLength * sizeof(wchar_t));
    listed->index = withIndex ? static_cast<uint64_t>(withId.FileId.QuadPart) : 0;
    return HANDLE_WALK_OK;
}

// Looks name up in the listing of the folder held by held. The system keeps
// the first name asked on a handle for all its later queries, so the
// question goes to a handle of its own, the same folder opened again.
int HandleListName(HANDLE held, const wchar_t* name, size_t length, HandleListed* listed) {
    listed->index = 0;
    if (!IsBareName(name, length)) return HANDLE_WALK_REFUSED;
    HANDLE folder = INVALID_HANDLE_VALUE;
    const NTSTATUS opened =
        NativeOpen(held, L"", 0, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   nullptr, OPEN_IF_THERE, OPTION_FOLDER, &folder);
    if (!NT_SUCCESS(opened)) return StatusResult(opened);
    alignas(8) unsigned char record[sizeof(FILE_ID_BOTH_DIR_INFORMATION) + MAX_PATH * sizeof(wchar_t)];
    UNICODE_STRING text = {USHORT(length * sizeof(wchar_t)), USHORT(length * sizeof(wchar_t)),
                           const_cast<PWSTR>(name)};
    int infoClass = CLASS_ID_BOTH_DIRECTORY;
    IO_STATUS_BLOCK io = {};
    NTSTATUS status = Native().queryDirectory(folder, nullptr, nullptr, nullptr, &io, record, sizeof record,
                                              FILE_INFORMATION_CLASS(infoClass), TRUE, &text, TRUE);
    if (status == STATUS_BAD_INFO_CLASS || status == STATUS_BAD_PARAMETER || status == STATUS_NOT_DONE) {
        infoClass = CLASS_BOTH_DIRECTORY;
        status = Native().queryDirectory(folder, nullptr, nullptr, nullptr, &io, record, sizeof record,
                                         FILE_INFORMATION_CLASS(infoClass), TRUE, &text, TRUE);
    }
    CloseHandle(folder);
    if (status == STATUS_NO_MORE_ENTRIES || status == STATUS_NO_SUCH_ENTRY) return HANDLE_WALK_GONE;
    if (!NT_SUCCESS(status)) return StatusResult(status);
    return ListedOf(record, infoClass == CLASS_ID_BOTH_DIRECTORY, listed);
}

} // namespace

void (*handleWalkSeam)(int point, const wchar_t* name, size_t nameLength) = nullptr;
void (*workSeam)(int point) = nullptr;

bool HandleWalkAvailable() {
    return Native().complete;
}

bool HandleFactsOf(HANDLE handle, HandleFacts* facts, bool withVolume) {
    const NativeCalls& native = Native();
    if (!native.complete) return false;
    IO_STATUS_BLOCK io;
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    LARGE_INTEGER index;
    if (!NT_SUCCESS(native.queryInformation(handle, &io, &basic, sizeof basic, FileBasicInformation)) ||
        !NT_SUCCESS(
            native.queryInformation(handle, &io, &standard, sizeof standard, FileStandardInformation)) ||
        !NT_SUCCESS(native.queryInformation(handle, &io, &index, sizeof index,
                                            FILE_INFORMATION_CLASS(CLASS_INTERNAL))))
        return false;
    *facts = HandleFacts{0,
                         static_cast<uint64_t>(index.QuadPart),
                         static_cast<uint64_t>(standard.EndOfFile.QuadPart),
                         Time64(basic.LastWriteTime),
                         basic.FileAttributes,
                         standard.NumberOfLinks,
                         0};
    // Windows before 2000 has no reparse points; one that has them but cannot
    // tell the tag leaves it unknown.
    AttributeTag tag;
    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        NT_SUCCESS(native.queryInformation(handle, &io, &tag, sizeof tag,
                                           FILE_INFORMATION_CLASS(CLASS_ATTRIBUTE_TAG))))
        facts->reparseTag = tag.tag;
    if (withVolume) {
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(handle, &information)) return false;
        facts->volume = information.dwVolumeSerialNumber;
    }
    return true;
}

bool HandleFactsUnchanged(const HandleFacts& read, const HandleFacts& now) {
    return read.index == now.index && read.size == now.size && read.written == now.written &&
           (read.volume == 0 || now.volume == 0 || read.volume == now.volume);
}

bool HandleFactsAreLink(const HandleFacts& facts) {
    if (!(facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    return facts.reparseTag == 0 || (facts.reparseTag & NAME_SURROGATE_TAG) != 0;
}

int HandleOpenChild(HANDLE parent, const wchar_t* name, size_t nameLength, const HandleOpen& open,
                    HANDLE* opened, HandleFacts* facts) {
    *opened = INVALID_HANDLE_VALUE;
    if (!HandleWalkAvailable() || !IsBareName(name, nameLength)) return HANDLE_WALK_REFUSED;
    if (handleWalkSeam != nullptr) handleWalkSeam(HANDLE_SEAM_OPEN, name, nameLength);
    ULONG options = OPTION_REPARSE_POINT;
    if (open.how & HANDLE_OPEN_FILE) options |= OPTION_NOT_FOLDER;
    if (open.how & HANDLE_OPEN_FOLDER) options |= OPTION_FOLDER;
    const NTSTATUS status = NativeOpen(parent, name, nameLength, open.access, open.share, nullptr,
                                       OPEN_IF_THERE, options, opened);
    if (!NT_SUCCESS(status)) return StatusResult(status);
    return CheckOpened(parent, name, nameLength, open, opened, facts);
}

int HandleOpenNamed(HANDLE parent, const wchar_t* name, size_t nameLength, const HandleOpen& open,
                    HANDLE* opened, HandleFacts* facts) {
    *opened = INVALID_HANDLE_VALUE;
    if (!HandleWalkAvailable()) return HANDLE_WALK_REFUSED;
    HandleListed listed;
    const int result = HandleListName(parent, name, nameLength, &listed);
    if (result != HANDLE_WALK_OK) return result;
    if (WideIsLink(listed.found) && !(open.how & HANDLE_OPEN_LINK)) return HANDLE_WALK_LINK;
    HandleOpen asked = open;
    asked.listedIndex = listed.index;
    return HandleOpenChild(parent, name, nameLength, asked, opened, facts);
}

int HandleCreateChild(HANDLE parent, const wchar_t* name, size_t nameLength, DWORD access, DWORD share,
                      SECURITY_ATTRIBUTES* security, HANDLE* created) {
    *created = INVALID_HANDLE_VALUE;
    if (!HandleWalkAvailable() || !IsBareName(name, nameLength)) return HANDLE_WALK_REFUSED;
    const NTSTATUS status = NativeOpen(parent, name, nameLength, access, share,
                                       security != nullptr ? security->lpSecurityDescriptor : nullptr,
                                       CREATE_IF_NOT, OPTION_NOT_FOLDER | OPTION_REPARSE_POINT, created);
    if (NT_SUCCESS(status)) return HANDLE_WALK_OK;
    const int result = StatusResult(status);
    // Only an existing name leads there: it is not an answer to a creation.
    if (result != HANDLE_WALK_FAILED) SetLastError(ERROR_PATH_NOT_FOUND);
    return HANDLE_WALK_FAILED;
}

int HandleOpenPath(const wchar_t* path, const HandleOpen& open, HANDLE* opened, HandleFacts* facts) {
    *opened = INVALID_HANDLE_VALUE;
    if (!HandleWalkAvailable() || path == nullptr) return HANDLE_WALK_REFUSED;
    wchar_t root[MAX_PATH];
    size_t at = RootOf(path, root, MAX_PATH);
    if (at == 0) return HANDLE_WALK_REFUSED;
    // A volume's root is no link; it is the one folder opened by its text.
    const bool rootOnly = path[at] == L'\0';
    HANDLE folder =
        CreateFileW(root, (rootOnly ? open.access : FILE_TRAVERSE) | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    rootOnly ? open.share : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return HANDLE_WALK_FAILED;
    if (rootOnly) {
        if (!HandleFactsOf(folder, facts, false) || (open.how & HANDLE_OPEN_FILE)) {
            CloseHandle(folder);
            return HANDLE_WALK_CHANGED;
        }
        *opened = folder;
        return HANDLE_WALK_OK;
    }
    const HandleOpen passing = {FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                HANDLE_OPEN_FOLDER, 0};
    int result = HANDLE_WALK_OK;
    bool last = false;
    while (result == HANDLE_WALK_OK && !last) {
        size_t end = at;
        while (path[end] != L'\0' && path[end] != L'\\' && path[end] != L'/')
            ++end;
        // A trailing separator ends the path; an empty part between two does not pass.
        last = path[end] == L'\0' || path[end + 1] == L'\0';
        HANDLE child = INVALID_HANDLE_VALUE;
        result = HandleOpenNamed(folder, path + at, end - at, last ? open : passing, &child, facts);
        CloseHandle(folder);
        folder = child;
        at = end + 1;
    }
    if ((result == HANDLE_WALK_OK || result == HANDLE_WALK_LINK) && last && folder != INVALID_HANDLE_VALUE) {
        *opened = folder;
        return result;
    }
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    return result;
}

HANDLE HandleHoldFolder(const wchar_t* path, DWORD access) {
    if (!HandleWalkAvailable()) return INVALID_HANDLE_VALUE;
    HANDLE folder = CreateFileW(
        path, access | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    HandleFacts facts;
    if (folder != INVALID_HANDLE_VALUE &&
        (!HandleFactsOf(folder, &facts, false) || !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(folder);
        SetLastError(ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

bool HandleListBegin(HandleListing* listing, HANDLE folder) {
    *listing = HandleListing{folder, nullptr, LISTING_BUFFER, 0, 0, CLASS_ID_BOTH_DIRECTORY, true, false};
    listing->buffer = static_cast<unsigned char*>(std::malloc(LISTING_BUFFER));
    return listing->buffer != nullptr && HandleWalkAvailable();
}

void HandleListEnd(HandleListing* listing) {
    std::free(listing->buffer);
    listing->buffer = nullptr;
}

namespace {

// Asks for the next records; false at the end or on failure (*result says which).
bool QueryMore(HandleListing* listing, int* result) {
    IO_STATUS_BLOCK io = {};
    NTSTATUS status = Native().queryDirectory(
        listing->folder, nullptr, nullptr, nullptr, &io, listing->buffer, ULONG(listing->capacity),
        FILE_INFORMATION_CLASS(listing->infoClass), FALSE, nullptr, listing->restart ? TRUE : FALSE);
    // Windows before XP lists without file indexes.
    if (listing->restart && listing->infoClass == CLASS_ID_BOTH_DIRECTORY &&
        (status == STATUS_BAD_INFO_CLASS || status == STATUS_BAD_PARAMETER || status == STATUS_NOT_DONE)) {
        listing->infoClass = CLASS_BOTH_DIRECTORY;
        status = Native().queryDirectory(listing->folder, nullptr, nullptr, nullptr, &io, listing->buffer,
                                         ULONG(listing->capacity), FILE_INFORMATION_CLASS(listing->infoClass),
                                         FALSE, nullptr, TRUE);
    }
    listing->restart = false;
    listing->at = 0;
    listing->filled = 0;
    if (status == STATUS_NO_MORE_ENTRIES || status == STATUS_NO_SUCH_ENTRY) {
        listing->ended = true;
        *result = HANDLE_WALK_GONE;
        return false;
    }
    if (!NT_SUCCESS(status)) {
        listing->ended = true;
        SetLastError(Native().statusToError(status));
        *result = HANDLE_WALK_FAILED;
        return false;
    }
    listing->filled = io.Information;
    return true;
}

} // namespace

int HandleListNext(HandleListing* listing, HandleListed* listed) {
    for (;;) {
        if (listing->ended) return HANDLE_WALK_GONE;
        int result = HANDLE_WALK_OK;
        if (listing->at >= listing->filled && !QueryMore(listing, &result)) return result;
        if (listing->filled == 0) continue;
        const unsigned char* record = listing->buffer + listing->at;
        const ULONG next = reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(record)->NextEntryOffset;
        listing->at = next != 0 ? listing->at + next : listing->filled;
        result = ListedOf(record, listing->infoClass == CLASS_ID_BOTH_DIRECTORY, listed);
        if (result != HANDLE_WALK_GONE) return result;
    }
}

bool HandleDelete(HANDLE handle) {
    const NativeCalls& native = Native();
    if (!native.complete) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    IO_STATUS_BLOCK io;
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    const NTSTATUS status = native.setInformation(handle, &io, &disposition, sizeof disposition,
                                                  FILE_INFORMATION_CLASS(CLASS_DISPOSITION));
    if (NT_SUCCESS(status)) return true;
    SetLastError(native.statusToError(status));
    return false;
}

bool HandleDeleteNamed(HANDLE handle, const wchar_t* name, size_t nameLength) {
    if (handleWalkSeam != nullptr) handleWalkSeam(HANDLE_SEAM_DELETE, name, nameLength);
    return HandleDelete(handle);
}

bool HandleRename(HANDLE handle, HANDLE folder, const wchar_t* name, size_t nameLength) {
    const NativeCalls& native = Native();
    if (!native.complete || !IsBareName(name, nameLength) || nameLength > MAX_PATH) {
        SetLastError(native.complete ? ERROR_INVALID_NAME : ERROR_NOT_SUPPORTED);
        return false;
    }
    // The native rename's record: the new name follows the fixed part.
    struct Rename {
        BOOLEAN replaceIfExists;
        HANDLE rootDirectory;
        ULONG nameBytes;
        WCHAR name[MAX_PATH];
    } rename = {FALSE, folder, ULONG(nameLength * sizeof(WCHAR)), {}};
    std::memcpy(rename.name, name, nameLength * sizeof(WCHAR));
    IO_STATUS_BLOCK io;
    const NTSTATUS status =
        native.setInformation(handle, &io, &rename, ULONG(offsetof(Rename, name) + rename.nameBytes),
                              FILE_INFORMATION_CLASS(CLASS_RENAME));
    if (NT_SUCCESS(status)) return true;
    SetLastError(native.statusToError(status));
    return false;
}

bool HandleSetAttributes(HANDLE handle, DWORD attributes) {
    const NativeCalls& native = Native();
    if (!native.complete) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    // Times of zero are left as they are; attributes of zero would mean the same.
    FILE_BASIC_INFORMATION basic = {};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK io;
    const NTSTATUS status =
        native.setInformation(handle, &io, &basic, sizeof basic, FILE_INFORMATION_CLASS(CLASS_BASIC));
    if (NT_SUCCESS(status)) return true;
    SetLastError(native.statusToError(status));
    return false;
}
