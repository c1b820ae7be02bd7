// libFuzzer target: hostile archives for the verifier. The expected entries
// are taken from the archive's own central directory, read leniently, so
// that the verifier goes on to the local headers and the data. It must never
// crash, read outside its buffers or ask for bytes past the archive's size.
#include "zip/zip_archive.h"
#include "zip/zip_verify.h"

#include <cstdlib>
#include <cstring>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Archive archive{data, size};
    const ZipVerifyReader reader = {&archive, ReadArchive, size};
    const std::vector<ZipVerifyExpected> listed = Listed(data, size);
    const int result = ZipVerifyArchive(&reader, listed.data(), uint32_t(listed.size()));
    if (result != ZIP_OK && result != ZIP_ERR_VERIFY) abort();
    return 0;
}
