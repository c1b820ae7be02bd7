// libFuzzer target: hostile archives for the verifier. The expected entries
// are taken from the archive's own central directory, read leniently, so
// that the verifier goes on to the local headers and the data. It must never
// crash, read outside its buffers or ask for bytes past the archive's size,
// and an archive it accepts must be read back by the reader here, with
// zlib's inflate, to exactly the listed names, sizes and CRC-32s.
#include "zip/zip_archive.h"
#include "zip/zip_verify.h"

#include <zlib.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

struct Archive {
    const uint8_t* data;
    size_t size;
};

int64_t ReadArchive(void* context, uint64_t offset, uint8_t* buffer, uint32_t count) {
    const Archive& a = *static_cast<const Archive*>(context);
    if (offset > a.size || count > a.size - offset) abort();
    std::memcpy(buffer, a.data + offset, count);
    return count;
}

uint64_t Le(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// The entries that the central directory lists, as far as it can be read.
std::vector<ZipVerifyExpected> Listed(const uint8_t* data, size_t size) {
    std::vector<ZipVerifyExpected> listed;
    if (size < 22) return listed;
    const uint8_t* end = data + size - 22;
    uint64_t count = Le(end + 10, 2), at = Le(end + 16, 4);
    if (size >= 42 && Le(end - 20, 4) == 0x07064B50) {
        const uint64_t record = Le(end - 12, 8);
        if (record < size && size - record >= 56)
            count = Le(data + record + 32, 8), at = Le(data + record + 48, 8);
    }
    while (listed.size() < count && listed.size() < 4096 && at < size && size - at >= 46) {
        const uint8_t* h = data + at;
        const uint64_t nameLength = Le(h + 28, 2), extraLength = Le(h + 30, 2);
        const uint64_t length = 46 + nameLength + extraLength + Le(h + 32, 2);
        if (length > size - at) break;
        uint64_t uncompressed = Le(h + 24, 4);
        const uint8_t* extra = h + 46 + nameLength;
        if (uncompressed == 0xFFFFFFFF && extraLength >= 12 && Le(extra, 2) == 1)
            uncompressed = Le(extra + 4, 8);
        listed.push_back({reinterpret_cast<const char*>(h + 46), uint32_t(nameLength),
                          uint32_t(Le(h + 16, 4)), uncompressed});
        at += length;
    }
    return listed;
}

// A flagged name as the C library's UTF-8 decoder reads it, which takes
// code points up to 2^31.
bool IsUtf8(const uint8_t* name, size_t length) {
    std::mbstate_t state{};
    for (size_t at = 0, n; at < length; at += n == 0 ? 1 : n) {
        wchar_t point;
        n = std::mbrtowc(&point, reinterpret_cast<const char*>(name + at), length - at, &state);
        if (n == size_t(-1) || n == size_t(-2) || uint32_t(point) > 0x10FFFF) return false;
    }
    return true;
}

// The values a header's Zip64 field carries for the fields at their escape,
// in order; false when they are escaped without one.
bool Zip64(const uint8_t* extra, size_t length, uint64_t* values[], const bool* escaped, int count) {
    for (size_t at = 0; at + 4 <= length; at += 4 + Le(extra + at + 2, 2)) {
        const size_t size = Le(extra + at + 2, 2);
        if (Le(extra + at, 2) != 1 || size > length - at - 4) continue;
        for (int i = 0, used = 0; i < count; ++i)
            if (escaped[i]) {
                if (used + 8 > int(size)) return false;
                *values[i] = Le(extra + at + 4 + used, 8), used += 8;
            }
        return true;
    }
    for (int i = 0; i < count; ++i)
        if (escaped[i]) return false;
    return true;
}

// Extracts the entries as a reader through the central directory does, and
// holds each local header to its central one as a reader of local headers
// needs it: a readable name, plain data of a known method that ends where its
// size says, the CRC-32 and sizes the list has.
bool ReadsBackAsListed(const uint8_t* data, size_t size, const std::vector<ZipVerifyExpected>& listed) {
    size_t end = size < 22 ? 0 : size - 22;
    while (end > 0 && (Le(data + end, 4) != 0x06054B50 || Le(data + end + 20, 2) != size - end - 22))
        --end;
    if (size < 22 || Le(data + end, 4) != 0x06054B50) return false;
    uint64_t count = Le(data + end + 10, 2), at = Le(data + end + 16, 4);
    if (end >= 20 && Le(data + end - 20, 4) == 0x07064B50) {
        const uint64_t record = Le(data + end - 12, 8);
        if (record > size - 56 || Le(data + record, 4) != 0x06064B50) return false;
        count = Le(data + record + 32, 8), at = Le(data + record + 48, 8);
    }
    if (count != listed.size()) return false;
    for (const ZipVerifyExpected& entry : listed) {
        if (at > size || size - at < 46 || Le(data + at, 4) != 0x02014B50) return false;
        const uint8_t* h = data + at;
        const size_t nameLength = Le(h + 28, 2), extraLength = Le(h + 30, 2);
        if (46 + nameLength + extraLength + Le(h + 32, 2) > size - at) return false;
        uint64_t crc = Le(h + 16, 4), compressed = Le(h + 20, 4), uncompressed = Le(h + 24, 4);
        uint64_t offset = Le(h + 42, 4);
        const uint64_t flags = Le(h + 8, 2), method = Le(h + 10, 2);
        uint64_t* values[3] = {&uncompressed, &compressed, &offset};
        const bool escaped[3] = {uncompressed == 0xFFFFFFFF, compressed == 0xFFFFFFFF, offset == 0xFFFFFFFF};
        if (!Zip64(h + 46 + nameLength, extraLength, values, escaped, 3)) return false;
        // Enciphered, patch data, strongly enciphered, masked headers.
        if ((flags & 0x2061) != 0 || (method != 0 && method != 8)) return false;
        if (nameLength != entry.nameLength || std::memcmp(h + 46, entry.name, nameLength) != 0) return false;
        if ((flags & 0x800) != 0 && !IsUtf8(h + 46, nameLength)) return false;
        if (crc != entry.crc32 || uncompressed != entry.size) return false;
        at += 46 + nameLength + extraLength + Le(h + 32, 2);

        if (offset > size || size - offset < 30 || Le(data + offset, 4) != 0x04034B50) return false;
        const uint8_t* l = data + offset;
        const size_t localName = Le(l + 26, 2), localExtra = Le(l + 28, 2);
        if (Le(l + 6, 2) != flags || Le(l + 8, 2) != method || localName != nameLength ||
            30 + localName + localExtra > size - offset || std::memcmp(l + 30, h + 46, nameLength) != 0)
            return false;
        if ((flags & 8) == 0) {
            uint64_t localCompressed = Le(l + 18, 4), localUncompressed = Le(l + 22, 4);
            uint64_t* local[2] = {&localUncompressed, &localCompressed};
            const bool localEscaped[2] = {localUncompressed == 0xFFFFFFFF, localCompressed == 0xFFFFFFFF};
            if (!Zip64(l + 30 + localName, localExtra, local, localEscaped, 2) || Le(l + 14, 4) != crc ||
                localCompressed != compressed || localUncompressed != uncompressed)
                return false;
        }
        const uint64_t dataAt = offset + 30 + localName + localExtra;
        if (compressed > size - dataAt) return false;
        if (method == 0) {
            if (compressed != entry.size || crc32(0, data + dataAt, uInt(compressed)) != entry.crc32)
                return false;
            continue;
        }
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) abort();
        z.next_in = const_cast<Bytef*>(data + dataAt);
        z.avail_in = uInt(compressed);
        static uint8_t piece[65536];
        uint64_t produced = 0;
        uLong check = crc32(0, nullptr, 0);
        int rc;
        do {
            z.next_out = piece;
            z.avail_out = sizeof piece;
            rc = inflate(&z, Z_NO_FLUSH);
            check = crc32(check, piece, uInt(sizeof piece - z.avail_out));
            produced += sizeof piece - z.avail_out;
        } while (rc == Z_OK && produced <= entry.size);
        const bool exact = rc == Z_STREAM_END && z.avail_in == 0;
        inflateEnd(&z);
        if (!exact || produced != entry.size || check != entry.crc32) return false;
    }
    return true;
}

} // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// Our own writer's faults would be consistent: half the mutations change a
// field of one central header (flags, method, CRC-32, a size, a name byte)
// and copy its fields and name to the local header, so that both agree.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
    if (seed % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    const std::vector<ZipVerifyExpected> listed = Listed(data, size);
    if (listed.empty()) return LLVMFuzzerMutate(data, size, maxSize);
    const ZipVerifyExpected& entry = listed[(seed >> 1) % listed.size()];
    uint8_t* central = data + (reinterpret_cast<const uint8_t*>(entry.name) - data) - 46;
    const uint64_t offset = Le(central + 42, 4);
    if (offset > size || size - offset < 30 + uint64_t(entry.nameLength))
        return LLVMFuzzerMutate(data, size, maxSize);
    const unsigned value = (seed >> 8) & 15;
    static const uint8_t unsound[] = {0xC0, 0xC1, 0xE0, 0xED, 0xF0, 0xF4, 0xF5, 0x80};
    switch ((seed >> 12) % 5) {
    case 0:
        central[8 + value / 8] ^= uint8_t(1 << value % 8);
        break;
    case 1:
        central[10] = uint8_t(value), central[11] = 0;
        break;
    case 2:
        central[16] ^= uint8_t(1 << value % 8);
        break;
    case 3:
        central[value < 8 ? 20 : 24] += value % 2 ? 1 : 255;
        break;
    default:
        if (entry.nameLength > 0) central[46 + value % entry.nameLength] = unsound[value % 8];
    }
    uint8_t* local = data + offset;
    std::memmove(local + 6, central + 8, 20);
    if (Le(local + 26, 2) == entry.nameLength) std::memmove(local + 30, central + 46, entry.nameLength);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Archive archive{data, size};
    const ZipVerifyReader reader = {&archive, ReadArchive, size};
    const std::vector<ZipVerifyExpected> listed = Listed(data, size);
    const int result = ZipVerifyArchive(&reader, listed.data(), uint32_t(listed.size()));
    if (result != ZIP_OK && result != ZIP_ERR_VERIFY) abort();
    static const bool locale = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    if (!locale) abort();
    if (result == ZIP_OK && !ReadsBackAsListed(data, size, listed)) abort();
    return 0;
}
