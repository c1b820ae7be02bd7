// Texts that the uninstall sequence composes: the dated archive name, the
// archive's entry prefix and the result message. Plain C++ without windows.h.
#pragma once

//--- capacities, terminating zero included
constexpr int ARCHIVE_NAME_CAPACITY = 80;
// The longest result text, one line break and the longest folder path.
constexpr int RESULT_MESSAGE_CAPACITY = 64 + 260;

//--- archive
// "d:\savKIVO[yyyy-mm-dd](hh.mm.ss).zip" into out; 0 written, -1 refused.
int ArchiveNameFormat(char* out, int capacity, char driveLetter, int year, int month, int day, int hour,
                      int minute, int second);
// Characters up to and including the folder's last backslash (0 without one).
int ArchivePrefixLength(const char* folder);
// text, "\r", detail into out; 0 written, -1 refused.
int ResultMessageFormat(char* out, int capacity, const char* text, const char* detail);
