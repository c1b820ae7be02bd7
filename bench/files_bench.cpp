// Times the Files step's archiving of a folder as the step does it, with the
// product's own functions: the archive written into a new file, flushed and
// closed, then read back from the disk and verified. Usage:
//   files_bench FOLDER RUNS
// Prints one line per run, "run N archive SECONDS verify SECONDS", then the
// folder's and the archive's sizes.
#include "driver/files_step.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const ARCHIVE = "C:\\files-bench.zip";

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Archives folder and verifies the archive; the seconds each took, or false
// when either failed.
bool ArchiveAndVerify(const char* folder, double* archiving, double* verifying, ZipListing* listing) {
    DeleteFileA(ARCHIVE);
    const double start = Now();
    HANDLE file = CreateFileA(ARCHIVE, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || FilesStepArchive(file, ARCHIVE, folder, 0, listing) != ZIP_OK)
        return false;
    const double archived = Now();
    if (FilesStepVerify(ARCHIVE, *listing) != ZIP_OK) return false;
    *archiving = archived - start;
    *verifying = Now() - archived;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: files_bench FOLDER RUNS\n");
        return 2;
    }
    const int runs = std::atoi(argv[2]);
    ZipListing listing = {};
    for (int run = 1; run <= runs; ++run) {
        ZipListingFree(&listing);
        double archiving = 0, verifying = 0;
        if (!ArchiveAndVerify(argv[1], &archiving, &verifying, &listing)) return 1;
        std::printf("run %d archive %.3f verify %.3f\n", run, archiving, verifying);
    }
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < listing.count; ++i)
        bytes += listing.entries[i].size;
    WIN32_FILE_ATTRIBUTE_DATA archive = {};
    GetFileAttributesExA(ARCHIVE, GetFileExInfoStandard, &archive);
    std::printf("files %u bytes %llu archive %llu\n", listing.count, static_cast<unsigned long long>(bytes),
                (static_cast<unsigned long long>(archive.nFileSizeHigh) << 32) | archive.nFileSizeLow);
    ZipListingFree(&listing);
    DeleteFileA(ARCHIVE);
    return 0;
}
