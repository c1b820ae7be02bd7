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
    ZIP_ERR_TOOBIG = 18,     // the format's 32-bit sizes/offsets or 16-bit count would wrap
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
};

constexpr uint32_t ZIP_IO_BUFFER_SIZE = 16384;
constexpr uint32_t ZIP_NAME_CAPACITY = 260;
constexpr uint32_t ZIP_UNKNOWN_SIZE = 0xFFFFFFFFu;

struct DeflateState;

struct ZipEntry {
    uint16_t flags;  // general-purpose flags of the central directory
    uint16_t method; // 0 stored, 8 deflated
    uint16_t dosTime;
    uint16_t dosDate;
    uint32_t crc32;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t nameLength;         // written as 16 bits
    uint32_t localExtraLength;   // always 17
    uint32_t centralExtraLength; // always 9
    uint16_t diskNumberStart;    // always 0
    uint16_t internalAttributes; // always 0
    uint16_t localFlags;         // flags written into the local header
    uint32_t externalAttributes;
    uint32_t localHeaderOffset;
    uint8_t* localExtra;   // 17 bytes held by the add operation while it runs
    uint8_t* centralExtra; // points at centralExtraField
    char name[ZIP_NAME_CAPACITY];
    ZipEntry* next;
    uint8_t centralExtraField[9];
};

struct ZipArchive {
    uint32_t stateFlags;
    void* sink;            // output handle, or base address of a memory sink
    char* password;        // heap copy, or null
    uint32_t bytesWritten; // bytes that reached the sink: its position less the base offset
    uint32_t baseOffset;   // sink position at opening; added to every recorded offset
    uint32_t error;        // sticky within an entry; cleared before its local header
    void* mapping;         // mapping behind a memory sink the archive created
    uint32_t memPosition;
    uint32_t memCapacity;
    uint32_t keys[3];
    uint8_t* cryptBuffer;
    uint32_t cryptCapacity;
    ZipEntry* entries;
    ZipEntry* lastEntry;  // tail of the entry list, so that appending stays cheap
    uint32_t entryCount;  // listed entries; never above 65,535 (the end record's 16 bits)
    uint32_t centralSize; // bytes that the listed entries take in the central directory
    uint32_t writeLimit;  // highest sink offset (base included) the current writes may reach
    uint32_t sourceStart;
    uint32_t announcedSize; // ZIP_UNKNOWN_SIZE when not known before reading
    uint32_t bytesRead;
    uint32_t crc;
    void* source; // source handle, or address of a memory source
    uint32_t memSourceLength;
    uint32_t memSourcePosition;
    uint32_t dataWritten;  // entry data bytes written (before the cipher header)
    DeflateState* deflate; // allocated at the first deflated entry
    uint8_t ioBuffer[ZIP_IO_BUFFER_SIZE];
};

//--- primitives offered to the compressor (the archive of the current entry)
uint32_t ZipReadSource(ZipArchive* archive, uint8_t* buffer, uint32_t count);
void ZipWriteBytes(ZipArchive* archive, const uint8_t* bytes, uint32_t count);
void ZipWriteUInt16(ZipArchive* archive, uint16_t value);
int ZipSeek(ZipArchive* archive, uint32_t offset);

//--- heap of the archiver (the platform's global heap in the product)
void* ZipAlloc(uint32_t size); // zero-filled, or null
void ZipFree(void* block);

//--- compressor
void DeflateEntry(ZipArchive* archive, ZipEntry* entry);
void DeflateFree(DeflateState* state);
