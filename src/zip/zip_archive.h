// The archive object, its entries and the primitives that the container offers
// to the compressor. Plain C++: handles are held as opaque pointers so that the
// compressor and the memory paths also build natively.
#pragma once

#include <cstdint>

//--- result codes
enum ZipResult : int {
    ZIP_OK = 0,
    ZIP_ERR_OPEN = 1,        // sink not created, source not opened or not probed
    ZIP_ERR_NOMEM = 2,       // allocation or file mapping failed
    ZIP_ERR_WRITE = 3,       // a sink write failed or was short
    ZIP_ERR_READ = 7,        // a source read failed
    ZIP_ERR_ARGS = 9,        // bad archive, name, source or kind
    ZIP_ERR_MEMSIZE = 11,    // memory sink of size 0 or written past its capacity
    ZIP_ERR_ENDED = 13,      // central directory already written
    ZIP_ERR_SEEK = 16,       // the sink could not be repositioned
    ZIP_ERR_STOREDSIZE = 17, // non-seekable sink: stored data differs from its header
    ZIP_ERR_TOOBIG = 18,     // beyond even Zip64: a name over 65,535 bytes, a source past its announcement
    ZIP_ERR_VERIFY = 19,     // the archive read back differs from what was written into it
};

//--- archive state flags
enum : uint32_t {
    ZIP_SINK_MEMORY = 0x01,
    ZIP_SINK_OWNED = 0x02,
    ZIP_SINK_SEEKABLE = 0x04,
    ZIP_ENDED = 0x08,
    ZIP_ENCIPHERING = 0x10,
    ZIP_SOURCE_PROBED = 0x20,
    ZIP_SOURCE_OWNED = 0x40,
    ZIP_SOURCE_MEMORY = 0x80,
    ZIP_SINK_GROWS = 0x100, // a memory sink in a heap block that grows up to memLimit bytes
};

constexpr uint32_t ZIP_IO_BUFFER_SIZE = 16384;
constexpr uint64_t ZIP_UNKNOWN_SIZE = ~uint64_t(0);
constexpr uint32_t ZIP_LOCAL_EXTRA_SIZE = 17;  // extended timestamp: three times
constexpr uint32_t ZIP_CENTRAL_EXTRA_SIZE = 9; // extended timestamp: the modification time
constexpr uint32_t ZIP_ZIP64_LOCAL_SIZE = 20;  // Zip64 field of a local header: both sizes

struct DeflateState;

// The entry being written. Only its flags concern the compressor.
struct ZipEntry {
    uint16_t flags;      // general-purpose flags of the central directory
    uint16_t localFlags; // flags written into the local header
    uint16_t method;     // 0 stored, 8 deflated
    uint16_t dosTime;
    uint16_t dosDate;
    uint32_t crc32;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
    uint64_t localHeaderOffset;
    uint32_t externalAttributes;
    const char* name; // as stored: ASCII, or UTF-8 with flag 0x0800; nameLength bytes and a zero
    uint32_t nameLength;
    bool zip64Local; // the local header carries both sizes in a Zip64 field
    uint8_t localExtra[ZIP_LOCAL_EXTRA_SIZE];
    uint8_t centralExtra[ZIP_CENTRAL_EXTRA_SIZE];
};

// What the archive learnt of one entry it holds, in central-directory order.
struct ZipListedEntry {
    uint64_t size;      // source bytes read
    uint64_t lastWrite; // the source file's last-write time (FILETIME) while it was read; 0 unknown or moved
    uint64_t
        fileIndex;  // the source file's index on its volume, where the adder told it (sourceIndex); 0 unknown
    uint32_t crc32; // of the source bytes read
    uint32_t nameOffset; // of the stored name in the central directory
    uint32_t nameLength;
};

// An archive's entries, kept beyond its closing for the checks that follow it.
struct ZipListing {
    ZipListedEntry* entries;
    uint32_t count;
    uint8_t* names;   // the central directory as written, which holds every stored name
    uint32_t* byName; // entry indices in the byte order of their names, once ZipListingSort has run
};

// Told of the source bytes read so far by the whole archive, and of the total
// that its folder walks announced.
typedef void (*ZipProgress)(void* context, uint64_t done, uint64_t total);

