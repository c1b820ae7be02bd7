// The archive verifier, after PKWARE's application note: the end record (and
// the Zip64 end record through its locator), the central directory against
// them, each central header against the entry the writer meant, its local
// header against the central one, and its data decoded to the size and
// CRC-32 the writer took from the source. Reads go through two bounded
// buffers, one walking the central directory and one the entries, and no
// offset or size is used before it is checked against the archive's length.
#include "zip/zip_verify.h"

#include "zip/crc32.h"
#include "zip/inflate.h"
#include "zip/zip_archive.h"

#include <cstring>

namespace {

constexpr uint32_t LOCAL_SIGNATURE = 0x04034B50;
constexpr uint32_t CENTRAL_SIGNATURE = 0x02014B50;
constexpr uint32_t END_SIGNATURE = 0x06054B50;
constexpr uint32_t ZIP64_END_SIGNATURE = 0x06064B50;
constexpr uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064B50;
constexpr uint32_t DESCRIPTOR_SIGNATURE = 0x08074B50;
constexpr uint32_t LOCAL_SIZE = 30;
constexpr uint32_t CENTRAL_SIZE = 46;
constexpr uint32_t END_SIZE = 22;
constexpr uint32_t LOCATOR_SIZE = 20;
constexpr uint32_t ZIP64_END_SIZE = 56;
constexpr uint32_t MAX_COMMENT = 65535;
constexpr uint16_t ZIP64_EXTRA = 0x0001;
constexpr uint16_t METHOD_STORED = 0;
constexpr uint16_t METHOD_DEFLATED = 8;
constexpr uint16_t FLAG_DESCRIPTOR = 0x0008;
constexpr uint16_t FLAG_UTF8 = 0x0800;
// Deflate's option bits, the data descriptor and UTF-8 names change nothing
// in how the data is read; any other flag (encryption first) fails the entry.
constexpr uint16_t KNOWN_FLAGS = 0x0002 | 0x0004 | FLAG_DESCRIPTOR | FLAG_UTF8;
// Zip64 is the latest feature the writer uses: readers that know fewer
// versions than an entry asks for refuse it.
constexpr uint16_t MAX_VERSION_NEEDED = 45;
constexpr uint32_t ESCAPE32 = 0xFFFFFFFFu;
constexpr uint16_t ESCAPE16 = 0xFFFF;
// 64 KiB, and room for the end record with the longest comment behind the
// Zip64 locator, so that the archive's tail is read at once.
constexpr uint32_t BUFFER_SIZE = 65536 + 64;
static_assert(BUFFER_SIZE >= LOCATOR_SIZE + END_SIZE + MAX_COMMENT, "the tail fits the buffer");

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return U16(p) | uint32_t(U16(p + 2)) << 16;
}
uint64_t U64(const uint8_t* p) {
    return U32(p) | uint64_t(U32(p + 4)) << 32;
}

struct Archive {
    const ZipVerifyReader* reader;
    bool readFailed;
};

bool ReadAt(Archive& a, uint64_t offset, uint8_t* buffer, uint32_t count) {
    while (count > 0) {
        const int64_t got = a.reader->read(a.reader->context, offset, buffer, count);
        if (got <= 0 || got > count) {
            a.readFailed = true;
            return false;
        }
        offset += uint64_t(got);
        buffer += got;
        count -= uint32_t(got);
    }
    return true;
}

// Reads a range of the archive in order through a buffer: bytes are handed
// out up to limit, and the buffer is filled from no further than end.
struct Stream {
    Archive* archive;
    uint8_t* buffer;
    uint64_t bufferAt; // archive offset of buffer[0]
    uint32_t filled;
    uint64_t position; // next byte to hand out
    uint64_t limit;
    uint64_t end;
};

void StartStream(Stream& s, uint64_t position, uint64_t end) {
    s.position = position;
    s.limit = s.end = end;
}

// Bytes ready at position (0 at the limit or when a read fails).
uint32_t Available(Stream& s) {
    if (s.position >= s.limit) return 0;
    if (s.position < s.bufferAt || s.position >= s.bufferAt + s.filled) {
        const uint64_t left = s.end - s.position;
        const uint32_t want = left < BUFFER_SIZE ? uint32_t(left) : BUFFER_SIZE;
        s.filled = 0;
        if (!ReadAt(*s.archive, s.position, s.buffer, want)) return 0;
        s.bufferAt = s.position;
        s.filled = want;
    }
    const uint64_t ready = s.bufferAt + s.filled - s.position, allowed = s.limit - s.position;
    return uint32_t(ready < allowed ? ready : allowed);
}

const uint8_t* Here(const Stream& s) {
    return s.buffer + (s.position - s.bufferAt);
}

