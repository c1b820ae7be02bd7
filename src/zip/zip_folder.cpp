// Folder archiving: every file below a folder, depth-first, in the order in
// which the file system lists them. The walk lists the whole tree first, so
// that the archive knows how many bytes lie ahead, then writes the files
// (workers may already be compressing those listed so far meanwhile). It
// works on wide names in the long path form, so that no name or depth the
// file system allows stops it, and it never enters or archives a link. On
// the NT family it goes handle to handle: each folder is listed from its
// handle, and each child opened by its name relative to the folder that
// listed it, checked to be what the listing showed; the files are read
// through handles of their own folders, reopened the same way.
#include <windows.h>

#include "platform/handle_walk.h"
#include "platform/wide_files.h"
#include "zip/zip.h"
#include "zip/zip_parallel.h"
#include "zip/zip_threads.h"

#include <cstring>
#include <cwchar>

namespace {

// How a listed file is opened: as it is, refusing a link that replaced it
// since the listing, or through its reparse point, whose filter holds the
// data (a deduplicated or cloud file).
enum : wchar_t { OPEN_PLAIN = L'p', OPEN_THROUGH = L't' };

// One level of the walk: its search (by path) or its held folder and its
// listing (by handle), the length of its folder's path, and its record.
struct Level {
    HANDLE search;
    HANDLE held;
    HandleListing listing;
    size_t pathLength;
    uint32_t folder;
    bool pending; // the walk's item holds an entry of this level not yet taken
};

// A file found by the walk: where its text begins in the walk's files, the
// size it was listed with, its folder's record and the index it was listed with.
struct ListedFile {
    size_t at;
    uint64_t size;
    uint32_t folder;
    uint64_t index;
};

// A folder the walk by handle entered: its parent's record (the walked
// folder is record 0, its own parent) and the index it was listed with.
struct FolderRecord {
    uint32_t parent;
    uint64_t index;
};

// The folders from the walked one down to a file's, held by one thread
// while it reads the files, which mostly lie in the same folders in turn.
struct ChainLink {
    uint32_t folder;
    HANDLE handle;
};
struct WantedFolder {
    uint32_t folder;
    uint64_t index;
};
struct FolderChain {
    ChainLink* links;
    size_t depth;
    uint32_t capacity;
    WantedFolder* wanted; // the next file's folders, outermost first, with their listed indexes
    size_t wantedDepth;
    uint32_t wantedCapacity;
    uint64_t fileIndex; // the next file's listed index, then the index of the file opened
};

// The walk's working path and what every level shares.
struct FolderWalk {
    ZipArchive* archive;
    wchar_t* path;     // the folder being listed (long form), extended in place by each level
    size_t rootLength; // the folder's own part of the path
    wchar_t* name;     // the names' prefix, then a file's path below the folder
    size_t prefixLength;
    wchar_t* files; // the files found: an open mode, the path below the folder, a zero; back to back
    size_t filesLength;
    uint32_t filesCapacity;
    ListedFile* listed;
    size_t listedCount;
    uint32_t listedCapacity;
    uint64_t bytes; // the listed sizes of the files
    Level* levels;
    size_t depth;
    uint32_t levelCapacity;
    WIN32_FIND_DATAW item;
    uint64_t itemIndex;
    // The walk by handle: the walked folder, held by the caller, the folders
    // entered, and the writer's own chain.
    HANDLE root;
    bool ownsRoot;
    FolderRecord* folders;
    size_t folderCount;
    uint32_t folderCapacity;
    FolderChain chain;
    // While workers prepare the files already listed: the run, and the lock
    // under which the listing's blocks are grown and read.
    ZipParallelRun* run;
    ZipLock* listLock;
};

bool IsSkippedFolder(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// Puts text at path[at], or refuses when it would not fit with its
// terminator: a walk that cannot hold a path must fail, not skip the file.
bool PlaceAt(FolderWalk* walk, size_t at, const wchar_t* text) {
    const size_t length = std::wcslen(text);
    if (at + length >= WIDE_PATH_CAPACITY) return false;
    std::memcpy(walk->path + at, text, (length + 1) * sizeof(wchar_t));
    return true;
}

bool PushLevel(FolderWalk* walk, const Level& level) {
    if (!ZipGrowBlock(reinterpret_cast<void**>(&walk->levels), &walk->levelCapacity, walk->depth + 1,
                      sizeof(Level)))
        return false;
    walk->levels[walk->depth++] = level;
    return true;
}

// Starts listing the folder whose path (pathLength units) is in the working
// path. A folder that is not there holds nothing to lose; one that is there
// but cannot be listed may hold files, so the walk must not pass it.
int EnterFolder(FolderWalk* walk, size_t pathLength) {
    if (!PlaceAt(walk, pathLength, L"\\*")) return ZIP_ERR_TOOBIG;
    HANDLE search = WideFindFirst(walk->path, &walk->item);
    const DWORD cause = GetLastError();
    walk->path[pathLength] = L'\0';
    if (search == INVALID_HANDLE_VALUE)
        return cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND ? ZIP_OK : ZIP_ERR_OPEN;
    if (!PushLevel(walk, Level{search, INVALID_HANDLE_VALUE, {}, pathLength, 0, true})) {
        FindClose(search);
        return ZIP_ERR_NOMEM;
    }
    return ZIP_OK;
}

// Starts listing a held folder (record folder), which the level then owns
// (but the walked one, which its caller holds).
int EnterHeld(FolderWalk* walk, HANDLE held, size_t pathLength, uint32_t folder) {
    Level level = {INVALID_HANDLE_VALUE, held, {}, pathLength, folder, false};
    if (!HandleListBegin(&level.listing, held) || !PushLevel(walk, level)) {
        HandleListEnd(&level.listing);
        if (held != walk->root) CloseHandle(held);
        return ZIP_ERR_NOMEM;
    }
    return ZIP_OK;
}

void LeaveLevel(FolderWalk* walk) {
    Level& level = walk->levels[--walk->depth];
    if (level.search != INVALID_HANDLE_VALUE) FindClose(level.search);
    if (level.held == INVALID_HANDLE_VALUE) return;
    HandleListEnd(&level.listing);
    if (level.held != walk->root) CloseHandle(level.held);
}

// Opens the listed child folder of the deepest level and enters it. One that
// is gone, or is no longer what was listed (a link swapped in), is passed by
// like a link; one that cannot be opened may hold files.
int EnterChild(FolderWalk* walk, size_t pathLength) {
    const Level& level = walk->levels[walk->depth - 1];
    const wchar_t* name = walk->item.cFileName;
    const HandleOpen open = {FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER,
                             walk->itemIndex};
    HANDLE child;
    HandleFacts facts;
    const int opened = HandleOpenChild(level.held, name, std::wcslen(name), open, &child, &facts);
    if (opened == HANDLE_WALK_GONE || opened == HANDLE_WALK_LINK || opened == HANDLE_WALK_CHANGED) {
        if (child != INVALID_HANDLE_VALUE) CloseHandle(child);
        return ZIP_OK;
    }
    if (opened != HANDLE_WALK_OK) return ZIP_ERR_OPEN;
    if (walk->listLock != nullptr) ZipLockTake(walk->listLock);
    const bool room = ZipGrowBlock(reinterpret_cast<void**>(&walk->folders), &walk->folderCapacity,
                                   walk->folderCount + 1, sizeof(FolderRecord));
    if (room) walk->folders[walk->folderCount++] = FolderRecord{level.folder, facts.index};
    if (walk->listLock != nullptr) ZipLockLeave(walk->listLock);
    if (!room) {
        CloseHandle(child);
        return ZIP_ERR_NOMEM;
    }
    return EnterHeld(walk, child, pathLength, static_cast<uint32_t>(walk->folderCount - 1));
}

int NoteFile(FolderWalk* walk, size_t pathLength, wchar_t mode, uint32_t folder) {
    const wchar_t* relative = walk->path + walk->rootLength + 1;
    const size_t length = pathLength - walk->rootLength - 1;
    if (walk->listLock != nullptr) ZipLockTake(walk->listLock);
    const bool room = ZipGrowBlock(reinterpret_cast<void**>(&walk->files), &walk->filesCapacity,
                                   walk->filesLength + length + 2, sizeof(wchar_t)) &&
                      ZipGrowBlock(reinterpret_cast<void**>(&walk->listed), &walk->listedCapacity,
                                   walk->listedCount + 1, sizeof(ListedFile));
    if (room) {
        const uint64_t size = (uint64_t(walk->item.nFileSizeHigh) << 32) | walk->item.nFileSizeLow;
        walk->listed[walk->listedCount++] = ListedFile{walk->filesLength, size, folder, walk->itemIndex};
        walk->files[walk->filesLength] = mode;
        std::memcpy(walk->files + walk->filesLength + 1, relative, (length + 1) * sizeof(wchar_t));
        walk->filesLength += length + 2;
        walk->bytes += size;
    }
    if (walk->listLock != nullptr) ZipLockLeave(walk->listLock);
    if (!room) return ZIP_ERR_NOMEM;
    // Short of memory for the run's own records, the writer adds every file
    // itself once the listing is done. The count fits: the listing's own
    // capacity is counted in 32 bits.
    if (walk->run != nullptr && !ZipParallelKnow(walk->run, static_cast<uint32_t>(walk->listedCount))) {
        ZipParallelEnd(walk->run, false);
        walk->run = nullptr;
    }
    return ZIP_OK;
}

// Takes the pending entry of the deepest level: a file is noted, a folder
// entered; links and the folder's own entries are passed by.
int TakeItem(FolderWalk* walk) {
    Level& level = walk->levels[walk->depth - 1];
    level.pending = false;
    const WIN32_FIND_DATAW& item = walk->item;
    const bool folder = (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((folder && IsSkippedFolder(item.cFileName)) || WideIsLink(item)) return ZIP_OK;
    if (!PlaceAt(walk, level.pathLength, L"\\") || !PlaceAt(walk, level.pathLength + 1, item.cFileName))
        return ZIP_ERR_TOOBIG;
    const size_t length = std::wcslen(walk->path);
    if (folder)
        return level.held != INVALID_HANDLE_VALUE ? EnterChild(walk, length) : EnterFolder(walk, length);
    const bool through = (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return NoteFile(walk, length, through ? OPEN_THROUGH : OPEN_PLAIN, level.folder);
}

// The next entry of the deepest level into the walk's item: true, or false
// at the end of its list, with *result ZIP_ERR_READ when files went unseen.
bool NextItem(FolderWalk* walk, Level& level, int* result) {
    if (level.held == INVALID_HANDLE_VALUE) {
        if (WideFindNext(level.search, &walk->item)) return true;
        if (GetLastError() != ERROR_NO_MORE_FILES) *result = ZIP_ERR_READ;
        return false;
    }
    HandleListed listed;
    const int next = HandleListNext(&level.listing, &listed);
    if (next == HANDLE_WALK_OK) {
        walk->item = listed.found;
        walk->itemIndex = listed.index;
        return true;
    }
    if (next != HANDLE_WALK_GONE) *result = ZIP_ERR_READ;
    return false;
}

// Lists every file below the folder, depth-first in listing order.
int ListTree(FolderWalk* walk) {
    int result = walk->root != INVALID_HANDLE_VALUE ? EnterHeld(walk, walk->root, walk->rootLength, 0)
                                                    : EnterFolder(walk, walk->rootLength);
    while (result == ZIP_OK && walk->depth > 0) {
        Level& level = walk->levels[walk->depth - 1];
        if (level.pending) {
            result = TakeItem(walk);
            continue;
        }
        if (NextItem(walk, level, &result)) {
            level.pending = true;
            continue;
        }
        LeaveLevel(walk);
    }
    while (walk->depth > 0)
        LeaveLevel(walk);
    return result;
}

// A thread's own texts for adding files: the file's path (the folder's long
// path, then the file's part) and its name (the names' prefix, then the same
// part); and for the walk by handle its chain of folders.
struct FileTexts {
    wchar_t* path;
    wchar_t* name;
    FolderChain* chain;
};

// Puts listed file index's path below the folder into path, after the
// folder's own part, and for the walk by handle the records of its folders
// into the chain's wanted list; its open mode, or 0 when the path would not
// fit or memory is short.
wchar_t PlaceListed(const FolderWalk& walk, size_t index, FileTexts texts) {
    const wchar_t* listed = walk.files + walk.listed[index].at;
    const size_t length = std::wcslen(listed + 1);
    if (walk.rootLength + 1 + length >= WIDE_PATH_CAPACITY) return 0;
    texts.path[walk.rootLength] = L'\\';
    std::memcpy(texts.path + walk.rootLength + 1, listed + 1, (length + 1) * sizeof(wchar_t));
    if (walk.root == INVALID_HANDLE_VALUE) return listed[0];
    FolderChain& chain = *texts.chain;
    size_t depth = 0;
    for (uint32_t folder = walk.listed[index].folder; folder != 0; folder = walk.folders[folder].parent)
        ++depth;
    if (!ZipGrowBlock(reinterpret_cast<void**>(&chain.wanted), &chain.wantedCapacity, depth + 1,
                      sizeof(WantedFolder)))
        return 0;
    chain.wantedDepth = depth;
    for (uint32_t folder = walk.listed[index].folder; folder != 0; folder = walk.folders[folder].parent)
        chain.wanted[--depth] = WantedFolder{folder, walk.folders[folder].index};
    chain.fileIndex = walk.listed[index].index;
    return listed[0];
}

void CloseChain(FolderChain* chain, size_t keep) {
    while (chain->depth > keep)
        CloseHandle(chain->links[--chain->depth].handle);
}

void FreeChain(FolderChain* chain) {
    CloseChain(chain, 0);
    ZipFree(chain->links);
    ZipFree(chain->wanted);
}

// Opens the placed file (its path below the walked folder in relative)
// through the chain of its folders, each reopened by its name relative to the
// one above and checked to be the folder listed; the chain keeps those it
// shares with the file before. GONE, LINK or CHANGED when the file or one of
// its folders is no longer what was listed.
int OpenPlaced(const FolderWalk& walk, wchar_t mode, const wchar_t* relative, FolderChain* chain,
               HANDLE* file) {
    *file = INVALID_HANDLE_VALUE;
    size_t keep = 0;
    while (keep < chain->depth && keep < chain->wantedDepth &&
           chain->links[keep].folder == chain->wanted[keep].folder)
        ++keep;
    CloseChain(chain, keep);
    if (!ZipGrowBlock(reinterpret_cast<void**>(&chain->links), &chain->capacity, chain->wantedDepth + 1,
                      sizeof(ChainLink)))
        return HANDLE_WALK_FAILED;
    const wchar_t* name = relative;
    HandleFacts facts;
    for (size_t i = 0; i < chain->wantedDepth; ++i) {
        const wchar_t* end = name;
        while (*end != L'\0' && *end != L'\\')
            ++end;
        if (*end == L'\0') return HANDLE_WALK_CHANGED;
        if (i >= chain->depth) {
            const HANDLE parent = i == 0 ? walk.root : chain->links[i - 1].handle;
            const HandleOpen open = {FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE, HANDLE_OPEN_FOLDER,
                                     chain->wanted[i].index};
            HANDLE folder;
            const int opened = HandleOpenChild(parent, name, size_t(end - name), open, &folder, &facts);
            if (opened != HANDLE_WALK_OK) {
                if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
                return opened;
            }
            chain->links[chain->depth++] = ChainLink{chain->wanted[i].folder, folder};
        }
        name = end + 1;
    }
    const HANDLE parent = chain->depth == 0 ? walk.root : chain->links[chain->depth - 1].handle;
    // A file with other names too may be somebody else's, linked in: it is not read.
    const unsigned how =
        HANDLE_OPEN_FILE | HANDLE_OPEN_ONE_LINK | (mode == OPEN_THROUGH ? unsigned(HANDLE_OPEN_THROUGH) : 0u);
    const HandleOpen open = {GENERIC_READ, FILE_SHARE_READ, how, chain->fileIndex};
    const int opened = HandleOpenChild(parent, name, std::wcslen(name), open, file, &facts);
    if (opened == HANDLE_WALK_OK) chain->fileIndex = facts.index;
    if (opened != HANDLE_WALK_OK && *file != INVALID_HANDLE_VALUE) {
        CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
    }
    return opened;
}

// Opens the file whose path PlaceListed put into texts.path; ZIP_OK with
// *file INVALID_HANDLE_VALUE when it is to be passed by.
int OpenListedFile(const FolderWalk& walk, wchar_t mode, FileTexts texts, HANDLE* file) {
    if (walk.root != INVALID_HANDLE_VALUE) {
        const int opened = OpenPlaced(walk, mode, texts.path + walk.rootLength + 1, texts.chain, file);
        return opened == HANDLE_WALK_OK || opened == HANDLE_WALK_GONE || opened == HANDLE_WALK_LINK ||
                       opened == HANDLE_WALK_CHANGED
                   ? ZIP_OK
                   : ZIP_ERR_OPEN;
    }
    const DWORD flags = FILE_FLAG_SEQUENTIAL_SCAN | (mode == OPEN_PLAIN ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    *file = WideOpenFile(texts.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags);
    if (*file != INVALID_HANDLE_VALUE) return ZIP_OK;
    const DWORD cause = GetLastError();
    return cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND ? ZIP_OK : ZIP_ERR_OPEN;
}

// Archives the file whose path PlaceListed put into texts.path into target
// under its name. A file gone since the listing holds nothing to lose, and
// one that has become a link or another file since then is passed by like
// any link.
int AddPlacedFile(const FolderWalk& walk, wchar_t mode, FileTexts texts, ZipArchive* target) {
    HANDLE file;
    int result = OpenListedFile(walk, mode, texts, &file);
    if (file == INVALID_HANDLE_VALUE) return result;
    WideFileFacts opened;
    result = WideFileFactsOf(file, &opened) ? ZIP_OK : ZIP_ERR_OPEN;
    if (result == ZIP_OK && mode == OPEN_PLAIN && (opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(file);
        return ZIP_OK;
    }
    if (result == ZIP_OK) {
        const wchar_t* relative = texts.path + walk.rootLength + 1;
        std::memcpy(texts.name + walk.prefixLength, relative, (std::wcslen(relative) + 1) * sizeof(wchar_t));
        // What was read is known by its identity too, for the deletion that follows.
        if (walk.root != INVALID_HANDLE_VALUE) target->sourceIndex = texts.chain->fileIndex;
        result = ZipAddEntryW(target, texts.name, file, 0, ZIP_KIND_HANDLE);
        target->sourceIndex = 0;
    }
    CloseHandle(file);
    return result;
}

// Archives listed file index in its turn, on the walk's own texts.
int AddFile(FolderWalk* walk, size_t index) {
    const FileTexts texts = {walk->path, walk->name, &walk->chain};
    const wchar_t mode = PlaceListed(*walk, index, texts);
    if (mode == 0) return ZIP_ERR_TOOBIG;
    return AddPlacedFile(*walk, mode, texts, walk->archive);
}

//--- the files added in parallel

// Threads beyond this many would mostly wait: one writer feeds them, and
// eight compressing cores read about as fast as one disk delivers.
constexpr uint32_t MOST_WORKERS = 8;
// Entries are prepared in memory up to this reservation; a larger one is
// compressed in its turn, streaming, by the writer. All reservations of
// entries taken and not yet written stay within the budget.
constexpr uint64_t ENTRY_LIMIT = 16u << 20;
constexpr uint64_t BUDGET = 64u << 20;
// What a prepared entry may need beyond its data: its record, its local
// header (30 bytes, the name, up to 37 bytes of extra fields), and the
// stored blocks' headers that deflated data may carry (5 bytes in 4 KiB at
// the most). An entry that needs more after all is written in its turn.
constexpr uint64_t ENTRY_SLACK = 1024 + sizeof(ZipPrepared);

struct FolderWorker {
    ZipArchive* scratch;
    FileTexts texts;
    FolderChain chain;
    ZipParallelRun* run;
    uint64_t told; // what the scratch archive had read when it last told the run
};

struct ParallelFolder {
    FolderWalk* walk;
    FolderWorker* workers;
    uint32_t workerCount;
    uint64_t told; // what the workers had read when the archive last heard of it
};

// The listing may still grow: it is read under its lock. Three bytes of
// UTF-8 at most per unit of the name.
uint64_t EntryCost(void* context, uint32_t index) {
    const FolderWalk& walk = *static_cast<ParallelFolder*>(context)->walk;
    ZipLockTake(walk.listLock);
    const uint64_t size = walk.listed[index].size;
    const size_t nameLength = walk.prefixLength + std::wcslen(walk.files + walk.listed[index].at + 1);
    ZipLockLeave(walk.listLock);
    const uint64_t cost = size + size / 64 + 3 * nameLength + ENTRY_SLACK;
    return cost <= ENTRY_LIMIT ? cost : ZIP_IN_TURN;
}

// The scratch archive's reads reach the run as they happen.
void NoteScratchRead(void* context, uint64_t done, uint64_t) {
    FolderWorker& worker = *static_cast<FolderWorker*>(context);
    ZipParallelNoteRead(worker.run, done - worker.told);
    worker.told = done;
}

// The listing may still grow: what the worker needs of it is copied under
// its lock.
uint64_t PrepareFile(void* context, ZipParallelRun* run, uint32_t index, uint32_t number, uint64_t cost,
                     void** made) {
    ParallelFolder& folder = *static_cast<ParallelFolder*>(context);
    const FolderWalk& walk = *folder.walk;
    FolderWorker& worker = folder.workers[number];
    worker.run = run;
    ZipLockTake(walk.listLock);
    const wchar_t mode = PlaceListed(walk, index, worker.texts);
    ZipLockLeave(walk.listLock);
    // Short of memory here, the writer may still manage in the entry's turn.
    ZipPrepared* prepared = mode != 0 ? static_cast<ZipPrepared*>(ZipAlloc(sizeof(ZipPrepared))) : nullptr;
    if (prepared == nullptr) return ZIP_IN_TURN;
    ZipScratchBegin(worker.scratch, static_cast<uint32_t>(cost - sizeof(ZipPrepared)));
    const int result = AddPlacedFile(walk, mode, worker.texts, worker.scratch);
    if (!ZipScratchTake(worker.scratch, result, prepared)) {
        ZipFree(prepared);
        return ZIP_IN_TURN;
    }
    *made = prepared;
    return prepared->capacity + sizeof(ZipPrepared);
}

void DropPrepared(void*, void* made) {
    ZipPreparedFree(static_cast<ZipPrepared*>(made));
    ZipFree(made);
}

int WriteListedFile(void* context, uint32_t index, void* made) {
    FolderWalk* walk = static_cast<ParallelFolder*>(context)->walk;
    if (made == nullptr) return AddFile(walk, index);
    const int result = ZipAppendPrepared(walk->archive, static_cast<ZipPrepared*>(made));
    ZipFree(made);
    return result;
}

void TellProgress(void* context, uint64_t read) {
    ParallelFolder& folder = *static_cast<ParallelFolder*>(context);
    ZipArchive* archive = folder.walk->archive;
    archive->progressDone += read - folder.told;
    folder.told = read;
    if (archive->progress != nullptr)
        archive->progress(archive->progressContext, archive->progressDone, archive->progressTotal);
}

// Each worker's texts begin with the walk's folder path and name prefix.
bool MakeWorkers(ParallelFolder* folder) {
    const FolderWalk& walk = *folder->walk;
    for (uint32_t i = 0; i < folder->workerCount; ++i) {
        FolderWorker& worker = folder->workers[i];
        worker.texts.chain = &worker.chain;
        worker.texts.path = static_cast<wchar_t*>(ZipAlloc(WIDE_PATH_CAPACITY * sizeof(wchar_t)));
        worker.texts.name = static_cast<wchar_t*>(ZipAlloc(2 * WIDE_PATH_CAPACITY * sizeof(wchar_t)));
        if (worker.texts.path == nullptr || worker.texts.name == nullptr ||
            ZipScratchCreate(&worker.scratch) != ZIP_OK)
            return false;
        std::memcpy(worker.texts.path, walk.path, walk.rootLength * sizeof(wchar_t));
        std::memcpy(worker.texts.name, walk.name, walk.prefixLength * sizeof(wchar_t));
        ZipSetProgress(worker.scratch, NoteScratchRead, &worker);
    }
    return true;
}

void FreeWorkers(ParallelFolder* folder) {
    for (uint32_t i = 0; folder->workers != nullptr && i < folder->workerCount; ++i) {
        ZipScratchFree(folder->workers[i].scratch);
        ZipFree(folder->workers[i].texts.path);
        ZipFree(folder->workers[i].texts.name);
        FreeChain(&folder->workers[i].chain);
    }
    ZipFree(folder->workers);
}

// How many workers prepare the files: none for an archive whose sink cannot
// go back (its local headers are written before their data), an enciphered
// or a closed one, or when one is asked for or the system has one processor.
uint32_t WorkersFor(const ZipArchive* archive) {
    uint32_t workers = archive->workers != 0 ? archive->workers : ZipProcessorCount();
    if (workers > MOST_WORKERS) workers = MOST_WORKERS;
    const bool seekable = (archive->stateFlags & (ZIP_SINK_SEEKABLE | ZIP_ENDED)) == ZIP_SINK_SEEKABLE;
    return workers > 1 && seekable && archive->password == nullptr ? workers : 0;
}

// Lists the tree and adds its files. With workers, they start on the files
// already listed while the listing goes on (it waits on the file system more
// than it computes), and the files are written in their turn once it is
// done; short of memory or threads for them, each file is added in its turn.
int ListAndAddFiles(FolderWalk* walk) {
    ParallelFolder folder = {walk, nullptr, WorkersFor(walk->archive), 0};
    ZipParallelJobs jobs = {&folder, EntryCost, PrepareFile, WriteListedFile, DropPrepared, TellProgress, 0};
    if (folder.workerCount > 1) {
        folder.workers =
            static_cast<FolderWorker*>(ZipAlloc(folder.workerCount * uint32_t(sizeof(FolderWorker))));
        walk->listLock = ZipLockCreate();
        if (folder.workers != nullptr && walk->listLock != nullptr && MakeWorkers(&folder))
            walk->run = ZipParallelStart(&jobs, folder.workerCount, BUDGET);
    }
    int result = ListTree(walk);
    if (result == ZIP_OK) walk->archive->progressTotal += walk->bytes;
    // Half a percent of the listed bytes between reports of the progress.
    jobs.progressStep = walk->bytes / 200;
    if (walk->run != nullptr) {
        const int written = ZipParallelEnd(walk->run, result == ZIP_OK);
        walk->run = nullptr;
        if (result == ZIP_OK) result = written;
    } else {
        for (size_t i = 0; result == ZIP_OK && i < walk->listedCount; ++i)
            result = AddFile(walk, i);
    }
    FreeWorkers(&folder);
    ZipLockFree(walk->listLock);
    walk->listLock = nullptr;
    return result;
}

// Puts the folder's text, slashes made backslashes and without a final one,
// into text; its length, or 0 when it is empty or too long.
size_t FolderText(const char* folder, char* text) {
    size_t length = std::strlen(folder);
    if (length >= WIDE_PATH_CAPACITY) return 0;
    std::memcpy(text, folder, length + 1);
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '/') text[i] = '\\';
    if (length > 0 && text[length - 1] == '\\') text[--length] = '\0';
    return length;
}

// The walk by handle starts from the walked folder's handle: the caller's,
// or one held here (following a link at the folder itself only). A folder
// that is not there holds nothing to lose.
int HoldRoot(FolderWalk* walk) {
    if (!HandleWalkAvailable()) return ZIP_OK;
    if (walk->root == INVALID_HANDLE_VALUE) {
        walk->root = HandleHoldFolder(walk->path, 0);
        if (walk->root == INVALID_HANDLE_VALUE) {
            const DWORD cause = GetLastError();
            return cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND ? ZIP_OK : ZIP_ERR_OPEN;
        }
        walk->ownsRoot = true;
    }
    if (!ZipGrowBlock(reinterpret_cast<void**>(&walk->folders), &walk->folderCapacity, 1,
                      sizeof(FolderRecord)))
        return ZIP_ERR_NOMEM;
    walk->folders[0] = FolderRecord{0, 0};
    walk->folderCount = 1;
    return ZIP_OK;
}

int ArchiveTree(FolderWalk* walk, const char* folder, int prefixLength) {
    char* text = static_cast<char*>(ZipAlloc(WIDE_PATH_CAPACITY));
    wchar_t* wide = static_cast<wchar_t*>(ZipAlloc(WIDE_PATH_CAPACITY * sizeof(wchar_t)));
    int result = text != nullptr && wide != nullptr ? ZIP_OK : ZIP_ERR_NOMEM;
    const size_t length = result == ZIP_OK ? FolderText(folder, text) : 0;
    if (result == ZIP_OK) result = ZipFolderNamePrefix(folder, prefixLength, walk->name, WIDE_PATH_CAPACITY);
    // A bare drive stands for its root here, not for its current folder.
    if (result == ZIP_OK && length == 2 && text[1] == ':') std::memcpy(text + 2, "\\", 2);
    if (result == ZIP_OK && (!WideFromAnsi(text, wide, WIDE_PATH_CAPACITY) ||
                             !WideLongPath(wide, walk->path, WIDE_PATH_CAPACITY)))
        result = ZIP_ERR_TOOBIG;
    if (result == ZIP_OK) {
        walk->rootLength = std::wcslen(walk->path);
        if (walk->rootLength > 0 && walk->path[walk->rootLength - 1] == L'\\')
            walk->path[--walk->rootLength] = 0;
        walk->prefixLength = std::wcslen(walk->name);
        result = HoldRoot(walk);
    }
    if (result == ZIP_OK && (walk->root != INVALID_HANDLE_VALUE || !HandleWalkAvailable()))
        result = ListAndAddFiles(walk);
    ZipFree(text);
    ZipFree(wide);
    return result;
}

} // namespace

// The names keep the folder text from prefixLength on, then a backslash;
// from one past the folder's end on they are relative to the folder.
int ZipFolderNamePrefix(const char* folder, int prefixLength, wchar_t* out, size_t capacity) {
    if (folder == nullptr || prefixLength < -1 || capacity < 2) return ZIP_ERR_ARGS;
    char* text = static_cast<char*>(ZipAlloc(WIDE_PATH_CAPACITY));
    if (text == nullptr) return ZIP_ERR_NOMEM;
    const size_t length = FolderText(folder, text);
    const size_t skip = prefixLength == -1 ? length + 1 : size_t(prefixLength);
    int result = length != 0                                 ? ZIP_OK
                 : std::strlen(folder) >= WIDE_PATH_CAPACITY ? ZIP_ERR_TOOBIG
                                                             : ZIP_ERR_ARGS;
    if (result == ZIP_OK && skip > length + 1) result = ZIP_ERR_ARGS;
    out[0] = L'\0';
    if (result == ZIP_OK && skip <= length) {
        const int units = MultiByteToWideChar(CP_ACP, 0, text + skip, static_cast<int>(length - skip), out,
                                              static_cast<int>(capacity - 2));
        if (units == 0 && length > skip) result = ZIP_ERR_TOOBIG;
        out[units] = L'\\';
        out[units + 1] = L'\0';
    }
    ZipFree(text);
    return result;
}

int ZipAddFolderTree(ZipArchive* archive, const char* folder, int prefixLength) {
    return ZipAddFolderTreeHeld(archive, INVALID_HANDLE_VALUE, folder, prefixLength);
}

int ZipAddFolderTreeHeld(ZipArchive* archive, void* held, const char* folder, int prefixLength) {
    if (archive == nullptr) return ZIP_ERR_ARGS;
    // An empty folder path would walk the root of the current drive.
    if (folder == nullptr || *folder == '\0' || prefixLength < -1) return ZIP_ERR_ARGS;
    FolderWalk walk = {};
    walk.archive = archive;
    walk.root = held != nullptr ? static_cast<HANDLE>(held) : INVALID_HANDLE_VALUE;
    walk.path = static_cast<wchar_t*>(ZipAlloc(WIDE_PATH_CAPACITY * sizeof(wchar_t)));
    walk.name = static_cast<wchar_t*>(ZipAlloc(2 * WIDE_PATH_CAPACITY * sizeof(wchar_t)));
    const int result = walk.path != nullptr && walk.name != nullptr ? ArchiveTree(&walk, folder, prefixLength)
                                                                    : ZIP_ERR_NOMEM;
    FreeChain(&walk.chain);
    if (walk.ownsRoot) CloseHandle(walk.root);
    ZipFree(walk.path);
    ZipFree(walk.name);
    ZipFree(walk.files);
    ZipFree(walk.listed);
    ZipFree(walk.levels);
    ZipFree(walk.folders);
    return result;
}
