#include "driver/archive_name.h"

#include <cstdio>
#include <cstring>

// snprintf reports the length it wanted; a text that did not fit is refused
// and the buffer left empty, so a cut name can never be used.
static int FormatResult(char* out, int capacity, int wanted) {
    if (wanted < 0 || wanted >= capacity) {
        if (capacity > 0) out[0] = '\0';
        return -1;
    }
    return 0;
}

int ArchiveNameFormat(char* out, int capacity, char driveLetter, int year, int month, int day, int hour,
                      int minute, int second) {
    if (out == nullptr || capacity <= 0) return -1;
    int wanted = std::snprintf(out, capacity, "%c:\\savKIVO[%4d-%02d-%02d](%02d.%02d.%02d).zip", driveLetter,
                               year, month, day, hour, minute, second);
    return FormatResult(out, capacity, wanted);
}

int ArchiveNameNumbered(char* out, int capacity, const char* name, int number) {
    if (out == nullptr || capacity <= 0) return -1;
    const char* suffix = std::strrchr(name, '.');
    if (number == 1 || suffix == nullptr)
        return FormatResult(out, capacity, std::snprintf(out, capacity, "%s", name));
    const int stem = static_cast<int>(suffix - name);
    return FormatResult(out, capacity, std::snprintf(out, capacity, "%.*s-%d%s", stem, name, number, suffix));
}

int ArchivePrefixLength(const char* folder) {
    const char* last = std::strrchr(folder, '\\');
    return last == nullptr ? 0 : static_cast<int>(last - folder) + 1;
}

int ResultMessageFormat(char* out, int capacity, const char* text, const char* detail) {
    if (out == nullptr || capacity <= 0) return -1;
    return FormatResult(out, capacity, std::snprintf(out, capacity, "%s\r%s", text, detail));
}

int KeptFolderMessageFormat(char* out, int capacity, const char* archivedText, const char* archive,
                            const char* keptText, const char* folder) {
    if (out == nullptr || capacity <= 0) return -1;
    const int wanted =
        std::snprintf(out, capacity, "%s\r%s\r\r%s\r%s", archivedText, archive, keptText, folder);
    return FormatResult(out, capacity, wanted);
}
