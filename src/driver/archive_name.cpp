#include "driver/archive_name.h"

#include "driver/relaunch_argument.h"

#include <cstring>

// Each text that does not fit is refused and its buffer left empty
// (TextFormat), so that a cut name can never be used.
int ArchiveNameFormat(char* out, int capacity, char driveLetter, int year, int month, int day, int hour,
                      int minute, int second) {
    if (out == nullptr || capacity <= 0) return -1;
    const bool written = TextFormat(out, capacity, "%c:\\savKIVO[%4d-%02d-%02d](%02d.%02d.%02d).zip",
                                    driveLetter, year, month, day, hour, minute, second);
    return written ? 0 : -1;
}

int ArchiveNameNumbered(char* out, int capacity, const char* name, int number) {
    if (out == nullptr || capacity <= 0) return -1;
    const char* suffix = std::strrchr(name, '.');
    if (number == 1 || suffix == nullptr) return TextFormat(out, capacity, "%s", name) ? 0 : -1;
    const int stem = static_cast<int>(suffix - name);
    return TextFormat(out, capacity, "%.*s-%d%s", stem, name, number, suffix) ? 0 : -1;
}

int ArchivePrefixLength(const char* folder) {
    const char* last = std::strrchr(folder, '\\');
    return last == nullptr ? 0 : static_cast<int>(last - folder) + 1;
}

int ResultMessageFormat(char* out, int capacity, const char* text, const char* detail) {
    if (out == nullptr || capacity <= 0) return -1;
    return TextFormat(out, capacity, "%s\r%s", text, detail) ? 0 : -1;
}

int KeptFolderMessageFormat(char* out, int capacity, const char* archivedText, const char* archive,
                            const char* keptText, const char* folder) {
    if (out == nullptr || capacity <= 0) return -1;
    return TextFormat(out, capacity, "%s\r%s\r\r%s\r%s", archivedText, archive, keptText, folder) ? 0 : -1;
}