bool Take(Stream& s, uint8_t* out, uint32_t count) {
    while (count > 0) {
        uint32_t n = Available(s);
        if (n == 0) return false;
        if (n > count) n = count;
        std::memcpy(out, Here(s), n);
        s.position += n;
        out += n;
        count -= n;
    }
    return true;
}

bool Skip(Stream& s, uint64_t count) {
    if (count > s.limit - s.position) return false;
    s.position += count;
    return true;
}

bool Equal(Stream& s, const char* bytes, uint32_t count) {
    while (count > 0) {
        uint32_t n = Available(s);
        if (n == 0) return false;
        if (n > count) n = count;
        if (std::memcmp(Here(s), bytes, n) != 0) return false;
        s.position += n;
        bytes += n;
        count -= n;
    }
    return true;
}

// Strict UTF-8 (no overlong forms, surrogates or code points past U+10FFFF),
// as readers that honour the name flag decode it.
bool IsUtf8(const uint8_t* text, uint32_t length) {
    for (uint32_t i = 0; i < length;) {
        const uint8_t lead = text[i];
        if (lead < 0x80) {
            i += 1;
            continue;
        }
        uint32_t follow, point, lowest;
        if ((lead & 0xE0) == 0xC0) {
            follow = 1, point = lead & 0x1F, lowest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            follow = 2, point = lead & 0x0F, lowest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            follow = 3, point = lead & 0x07, lowest = 0x10000;
        } else {
            return false;
        }
        if (follow >= length - i) return false;
        for (uint32_t k = 1; k <= follow; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
            point = point << 6 | (text[i + k] & 0x3F);
        }
        if (point < lowest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += follow + 1;
    }
    return true;
}

//--- records

struct Directory {
    uint64_t entries, size, offset;
    uint64_t end; // where the directory must end: the (Zip64) end record
};

// The values of a header that the Zip64 extra field may carry.
struct Fields {
    uint64_t uncompressed, compressed, offset;
    uint32_t disk;
    bool zip64; // the header has a Zip64 extra field
};

struct Entry {
    uint16_t flags, method, time, date;
    uint32_t crc;
    Fields fields;
};

// Finds the end record (whose comment must reach exactly to the end of the
// archive) and, when its locator precedes it, the Zip64 end record.
bool FindDirectory(Archive& a, uint8_t* buffer, Directory& d) {
    const uint64_t size = a.reader->size;
    if (size < END_SIZE) return false;
    const uint32_t tail = size < BUFFER_SIZE ? uint32_t(size) : BUFFER_SIZE;
    const uint64_t tailAt = size - tail;
    if (!ReadAt(a, tailAt, buffer, tail)) return false;
    uint32_t at = tail - END_SIZE;
    while (U32(buffer + at) != END_SIGNATURE || U16(buffer + at + 20) != tail - at - END_SIZE) {
        if (at == 0 || tail - at - END_SIZE >= MAX_COMMENT) return false;
        at -= 1;
    }
    const uint8_t* end = buffer + at;
    const uint16_t disk = U16(end + 4), directoryDisk = U16(end + 6);
    const uint16_t onDisk = U16(end + 8), total = U16(end + 10);
    const uint32_t directorySize = U32(end + 12), directoryOffset = U32(end + 16);

    if (at < LOCATOR_SIZE || U32(end - LOCATOR_SIZE) != ZIP64_LOCATOR_SIGNATURE) {
        if (disk != 0 || directoryDisk != 0 || onDisk != total) return false;
        d = Directory{total, directorySize, directoryOffset, tailAt + at};
    } else {
        const uint8_t* locator = end - LOCATOR_SIZE;
        const uint64_t locatorAt = tailAt + at - LOCATOR_SIZE, recordAt = U64(locator + 8);
        if (U32(locator + 4) != 0 || U32(locator + 16) != 1) return false;
        if (recordAt > locatorAt || locatorAt - recordAt < ZIP64_END_SIZE) return false;
        uint8_t record[ZIP64_END_SIZE];
        if (!ReadAt(a, recordAt, record, ZIP64_END_SIZE)) return false;
        // The record's size counts what follows its first 12 bytes.
        if (U32(record) != ZIP64_END_SIGNATURE || U64(record + 4) != locatorAt - recordAt - 12) return false;
        if (U32(record + 16) != 0 || U32(record + 20) != 0) return false;
        d = Directory{U64(record + 32), U64(record + 40), U64(record + 48), recordAt};
        // The end record's fields hold the values, or the escape where they overflow.
        if ((disk != 0 && disk != ESCAPE16) || (directoryDisk != 0 && directoryDisk != ESCAPE16))
            return false;
        if (U64(record + 24) != d.entries || (onDisk != ESCAPE16 && onDisk != d.entries) ||
            (total != ESCAPE16 && total != d.entries))
            return false;
        if ((directorySize != ESCAPE32 && directorySize != d.size) ||
            (directoryOffset != ESCAPE32 && directoryOffset != d.offset))
            return false;
    }
    return d.offset <= d.end && d.size == d.end - d.offset;
}

// Walks a header's extra fields. The fields at their escape value (the
// sizes, and in the central header the offset and disk) are read from the
// Zip64 field, in the application note's order; resolve false leaves them.
bool ReadExtras(Stream& s, uint32_t length, bool central, bool resolve, Fields& f) {
    const bool escaped[4] = {resolve && f.uncompressed == ESCAPE32, resolve && f.compressed == ESCAPE32,
                             resolve && central && f.offset == ESCAPE32,
                             resolve && central && f.disk == ESCAPE16};
    f.zip64 = false;
    while (length > 0) {
        uint8_t head[4];
        if (length < 4 || !Take(s, head, 4)) return false;
        const uint32_t id = U16(head), size = U16(head + 2);
        length -= 4;
        if (size > length) return false;
        length -= size;
        if (id != ZIP64_EXTRA) {
            if (!Skip(s, size)) return false;
            continue;
        }
        if (f.zip64) return false;
        f.zip64 = true;
        uint8_t values[28];
        const uint32_t need = 8 * (escaped[0] + escaped[1] + escaped[2]) + 4 * escaped[3];
        if (size < need || !Take(s, values, need) || !Skip(s, size - need)) return false;
        const uint8_t* v = values;
        uint64_t* const wide[3] = {&f.uncompressed, &f.compressed, &f.offset};
        for (int i = 0; i < 3; ++i) {
            if (!escaped[i]) continue;
            *wide[i] = U64(v);
            v += 8;
        }
        if (escaped[3]) f.disk = U32(v);
    }
    return f.zip64 || !(escaped[0] || escaped[1] || escaped[2] || escaped[3]);
}

// Reads the next central header and checks it against the expected entry.
bool ReadCentral(Stream& s, const ZipVerifyExpected& expected, Entry& e) {
    uint8_t h[CENTRAL_SIZE];
    if (!Take(s, h, CENTRAL_SIZE) || U32(h) != CENTRAL_SIGNATURE) return false;
    e.flags = U16(h + 8);
    e.method = U16(h + 10);
    e.time = U16(h + 12);
    e.date = U16(h + 14);
    e.crc = U32(h + 16);
    e.fields = Fields{U32(h + 24), U32(h + 20), U32(h + 42), U16(h + 34), false};
    const uint32_t nameLength = U16(h + 28), extraLength = U16(h + 30), commentLength = U16(h + 32);
    if ((e.flags & ~KNOWN_FLAGS) != 0 || (e.method != METHOD_STORED && e.method != METHOD_DEFLATED) ||
        U16(h + 6) > MAX_VERSION_NEEDED)
        return false;
    if (nameLength != expected.nameLength || !Equal(s, expected.name, nameLength)) return false;
    if (!ReadExtras(s, extraLength, true, true, e.fields) || !Skip(s, commentLength)) return false;
    if (e.fields.disk != 0 || e.crc != expected.crc32 || e.fields.uncompressed != expected.size) return false;
    if (e.method == METHOD_STORED && e.fields.compressed != e.fields.uncompressed) return false;
    return !(e.flags & FLAG_UTF8) || IsUtf8(reinterpret_cast<const uint8_t*>(expected.name), nameLength);
}

// The data descriptor behind the data: with or without its signature, with
// 64-bit sizes when the local header has a Zip64 field.
bool ReadDescriptor(Stream& s, const Entry& e, bool wide) {
    uint8_t d[24];
    uint32_t have = 4, at = 0;
    if (!Take(s, d, 4)) return false;
    if (U32(d) == DESCRIPTOR_SIGNATURE) {
        if (!Take(s, d + 4, 4)) return false;
        have = 8;
        if (U32(d + 4) == e.crc)
            at = 4;
        else if (e.crc != DESCRIPTOR_SIGNATURE) // else the first four bytes are the CRC
            return false;
    }
    const uint32_t width = wide ? 8 : 4;
    if (!Take(s, d + have, at + 4 + 2 * width - have) || U32(d + at) != e.crc) return false;
    const uint8_t* sizes = d + at + 4;
    const uint64_t compressed = wide ? U64(sizes) : U32(sizes);
    const uint64_t uncompressed = wide ? U64(sizes + 8) : U32(sizes + 4);
    return compressed == e.fields.compressed && uncompressed == e.fields.uncompressed;
}

struct Decoded {
    uint64_t size, allowed;
    uint32_t crc;
};

bool TakeDecoded(void* context, const uint8_t* bytes, uint32_t count) {
    Decoded& d = *static_cast<Decoded*>(context);
    if (count > d.allowed - d.size) return false; // more than the entry holds
    d.size += count;
    d.crc = Crc32Update(d.crc, bytes, count);
    return true;
}

int32_t NextCompressed(void* context, const uint8_t** chunk) {
    Stream& s = *static_cast<Stream*>(context);
    const uint32_t n = Available(s);
    if (n == 0) return s.archive->readFailed ? -1 : 0;
    *chunk = Here(s);
    s.position += n;
    return int32_t(n);
}

// Decodes the data between the stream's position and its limit.
bool DecodeData(Stream& s, InflateWork* work, const Entry& e, uint64_t expectedSize, Decoded& d) {
    d = Decoded{0, expectedSize, 0};
    if (e.method == METHOD_STORED) {
        for (uint32_t n; (n = Available(s)) > 0; s.position += n)
            if (!TakeDecoded(&d, Here(s), n)) return false;
        return !s.archive->readFailed && d.size == e.fields.compressed;
    }
    const uint64_t start = s.position;
    uint64_t consumed = 0;
    const int result =
        InflateStream(work, InflateInput{&s, NextCompressed}, InflateOutput{&d, TakeDecoded}, &consumed);
    s.position = start + consumed;
    return result == INFLATE_OK && consumed == e.fields.compressed;
}

// Checks the local header at the central header's offset, the data behind it
// and its data descriptor; *end is where the entry's bytes end.
bool VerifyEntry(Stream& s, InflateWork* work, const ZipVerifyExpected& expected, const Entry& e,
                 uint64_t directoryOffset, uint64_t* end) {
    if (e.fields.offset > directoryOffset) return false;
    StartStream(s, e.fields.offset, directoryOffset);
    uint8_t h[LOCAL_SIZE];
    if (!Take(s, h, LOCAL_SIZE) || U32(h) != LOCAL_SIGNATURE || U16(h + 4) > MAX_VERSION_NEEDED) return false;
    if (U16(h + 6) != e.flags || U16(h + 8) != e.method || U16(h + 10) != e.time || U16(h + 12) != e.date)
        return false;
    if (U16(h + 26) != expected.nameLength || !Equal(s, expected.name, expected.nameLength)) return false;
    // With a data descriptor the header's CRC and sizes are not the entry's.
    const bool described = (e.flags & FLAG_DESCRIPTOR) != 0;
    Fields local{U32(h + 22), U32(h + 18), 0, 0, false};
    if (!ReadExtras(s, U16(h + 28), false, !described, local)) return false;
    if (!described && (U32(h + 14) != e.crc || local.uncompressed != e.fields.uncompressed ||
                       local.compressed != e.fields.compressed))
        return false;

    if (e.fields.compressed > directoryOffset - s.position) return false;
    s.limit = s.position + e.fields.compressed;
    Decoded d;
    const bool decoded = DecodeData(s, work, e, expected.size, d);
    s.limit = s.end;
    if (!decoded || d.size != expected.size || d.crc != expected.crc32) return false;
    if (described && !ReadDescriptor(s, e, local.zip64)) return false;
    *end = s.position;
    return true;
}

struct Work {
    InflateWork inflate;
    uint8_t central[BUFFER_SIZE];
    uint8_t entries[BUFFER_SIZE];
};

int Verify(Archive& a, Work* work, const ZipVerifyExpected* expected, uint32_t count) {
    Directory d;
    if (!FindDirectory(a, work->central, d) || d.entries != count) return ZIP_ERR_VERIFY;
    Stream central = {&a, work->central, 0, 0, 0, 0, 0};
    Stream entries = {&a, work->entries, 0, 0, 0, 0, 0};
    StartStream(central, d.offset, d.end);
    uint64_t previousEnd = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        if (!ReadCentral(central, expected[i], e)) return ZIP_ERR_VERIFY;
        // Entries follow each other in the directory's order without overlapping.
        if (e.fields.offset < previousEnd) return ZIP_ERR_VERIFY;
        if (!VerifyEntry(entries, &work->inflate, expected[i], e, d.offset, &previousEnd))
            return ZIP_ERR_VERIFY;
    }
    return central.position == d.end ? ZIP_OK : ZIP_ERR_VERIFY;
}

} // namespace

int ZipVerifyArchive(const ZipVerifyReader* reader, const ZipVerifyExpected* expected, uint32_t count) {
    if (reader == nullptr || reader->read == nullptr || (count > 0 && expected == nullptr))
        return ZIP_ERR_ARGS;
    for (uint32_t i = 0; i < count; ++i)
        if (expected[i].name == nullptr && expected[i].nameLength > 0) return ZIP_ERR_ARGS;
    Work* work = static_cast<Work*>(ZipAlloc(sizeof(Work)));
    if (work == nullptr) return ZIP_ERR_NOMEM;
    Archive a = {reader, false};
    const int result = Verify(a, work, expected, count);
    ZipFree(work);
    return a.readFailed ? ZIP_ERR_READ : result;
}
