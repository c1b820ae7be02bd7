#include "zip/zip_time.h"

namespace {

// The DOS date counts years from 1980 in seven bits; a stamp outside
// 1980..2107 would wrap into a wrong but plausible date, so it is pinned to
// the nearest representable moment instead.
ZipCivilTime ClampToDosRange(const ZipCivilTime& time) {
    if (time.year < 1980) return ZipCivilTime{1980, 1, 1, 0, 0, 0};
    if (time.year > 2107) return ZipCivilTime{2107, 12, 31, 23, 59, 58};
    return time;
}

} // namespace

uint16_t ZipDosDate(const ZipCivilTime& time) {
    const ZipCivilTime t = ClampToDosRange(time);
    return static_cast<uint16_t>(((t.year - 1980) << 9) | ((t.month & 15) << 5) | (t.day & 31));
}

uint16_t ZipDosTime(const ZipCivilTime& time) {
    const ZipCivilTime t = ClampToDosRange(time);
    return static_cast<uint16_t>((t.hour << 11) | ((t.minute & 63) << 5) | ((t.second / 2) & 31));
}

uint32_t ZipUnixSeconds(uint64_t fileTime) {
    // FILETIME counts 100 ns ticks from 1601-01-01; the division truncates
    // toward zero, also for stamps before 1970.
    const int64_t ticks = static_cast<int64_t>(fileTime) - 116444736000000000LL;
    return static_cast<uint32_t>(static_cast<uint64_t>(ticks / 10000000LL));
}
