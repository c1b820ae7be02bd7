// Time conversions of the zip records. Plain C++: the Win32 records are
// passed as plain integers.
#pragma once

#include <cstdint>

// The fields of a SYSTEMTIME that the DOS stamps use.
struct ZipCivilTime {
    int year, month, day;
    int hour, minute, second;
};

//--- DOS stamps of the local and central headers
uint16_t ZipDosDate(const ZipCivilTime& time);
uint16_t ZipDosTime(const ZipCivilTime& time);

//--- Unix seconds of the extended-timestamp field, from a FILETIME value
uint32_t ZipUnixSeconds(uint64_t fileTime);
