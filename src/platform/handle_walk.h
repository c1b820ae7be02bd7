// Walking folders handle to handle: each child is opened by its bare name
// relative to the handle of the folder that listed it, never through a link,
// and the opened handle is checked before it is read or deleted through. A
// folder that somebody renames away and replaces with a link between the
// listing and the open leads nowhere: what the walk lists, reads and deletes
// is what it holds. The NT family does it with ntdll's native calls (relative
// opens, directory queries and dispositions exist from NT 4 on), looked up at
// run time; Windows 9x has no links and keeps its path walk (wide_files.h).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Whether the walks go by handle here: false on Windows 9x, or where ntdll
// lacks one of the native calls.
bool HandleWalkAvailable();

//--- the tests' seam
// Called, when set, between a check and its use: before each child is
// opened by its name (after the listing or look-up that found it) and before
// each deletion through a handle (after its facts were checked). The tests
// swap a folder for a link there.
enum : int { HANDLE_SEAM_OPEN = 1, HANDLE_SEAM_DELETE = 2 };
extern void (*handleWalkSeam)(int point, const wchar_t* name, size_t nameLength);
// Called, when set, as the rest of the work goes on: at each step's start,
// at each report of the archive's progress, at each read of its verification.
// With the walks' seam it lets the tests stop a run after a given amount of
// work, as a kill or a power cut would.
enum : int { WORK_SEAM_STEP = 1, WORK_SEAM_ARCHIVED = 2, WORK_SEAM_VERIFY_READ = 3 };
extern void (*workSeam)(int point);

//--- what a handle tells
struct HandleFacts {
    uint32_t volume; // the volume's serial number; 0 unless asked for
    uint64_t index;  // the file index on its volume
    uint64_t size;
    uint64_t written; // last-write time in FILETIME units
    DWORD attributes;
    DWORD links;      // hard links to a file
    DWORD reparseTag; // 0 when it has no reparse point
};
// withVolume also asks for the volume's serial number, which under Wine costs
// round trips to its mount manager; within one walk the volume never changes,
// since no mount point is ever entered. False when the handle cannot be asked.
bool HandleFactsOf(HANDLE handle, HandleFacts* facts, bool withVolume);
// Whether a handle holds the same file as was read (identity, size and
// last-write time): what may go after it went into an archive.
bool HandleFactsUnchanged(const HandleFacts& read, const HandleFacts& now);
// A reparse point that names another object (a junction, mount point or
// symbolic link); a folder with any reparse point counts as one, as does a
// file whose tag is unknown (Wine shows symbolic links with none).
bool HandleFactsAreLink(const HandleFacts& facts);

//--- results of the opens
enum : int {
    HANDLE_WALK_OK = 0,
    HANDLE_WALK_GONE,    // nothing under that name
    HANDLE_WALK_LINK,    // a link (opened as itself only with HANDLE_OPEN_LINK)
    HANDLE_WALK_CHANGED, // not what was listed: another file, kind, or a file with more links
    HANDLE_WALK_REFUSED, // not a bare name, or a path the walk cannot take
    HANDLE_WALK_FAILED,  // the system refused; GetLastError tells why
};

// What an open asks for; the handle is always synchronous, so ReadFile and
// WriteFile work on it as on one CreateFile made.
enum : unsigned {
    HANDLE_OPEN_FILE = 1,     // must be a file
    HANDLE_OPEN_FOLDER = 2,   // must be a folder
    HANDLE_OPEN_ONE_LINK = 4, // a file with more than one hard link is refused (CHANGED)
    HANDLE_OPEN_LINK = 8,     // a link is kept open as itself (result LINK), to be deleted
    HANDLE_OPEN_THROUGH = 16, // a file's reparse point that names nothing (dedup, cloud) is read through
};

struct HandleOpen {
    DWORD access;         // e.g. GENERIC_READ, FILE_LIST_DIRECTORY, DELETE; SYNCHRONIZE is added
    DWORD share;          // FILE_SHARE_*
    unsigned how;         // HANDLE_OPEN_*
    uint64_t listedIndex; // the file index the listing gave; 0 when unknown
};

