#include "clean/autoexec_edit.h"
#include "clean/clean.h"
#include "platform/scoped_handles.h"
#include "driver/driver_state.h"
#include "platform/registry.h"

#include <cstdlib>

namespace {

const char* const VARIABLES[] = {"KIVO", "REVERIRA"};
const bool MACHINE_WIDE[] = {false, true}; // the user's environment first
const char* const BATCH_FILES[] = {"c:\\autoexec.bat", "d:\\autoexec.bat"};

int FailureCode() {
    return GetLastError() == ERROR_ACCESS_DENIED ? 5 : 1;
}

} // namespace

// The registry on the NT family; the start-up batch file on Windows 9x,
// which only takes effect at the next start, so each file handled asks for
// a restart whether or not it named the variable.
void EnvironmentRemoveVariables() {
    if (isNT != 0) {
        for (const bool machineWide : MACHINE_WIDE)
            for (const char* name : VARIABLES)
                if (RegistryDeleteEnvironmentValue(name, machineWide) == 0) environmentChanged = -1;
        return;
    }
    for (const char* name : VARIABLES)
        if (AutoexecRemoveVariable(name) == 0) restartNeeded = -1;
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
    // would not (Wine run by root) must not edit it either.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return 5;

    FileHandle file(CreateFileA(path, READ_CONTROL | FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return FailureCode();
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file.handle, &sizeHigh);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FailureCode();
    if (sizeHigh != 0 || size == INVALID_FILE_SIZE) return 1; // far beyond any batch file: left alone
    HeapBlock text(std::calloc(size + 1, 1));
    if (text.data == nullptr) return 1;
    DWORD read = 0;
    if (size != 0 && !ReadFile(file.handle, text.data, size, &read, nullptr)) return FailureCode();
    if (read == 0) return 0;
    if (read != size) return 1; // never rewrite a file from part of it

    size_t start = 0;
    size_t end = 0;
    if (!AutoexecFindLine(text.data, read, name, &start, &end)) return 0;
    const size_t edited = AutoexecCutLine(text.data, read, start, end);
    // A file of nothing but that line keeps it: an empty autoexec.bat is no
    // improvement worth a rewrite.
    if (edited == 0) return 0;
    if (SetFilePointer(file.handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return FailureCode();
    DWORD written = 0;
    if (!WriteFile(file.handle, text.data, static_cast<DWORD>(edited), &written, nullptr))
        return FailureCode();
    if (written != edited) return 1;
    if (!SetEndOfFile(file.handle)) return FailureCode();
    return 0;
}
