#include "driver/switches.h"

#include "driver/relaunch_argument.h"

#include <cstring>

const char* const unattendedVariable = "KIVO_UNATTENDED";

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The first length characters of text against a lower-case name, ignoring case.
bool SameName(const char* text, size_t length, const char* name) {
    if (std::strlen(name) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != name[i]) return false;
    return true;
}

// Copies the next token of p into out (which holds at least as much as the
// whole text) and moves p behind it; false at the end of the text. Blanks
// separate tokens except between double quotes, which are dropped; open is
// set when the text ends inside quotes.
bool NextToken(const char*& p, char* out, bool& open) {
    while (IsBlank(*p))
        ++p;
    if (*p == '\0') return false;
    bool quoted = false;
    size_t length = 0;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
        if (*p == '"')
            quoted = !quoted;
        else
            out[length++] = *p;
    }
    out[length] = '\0';
    if (quoted) open = true;
    return true;
}

bool IsQuietName(const char* name, size_t length) {
    return SameName(name, length, "s") || SameName(name, length, "quiet");
}

SwitchCheck SetLogPath(RunSwitches* out, const char* path) {
    if (path[0] == '\0') return SWITCHES_LOG_WITHOUT_PATH;
    return TextFormat(out->logPath, PATH_CAPACITY, "%s", path) ? SWITCHES_OK : SWITCHES_PATH_TOO_LONG;
}

// One switch token (it begins with "/"); seen counts the switches met so far.
SwitchCheck TakeSwitch(const char* token, RunSwitches* out, bool seen[3], bool& expectPath) {
    const char* name = token + 1;
    const char* equals = std::strchr(name, '=');
    size_t length = equals != nullptr ? static_cast<size_t>(equals - name) : std::strlen(name);
    int which = IsQuietName(name, length)             ? 0
                : SameName(name, length, "norestart") ? 1
                : SameName(name, length, "log")       ? 2
                                                      : -1;
    if (which < 0 || (which < 2 && equals != nullptr)) return SWITCHES_UNKNOWN;
    if (seen[which]) return SWITCHES_REPEATED;
    seen[which] = true;
    if (which == 1) out->noRestart = true;
    if (which != 2) return SWITCHES_OK;
    if (equals == nullptr) {
        expectPath = true;
        return SWITCHES_OK;
    }
    return SetLogPath(out, equals + 1);
}

// Windows drops trailing dots and blanks from a name, so such a component
// would name another file than the one written; the characters are those a
// file name cannot hold, ":" included (it would name a stream).
bool IsFileName(const char* start, size_t length) {
    if (length == 0 || start[length - 1] == '.' || start[length - 1] == ' ') return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(start[i]);
        if (c < 32 || std::strchr("<>:\"/\\|?*", c) != nullptr) return false;
    }
    return true;
}

// CON, NUL, COM1 and the others name a device in every folder, also with an
// extension ("nul.txt").
bool IsDeviceName(const char* start, size_t length) {
    size_t base = 0;
    while (base < length && start[base] != '.')
        ++base;
    while (base > 0 && start[base - 1] == ' ')
        --base;
    static const char* const devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : devices)
        if (SameName(start, base, device)) return true;
    return base == 4 && (SameName(start, 3, "com") || SameName(start, 3, "lpt")) && start[3] >= '1' &&
           start[3] <= '9';
}

} // namespace

ArgumentKind ArgumentKindOf(const char* argumentText) {
    const char* p = argumentText;
    while (IsBlank(*p))
        ++p;
    if (*p == '\0') return ARGUMENT_FIRST_STAGE;
    bool relaunch = argumentText[0] == '"' && std::strncmp(argumentText + 1, relaunchMarker, 7) == 0;
    if (!relaunch && (p[0] == '/' || (p[0] == '"' && p[1] == '/'))) return ARGUMENT_SWITCHES;
    return IsFirstStageArgument(argumentText) ? ARGUMENT_FIRST_STAGE : ARGUMENT_RELAUNCH;
}

SwitchCheck SwitchesParse(const char* text, RunSwitches* out) {
    *out = RunSwitches{};
    if (strnlen(text, COMMAND_LINE_CAPACITY) >= static_cast<size_t>(COMMAND_LINE_CAPACITY))
        return SWITCHES_TOO_LONG;
    char token[COMMAND_LINE_CAPACITY];
    bool open = false;
    for (const char* p = text; NextToken(p, token, open);)
        if (token[0] == '/' && IsQuietName(token + 1, std::strlen(token + 1))) out->quiet = true;
    if (open) return SWITCHES_OPEN_QUOTE;

    bool seen[3] = {false, false, false};
    bool expectPath = false;
    for (const char* p = text; NextToken(p, token, open);) {
        SwitchCheck check;
        if (expectPath) {
            expectPath = false;
            check = token[0] == '/' ? SWITCHES_LOG_WITHOUT_PATH : SetLogPath(out, token);
        } else {
            check = token[0] == '/' ? TakeSwitch(token, out, seen, expectPath) : SWITCHES_UNKNOWN;
        }
        if (check != SWITCHES_OK) return check;
    }
    return expectPath ? SWITCHES_LOG_WITHOUT_PATH : SWITCHES_OK;
}

bool UnattendedValueFormat(const RunSwitches& switches, char* out, int capacity) {
    if (switches.logPath[0] != '\0' && !LogPathIsPlain(switches.logPath)) {
        if (capacity > 0) out[0] = '\0';
        return false;
    }
    return TextFormat(out, capacity, "%c%c|%s", switches.quiet ? '1' : '0', switches.noRestart ? '1' : '0',
                      switches.logPath);
}

bool UnattendedValueParse(const char* value, RunSwitches* out) {
    *out = RunSwitches{};
    size_t length = strnlen(value, UNATTENDED_VALUE_CAPACITY);
    if (length < 3 || length >= static_cast<size_t>(UNATTENDED_VALUE_CAPACITY)) return false;
    if ((value[0] != '0' && value[0] != '1') || (value[1] != '0' && value[1] != '1') || value[2] != '|')
        return false;
    const char* path = value + 3;
    if (path[0] != '\0' && !LogPathIsPlain(path)) return false;
    out->quiet = value[0] == '1';
    out->noRestart = value[1] == '1';
    std::memcpy(out->logPath, path, length - 2); // length - 3 characters and the zero
    return true;
}

bool LogPathIsPlain(const char* fullPath) {
    if (strnlen(fullPath, PATH_CAPACITY) >= static_cast<size_t>(PATH_CAPACITY)) return false;
    const char* p = fullPath;
    int rootNames = 0; // a share's server and share names precede its files
    if (IsLetter(p[0]) && p[1] == ':' && p[2] == '\\') {
        p += 3;
    } else if (p[0] == '\\' && p[1] == '\\') {
        p += 2;
        rootNames = 2;
    } else {
        return false;
    }
    int names = 0;
    for (;;) {
        const char* start = p;
        while (*p != '\0' && *p != '\\')
            ++p;
        size_t length = static_cast<size_t>(p - start);
        if (!IsFileName(start, length)) return false;
        ++names;
        if (*p == '\0') return names > rootNames && !IsDeviceName(start, length);
        ++p;
    }
}