// Opens the child name (nameLength units: no separator, not "." or "..") of
// the folder held by parent without following a reparse point, then checks
// the handle: a link is refused (LINK) and closed unless asked for, the kind,
// the link count and the listed identity must match (CHANGED). On OK and LINK
// *opened holds the handle (CloseHandle) and facts what it tells; otherwise
// *opened is INVALID_HANDLE_VALUE.
int HandleOpenChild(HANDLE parent, const wchar_t* name, size_t nameLength, const HandleOpen& open,
                    HANDLE* opened, HandleFacts* facts);
// The same for a name that no listing gave: it is looked up in the folder's
// listing first, where a link shows even where the open itself would follow
// it (Wine), and the opened object must be the one listed.
int HandleOpenNamed(HANDLE parent, const wchar_t* name, size_t nameLength, const HandleOpen& open,
                    HANDLE* opened, HandleFacts* facts);
// Creates a new file name in the folder held by parent, never opening
// anything that is there already (GONE is not an answer: an existing name is
// FAILED with ERROR_FILE_EXISTS), with the given security (may be null).
int HandleCreateChild(HANDLE parent, const wchar_t* name, size_t nameLength, DWORD access, DWORD share,
                      SECURITY_ATTRIBUTES* security, HANDLE* created);
// Opens a full path (C:\..., \\server\share\..., or their \\?\ forms) from its
// root, component by component, each relative to the one before and opened
// as HandleOpenNamed does, following no link anywhere on it; open applies to the last component, every one
// before must be a plain folder (LINK or CHANGED otherwise).
int HandleOpenPath(const wchar_t* path, const HandleOpen& open, HANDLE* opened, HandleFacts* facts);

// Holds the folder at path (a link at the folder itself is followed: a moved
// installation) for a walk: shared for reading and writing only, so that
// nobody can rename or delete it meanwhile; access adds to listing it (DELETE
// for a folder that is to go). INVALID_HANDLE_VALUE where the walks go by
// path (HandleWalkAvailable) or it cannot be opened (GetLastError).
HANDLE HandleHoldFolder(const wchar_t* path, DWORD access);

//--- listing a held folder
// One listed entry: the find data the path walk also has (dwReserved0 the
// reparse tag), and the file index where the system tells it (0 otherwise).
struct HandleListed {
    WIN32_FIND_DATAW found;
    uint64_t index;
};
struct HandleListing {
    HANDLE folder; // opened with FILE_LIST_DIRECTORY; not owned
    unsigned char* buffer;
    size_t capacity;
    size_t at;     // the next record in the buffer
    size_t filled; // bytes the last query returned
    int infoClass; // the query's information class
    bool restart;  // the next query starts from the first entry
    bool ended;
};
// False when memory is short; HandleListEnd frees it on every path.
bool HandleListBegin(HandleListing* listing, HANDLE folder);
// The next entry ("." and ".." are passed by): OK, GONE at the end, FAILED
// when the folder could not be read to its end (GetLastError) or REFUSED for
// a name too long for the find data.
int HandleListNext(HandleListing* listing, HandleListed* listed);
void HandleListEnd(HandleListing* listing);

//--- deleting through a handle
// Marks what handle holds (opened with DELETE) for deletion by its
// disposition; it goes when the last handle to it closes. A folder must be
// empty. False with GetLastError otherwise (read-only files are not made
// writable).
bool HandleDelete(HANDLE handle);
// Gives what handle holds (opened with DELETE) the bare name (nameLength
// units) in the folder held by folder (opened with FILE_ADD_FILE), never
// replacing what is there: an existing name fails with ERROR_ALREADY_EXISTS
// (or ERROR_FILE_EXISTS). False with GetLastError otherwise.
bool HandleRename(HANDLE handle, HANDLE folder, const wchar_t* name, size_t nameLength);
// Sets the attributes of what handle holds (opened with FILE_WRITE_ATTRIBUTES),
// leaving its times as they are.
bool HandleSetAttributes(HANDLE handle, DWORD attributes);
// The same for the child name of parent, which the seam is told of.
bool HandleDeleteNamed(HANDLE handle, const wchar_t* name, size_t nameLength);
