#include "zip/zip_archive.h"

#include <cstring>

bool ZipGrowBlock(void** block, uint32_t* capacity, uint64_t needed, uint32_t unit) {
    if (needed <= *capacity) return true;
    const uint64_t most = 0xFFFFFFF0u / unit;
    if (needed > most) return false;
    // Doubling keeps a block that grows one item at a time cheap; near the
    // heap's limit it takes only what is needed.
    uint64_t grown = uint64_t(*capacity) * 2 > needed ? uint64_t(*capacity) * 2 : needed;
    if (grown > most) grown = needed;
    void* larger = ZipAlloc(static_cast<uint32_t>(grown * unit));
    if (larger == nullptr) return false;
    if (*block != nullptr) std::memcpy(larger, *block, size_t(*capacity) * unit);
    ZipFree(*block);
    *block = larger;
    *capacity = static_cast<uint32_t>(grown);
    return true;
}