struct ZipArchive {
    uint32_t stateFlags;
    void* sink;            // output handle, or base address of a memory sink
    char* password;        // heap copy, or null
    uint64_t bytesWritten; // bytes that reached the sink: its position less the base offset
    uint64_t baseOffset;   // sink position at opening; added to every recorded offset
    uint32_t error;        // sticky within an entry; cleared before its local header
    void* mapping;         // mapping behind a memory sink the archive created
    uint32_t memPosition;
    uint32_t memCapacity;
    uint32_t memLimit;
    uint32_t keys[3];
    uint8_t* cryptBuffer;
    uint32_t cryptCapacity;
    uint8_t* central; // the central directory, built entry by entry
    uint32_t centralLength;
    uint32_t centralCapacity;
    ZipListedEntry* listed; // one record per listed entry
    uint32_t listedCapacity;
    uint32_t entryCount; // listed entries
    char* nameBuffer;    // the current entry's stored name
    uint32_t nameCapacity;
    uint64_t sourceStart;
    uint64_t announcedSize; // ZIP_UNKNOWN_SIZE when not known before reading
    uint64_t sourceLastWrite;
    uint64_t
        sourceIndex; // the next entry's source file index, set by a walk that knows it; taken by its listing
    uint64_t bytesRead;
    uint32_t crc;
    void* source; // source handle, or address of a memory source
    uint32_t memSourceLength;
    uint32_t memSourcePosition;
    uint64_t dataWritten;  // entry data bytes written (before the cipher header)
    DeflateState* deflate; // allocated at the first deflated entry
    ZipProgress progress;
    void* progressContext;
    uint64_t progressDone;  // source bytes read by every entry so far
    uint64_t progressTotal; // what the folder walks announced
    uint32_t workers;       // threads that prepare a folder's entries; 0 one per processor
    ZipEntry lastEntry;     // the last entry written whole; its name in nameBuffer
    uint8_t ioBuffer[ZIP_IO_BUFFER_SIZE];
};

//--- primitives offered to the compressor (the archive of the current entry)
uint32_t ZipReadSource(ZipArchive* archive, uint8_t* buffer, uint32_t count);
void ZipWriteBytes(ZipArchive* archive, const uint8_t* bytes, uint32_t count);
void ZipWriteUInt16(ZipArchive* archive, uint16_t value);
int ZipSeek(ZipArchive* archive, uint64_t offset);

//--- heap of the archiver (the platform's global heap in the product)
void* ZipAlloc(uint32_t size); // zero-filled, or null
void ZipFree(void* block);
// Makes room for `needed` units of `unit` bytes in a heap block that only
// grows (its capacity counted in units), keeping its contents; false when it
// could not, and the block then stays as it was.
bool ZipGrowBlock(void** block, uint32_t* capacity, uint64_t needed, uint32_t unit);

//--- entries prepared apart, for the parallel writer
// A worker writes an entry into a scratch archive, whose sink is a heap block
// of bounded size; the writer then appends its bytes to the archive in one
// piece. Its local header is already complete (sizes and CRC-32 known), as
// on a seekable sink, so the bytes are those that the archive would have
// written itself.
struct ZipPrepared {
    int result;         // of adding the entry; nothing to append unless ZIP_OK
    bool failedInEntry; // the failure came once the entry was begun: the archive keeps it as its error
    ZipEntry entry;     // its name points into bytes (the local header's copy)
    uint64_t lastWrite; // for the listing
    uint64_t fileIndex;
    uint8_t* bytes; // the local header and the data; null when there is no entry (a source gone)
    uint32_t length;
    uint32_t capacity;
};

int ZipScratchCreate(ZipArchive** scratch);
void ZipScratchFree(ZipArchive* scratch);
// Readies the scratch archive for one entry of at most limit bytes.
void ZipScratchBegin(ZipArchive* scratch, uint32_t limit);
// Takes what adding the entry (with this result) left in the scratch archive;
// false when the entry did not fit into its limit or memory was short: it
// must then be written in its turn, and prepared holds nothing.
bool ZipScratchTake(ZipArchive* scratch, int result, ZipPrepared* prepared);
// Appends the prepared entry (or fails as adding it did), and frees its bytes.
int ZipAppendPrepared(ZipArchive* archive, ZipPrepared* prepared);
void ZipPreparedFree(ZipPrepared* prepared);

//--- compressor
void DeflateEntry(ZipArchive* archive, ZipEntry* entry);
void DeflateFree(DeflateState* state);
