#include "clean/autoexec_edit.h"
#include "clean/clean.h"
#include "driver/driver_state.h"
#include "platform/registry.h"
#include "platform/scoped_handles.h"

#include <cstdlib>

namespace {

const char* const VARIABLES[] = {"KIVO", "REVERIRA"};
const bool MACHINE_WIDE[] = {false, true}; // the user's environment first
const char* const BATCH_FILES[] = {"c:\\autoexec.bat", "d:\\autoexec.bat"};

// An access refused is told apart; any other failure keeps its own code
// (never 1, which means that there was no file to edit).
int FailureCode() {
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED ? 5 : error > 1 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
}

} // namespace

// The registry on the NT family; the start-up batch file on Windows 9x,
// which only takes effect at the next start, so each file handled asks for
// a restart whether or not it named the variable.
void EnvironmentRemoveVariables() {
    if (isNT != 0) {
        for (const bool machineWide : MACHINE_WIDE)
            for (const char* name : VARIABLES) {
                const int deleted = RegistryDeleteEnvironmentValue(name, machineWide);
                if (deleted == 0) environmentChanged = -1;
                if (deleted < 0)
                    RemovalFailed(machineWide ? "variable of the machine's environment"
                                              : "variable of the user's environment",
                                  name);
            }
        return;
    }
    for (const char* name : VARIABLES) {
        const int edited = AutoexecRemoveVariable(name);
        if (edited == 0) restartNeeded = -1;
        if (edited > 1) RemovalFailed("variable of autoexec.bat", name);
    }
}

bool EnvironmentRemoveUserVariables(HKEY userRoot, void (*failed)(const char* name, void* context),
                                    void* context) {
    bool removed = false;
    for (const char* name : VARIABLES) {
        const int result = RegistryDeleteValue(userRoot, "Environment", name);
        if (result == 0) removed = true;
        if (result < 0) failed(name, context);
    }
    return removed;
}

// The file is opened with read sharing only, so nobody writes it between our
// read and our write. Its size is taken from the open file, so a file that
// changed after it was found is never cut short.
int AutoexecRemoveVariable(const char* name) {
    if (name == nullptr || name[0] == '\0') return 1;
    const char* path = nullptr;
    WIN32_FIND_DATAA found;
    for (const char* candidate : BATCH_FILES) {
        FindHandle find(FindFirstFileA(candidate, &found));
        if (find.valid()) {
            path = candidate;
            break;
        }
    }
    if (path == nullptr) return 1;
    // Windows refuses to open a read-only file for writing; a system that
    // would not (Wine run by root) must not edit it either. It is still read,
    // to tell whether the variable stays in it.
    const bool readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    const DWORD access =
        readOnly ? GENERIC_READ : READ_CONTROL | FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA;
    FileHandle file(
        CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return FailureCode();
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file.handle, &sizeHigh);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FailureCode();
    // Far beyond any batch file: left alone.
    if (sizeHigh != 0 || size == INVALID_FILE_SIZE) return ERROR_FILE_TOO_LARGE;
    HeapBlock text(std::calloc(size + 1, 1));
    if (text.data == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    if (size != 0 && !ReadFile(file.handle, text.data, size, &read, nullptr)) return FailureCode();
    if (read == 0) return readOnly ? 1 : 0;
    if (read != size) return ERROR_READ_FAULT; // never rewrite a file from part of it

    size_t start = 0;
    size_t end = 0;
    if (!AutoexecFindLine(text.data, read, name, &start, &end)) return readOnly ? 1 : 0;
    if (readOnly) return 5;
    const size_t edited = AutoexecCutLine(text.data, read, start, end);
    // A file of nothing but that line keeps it: an empty autoexec.bat is no
    // improvement worth a rewrite.
    if (edited == 0) return 0;
    // The edited text goes over the old one at its full size, padded with
    // what runs as nothing, then the file is cut: stopped between the two, it
    // does what the new one does, never runs the old tail.
    AutoexecPad(text.data, edited, read);
    if (SetFilePointer(file.handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return FailureCode();
    DWORD written = 0;
    if (!WriteFile(file.handle, text.data, read, &written, nullptr)) return FailureCode();
    if (written != read) return ERROR_WRITE_FAULT;
    if (SetFilePointer(file.handle, static_cast<LONG>(edited), nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(file.handle))
        return FailureCode();
    return 0;
}
