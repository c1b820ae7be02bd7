#include "driver/delete_command.h"

#include "driver/relaunch_argument.h"

#include <cstdio>
#include <cstring>

const char* const DELETE_COPY_VARIABLE = "uninstKIVO_copy";
const char* const DELETE_FOLDER_VARIABLE = "uninstKIVO_folder";

static const char PRIVATE_FOLDER_PREFIX[] = "uninstKIVO-";
static const size_t PRIVATE_FOLDER_PREFIX_LENGTH = sizeof PRIVATE_FOLDER_PREFIX - 1;

static bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool PrivateFolderNameFormat(char* out, int capacity, const unsigned char* random) {
    const int length = static_cast<int>(PRIVATE_FOLDER_PREFIX_LENGTH) + 2 * PRIVATE_FOLDER_RANDOM_BYTES;
    if (out == nullptr || capacity <= length) {
        if (out != nullptr && capacity > 0) out[0] = '\0';
        return false;
    }
    std::memcpy(out, PRIVATE_FOLDER_PREFIX, PRIVATE_FOLDER_PREFIX_LENGTH);
    for (int i = 0; i < PRIVATE_FOLDER_RANDOM_BYTES; ++i)
        std::snprintf(out + PRIVATE_FOLDER_PREFIX_LENGTH + 2 * i, 3, "%02X", random[i]);
    return true;
}

bool IsPrivateFolderName(const char* name) {
    if (std::strncmp(name, PRIVATE_FOLDER_PREFIX, PRIVATE_FOLDER_PREFIX_LENGTH) != 0) return false;
    const char* digits = name + PRIVATE_FOLDER_PREFIX_LENGTH;
    for (int i = 0; i < 2 * PRIVATE_FOLDER_RANDOM_BYTES; ++i)
        if (!IsHexDigit(digits[i])) return false;
    return digits[2 * PRIVATE_FOLDER_RANDOM_BYTES] == '\0';
}

bool InterpreterCanRetry(const char* interpreter) {
    const char* name = std::strrchr(interpreter, '\\');
    name = name == nullptr ? interpreter : name + 1;
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
// each attempt deletes the file (read-only or not) if it is still there and,
// if it is still there afterwards, waits about a second with ping. The loop is
// bounded; once the file is gone the remaining rounds do nothing.
//
// With its private folder, each round also tries to remove the folder and
// waits while the folder is there: a first stage that waited for the copy
// keeps its own file in the same folder and hands it to an interpreter of its
// own, so whichever of the two comes last removes the folder. Errors of
// these attempts go to nul.
//
// The paths come from the interpreter's environment, expanded once: typed
// into the command, a "%", "^", "&" or ")" of the TEMP folder's path would be
// read as part of the command. /d keeps AutoRun commands of the registry
// away, /v:off a "!" of the path. Wine's cmd.exe does not accept a
// parenthesised block right after "if", and everything behind an "if" on its
// line belongs to it, hence the tests come last in each round.
// Interpreters without loops (command.com) get the single attempt.
int DeleteCommandFormat(char* out, int capacity, const char* interpreter, const char* pingProgram,
                        const char* copyPath, bool removeFolder) {
    if (out == nullptr || capacity <= 0) return -1;
    bool written;
    if (!InterpreterCanRetry(interpreter)) {
        written = TextFormat(out, capacity, "%s /c del \"%s\"", interpreter, copyPath);
    } else if (removeFolder) {
        written = TextFormat(out, capacity,
                             "\"%s\" /d /v:off /c for %%f in (\"%%%s%%\") do for /l %%i in (1,1,%d) do "
                             "(del /f %%f 2>nul & rd \"%%%s%%\" 2>nul & if exist \"%%%s%%\" \"%s\" -n 2 "
                             "127.0.0.1 >nul)",
                             interpreter, DELETE_COPY_VARIABLE, DELETE_ATTEMPTS, DELETE_FOLDER_VARIABLE,
                             DELETE_FOLDER_VARIABLE, pingProgram);
    } else {
        written = TextFormat(out, capacity,
                             "\"%s\" /d /v:off /c for %%f in (\"%%%s%%\") do for /l %%i in (1,1,%d) do "
                             "(if exist %%f del /f %%f & if exist %%f \"%s\" -n 2 127.0.0.1 >nul)",
                             interpreter, DELETE_COPY_VARIABLE, DELETE_ATTEMPTS, pingProgram);
    }
    return written ? 0 : -1;
}

int DeleteEnvironmentFormat(char* out, int capacity, const char* windowsFolder, const char* copyPath,
                            const char* copyFolder) {
    if (out == nullptr || capacity <= 0) return -1;
    // The names in order, as Windows keeps an environment block sorted.
    const bool written =
        TextFormat(out, capacity, "SystemRoot=%s%c%s=%s%c%s=%s%c", windowsFolder, '\0', DELETE_COPY_VARIABLE,
                   copyPath, '\0', DELETE_FOLDER_VARIABLE, copyFolder, '\0');
    // The block ends with a second zero, which the formatting adds behind the text.
    return written ? 0 : -1;
}
