// What a closed archive holds: its entries by index and by stored name.
// Plain C++.
#include "zip/zip.h"

#include <algorithm>
#include <cstring>

namespace {

// Names in byte order, a shorter name before the longer ones it begins.
bool NameBefore(const char* a, uint32_t aLength, const char* b, uint32_t bLength) {
    const int order = std::memcmp(a, b, aLength < bLength ? aLength : bLength);
    return order != 0 ? order < 0 : aLength < bLength;
}

} // namespace

const char* ZipListedName(const ZipListing* listing, uint32_t index) {
    return reinterpret_cast<const char*>(listing->names) + listing->entries[index].nameOffset;
}

bool ZipListingSort(ZipListing* listing) {
    if (listing->byName != nullptr || listing->count == 0) return true;
    if (uint64_t(listing->count) * sizeof(uint32_t) > 0xFFFFFFF0u) return false;
    listing->byName = static_cast<uint32_t*>(ZipAlloc(listing->count * uint32_t(sizeof(uint32_t))));
    if (listing->byName == nullptr) return false;
    for (uint32_t i = 0; i < listing->count; ++i)
        listing->byName[i] = i;
    std::sort(listing->byName, listing->byName + listing->count, [listing](uint32_t a, uint32_t b) {
        return NameBefore(ZipListedName(listing, a), listing->entries[a].nameLength,
                          ZipListedName(listing, b), listing->entries[b].nameLength);
    });
    return true;
}

int64_t ZipListingFind(const ZipListing* listing, const char* name, uint32_t length) {
    if (listing->byName == nullptr) return -1;
    const uint32_t* end = listing->byName + listing->count;
    const uint32_t* begin = listing->byName;
    const uint32_t* found = std::lower_bound(begin, end, 0u, [&](uint32_t entry, uint32_t) {
        return NameBefore(ZipListedName(listing, entry), listing->entries[entry].nameLength, name, length);
    });
    if (found == end || listing->entries[*found].nameLength != length ||
        std::memcmp(ZipListedName(listing, *found), name, length) != 0)
        return -1;
    return *found;
}

void ZipListingFree(ZipListing* listing) {
    ZipFree(listing->entries);
    ZipFree(listing->names);
    ZipFree(listing->byName);
    *listing = ZipListing{};
}
