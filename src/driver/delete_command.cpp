#include "driver/delete_command.h"

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

bool InterpreterCanRetry(const char* comspec) {
    const char* name = std::strrchr(comspec, '\\');
    name = name == nullptr ? comspec : name + 1;
    const char* wanted = "cmd.exe";
    for (; *name != '\0' && *wanted != '\0'; ++name, ++wanted) {
        char c = *name;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *wanted) return false;
    }
    return *name == '\0' && *wanted == '\0';
}

// The copy cannot be deleted until the ending process has let go of its file,
// and the interpreter may well start before that. cmd.exe can wait by itself:
// the path is named once (%f keeps its quotes), and each attempt deletes the
// file if it is still there and, if it is still there afterwards, waits about
// a second with ping, which every Windows has. The loop is bounded; once the
// file is gone the remaining rounds do nothing. Wine's cmd.exe does not accept
// a parenthesised block right after "if", hence the block holds both tests.
// Interpreters without loops (command.com) get the single attempt.
int DeleteCommandFormat(char* out, int capacity, const char* comspec, const char* folder,
                        const char* fileName) {
    if (out == nullptr || capacity <= 0) return -1;
    size_t folderLength = std::strlen(folder);
    const char* separator = folderLength > 0 && folder[folderLength - 1] == '\\' ? "" : "\\";
    int wanted;
    if (InterpreterCanRetry(comspec)) {
        wanted = std::snprintf(out, capacity,
                               "%s /c for %%f in (\"%s%s%s\") do for /l %%i in (1,1,%d) do "
                               "(if exist %%f del %%f & if exist %%f ping -n 2 127.0.0.1 >nul)",
                               comspec, folder, separator, fileName, DELETE_ATTEMPTS);
    } else {
        wanted = std::snprintf(out, capacity, "%s /c del \"%s%s%s\"", comspec, folder, separator, fileName);
    }
    return FormatResult(out, capacity, wanted);
}
