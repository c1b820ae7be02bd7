#include "clean/autoexec_edit.h"

#include <cstring>

namespace {

// A line is judged on its first 259 bytes at most.
constexpr size_t LINE_CAPACITY = 260;
constexpr char SET_PREFIX[] = "set ";
constexpr size_t SET_PREFIX_LENGTH = sizeof SET_PREFIX - 1;

bool ContainsSetLine(const char* line, size_t length, const char* name, size_t nameLength) {
    const size_t needed = SET_PREFIX_LENGTH + nameLength;
    if (length < needed) return false;
    for (size_t at = 0; at + needed <= length; ++at) {
        if (std::memcmp(line + at, SET_PREFIX, SET_PREFIX_LENGTH) == 0 &&
            std::memcmp(line + at + SET_PREFIX_LENGTH, name, nameLength) == 0)
            return true;
    }
    return false;
}

} // namespace

// A line with a line feed loses its last byte before the test, because that
// byte is normally the carriage return; in a file of bare line feeds it is
// the line's own last character, so "set KIVO" alone on such a line is not
// recognised. The last line of a file without a line feed keeps every byte.
bool AutoexecFindLine(const char* text, size_t size, const char* name, size_t* start, size_t* end) {
    const size_t nameLength = std::strlen(name);
    if (nameLength == 0) return false; // "set " alone names no variable
    size_t lineStart = 0;
    while (lineStart < size) {
        const char* feed = static_cast<const char*>(std::memchr(text + lineStart, '\n', size - lineStart));
        const size_t length = feed ? static_cast<size_t>(feed - (text + lineStart)) : size - lineStart;
        if (length > 1) {
            const size_t examined = feed ? (length < LINE_CAPACITY ? length : LINE_CAPACITY) - 1
                                         : (length < LINE_CAPACITY - 1 ? length : LINE_CAPACITY - 1);
            if (ContainsSetLine(text + lineStart, examined, name, nameLength)) {
                *start = lineStart;
                *end = feed ? lineStart + length + 1 : size;
                return true;
            }
        }
        lineStart += length + 1;
    }
    return false;
}

size_t AutoexecCutLine(char* text, size_t size, size_t start, size_t end) {
    std::memmove(text + start, text + end, size - end);
    return size - (end - start);
}

void AutoexecPad(char* text, size_t edited, size_t size) {
    size_t at = edited;
    if (at > 0 && text[at - 1] != '\n') {
        if (text[at - 1] != '\r' && at + 1 < size) text[at++] = '\r';
        if (at < size) text[at++] = '\n';
    }
    std::memset(text + at, ' ', size - at);
}
