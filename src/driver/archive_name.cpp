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

int ArchivePartialName(char* out, int capacity, const char* name) {
    if (out == nullptr || capacity <= 0) return -1;
    return TextFormat(out, capacity, "%s.partial", name) ? 0 : -1;
}

bool ArchiveNameIsPartial(const wchar_t* name, size_t length) {
    // '#' stands for a digit; the rest is matched as it is written.
    static const char dated[] = "savKIVO[####-##-##](##.##.##)";
    static const char suffix[] = ".zip.partial";
    const size_t datedLength = sizeof dated - 1;
    const size_t suffixLength = sizeof suffix - 1;
    if (name == nullptr || length < datedLength + suffixLength) return false;
    for (size_t i = 0; i < datedLength; ++i) {
        const bool matches =
            dated[i] == '#' ? name[i] >= L'0' && name[i] <= L'9' : name[i] == wchar_t(dated[i]);
        if (!matches) return false;
    }
    size_t at = datedLength;
    if (length == datedLength + 2 + suffixLength && name[at] == L'-' && name[at + 1] >= L'2' &&
        name[at + 1] <= L'9')
        at += 2;
    if (length != at + suffixLength) return false;
    for (size_t i = 0; i < suffixLength; ++i)
        if (name[at + i] != wchar_t(suffix[i])) return false;
    return true;
}

int ArchivePrefixLength(const char* folder) {
    const char* last = std::strrchr(folder, '\\');
    return last == nullptr ? 0 : static_cast<int>(last - folder) + 1;
}

int ArchiveNamesAppend(char* out, int capacity, const char* names, const char* name) {
    if (out == nullptr || capacity <= 0) return -1;
    return TextFormat(out, capacity, names[0] != '\0' ? "%s\r%s" : "%s%s", names, name) ? 0 : -1;
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
