// The verifier over an archive file on disk.
#include <windows.h>

#include "platform/handle_walk.h"
#include "platform/wide_files.h"
#include "zip/zip_archive.h"
#include "zip/zip_verify.h"

namespace {

struct FileReader {
    HANDLE file;
    uint64_t position; // the file pointer, valid when positioned
    bool positioned;
};

// The verifier reads in order through its own buffers, so a read that
// continues the previous one needs no seek. SetFilePointer with its high part
// reaches past 4 GiB and, unlike SetFilePointerEx, exists on every Windows.
int64_t ReadFileAt(void* context, uint64_t offset, uint8_t* buffer, uint32_t count) {
    FileReader& f = *static_cast<FileReader*>(context);
    if (workSeam != nullptr) workSeam(WORK_SEAM_VERIFY_READ);
    if (!f.positioned || f.position != offset) {
        LONG high = static_cast<LONG>(offset >> 32);
        SetLastError(NO_ERROR);
        const DWORD low = SetFilePointer(f.file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
        f.positioned = low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
        if (!f.positioned) return -1;
        f.position = offset;
    }
    DWORD got = 0;
    if (!ReadFile(f.file, buffer, count, &got, nullptr)) {
        f.positioned = false;
        return -1;
    }
    f.position += got;
    return got;
}

} // namespace

int ZipVerifyArchiveFile(const wchar_t* path, const ZipVerifyExpected* expected, uint32_t count) {
    if (path == nullptr || *path == L'\0') return ZIP_ERR_OPEN;
    // Nobody may write to the archive while it is read back. Windows 9x opens
    // it by its ANSI name, as it was written.
    HANDLE file =
        WideOpenFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (file == INVALID_HANDLE_VALUE) return ZIP_ERR_OPEN;
    const int result = ZipVerifyArchiveHandle(file, expected, count);
    CloseHandle(file);
    return result;
}

int ZipVerifyArchiveHandle(void* archive, const ZipVerifyExpected* expected, uint32_t count) {
    HANDLE file = static_cast<HANDLE>(archive);
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return ZIP_ERR_READ;
    FileReader f = {file, 0, false};
    const ZipVerifyReader reader = {&f, ReadFileAt, (uint64_t(high) << 32) | low};
    return ZipVerifyArchive(&reader, expected, count);
}
