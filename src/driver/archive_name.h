// Texts that the uninstall sequence composes: the dated archive name, the
// archive's entry prefix and the result message. Plain C++ without windows.h.
#pragma once

#include <cstddef>

//--- capacities, terminating zero included
constexpr int ARCHIVE_NAME_CAPACITY = 80;
// The archives of stopped runs that a run finishing them names besides its
// own: about 25 dated names; one that would not fit is not recorded.
constexpr int EARLIER_ARCHIVES_CAPACITY = 12 * ARCHIVE_NAME_CAPACITY;
// Two of the longest result texts, the archive names, the longest folder
// path and their line breaks.
constexpr int RESULT_MESSAGE_CAPACITY = 2 * 64 + EARLIER_ARCHIVES_CAPACITY + ARCHIVE_NAME_CAPACITY + 260;

//--- archive
// "d:\savKIVO[yyyy-mm-dd](hh.mm.ss).zip" into out; 0 written, -1 refused.
int ArchiveNameFormat(char* out, int capacity, char driveLetter, int year, int month, int day, int hour,
                      int minute, int second);
// The name with "-number" before its ".zip" (the name itself for number 1);
// 0 written, -1 refused.
int ArchiveNameNumbered(char* out, int capacity, const char* name, int number);
// The name an archive is written and verified under before it takes its
// final one: name followed by ".partial", which no backup's name ends with.
// 0 written, -1 refused.
int ArchivePartialName(char* out, int capacity, const char* name);
// Whether the bare name (length units) is one that a partial archive had:
// "savKIVO[yyyy-mm-dd](hh.mm.ss).zip.partial", with "-2" .. "-9" before ".zip".
bool ArchiveNameIsPartial(const wchar_t* name, size_t length);
// Characters up to and including the folder's last backslash (0 without one).
int ArchivePrefixLength(const char* folder);
// The archive names a result gives: names (may be empty), then name, "\r"
// between them; 0 written, -1 refused.
int ArchiveNamesAppend(char* out, int capacity, const char* names, const char* name);
// text, "\r", detail into out; 0 written, -1 refused.
int ResultMessageFormat(char* out, int capacity, const char* text, const char* detail);
// The archive written and the folder that stayed all the same:
// archivedText "\r" archive "\r\r" keptText "\r" folder; 0 written, -1 refused.
int KeptFolderMessageFormat(char* out, int capacity, const char* archivedText, const char* archive,
                            const char* keptText, const char* folder);
