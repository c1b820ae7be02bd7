// Times the Files step's archiving of a folder as the step does it, with the
// product's own functions: the archive written into a new file, flushed and
// closed, then read back from the disk and verified. Usage:
//   files_bench FOLDER RUNS [WORKERS]
// (WORKERS 0, the default, one per processor, as the step does). Prints one
// line per run, "run N workers W archive SECONDS verify SECONDS", then the
// folder's and the archive's sizes, and the process's working set before the
// first run and at its peak, in bytes.
#include "driver/files_step.h"

#include <windows.h>

#include <psapi.h>

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
bool ArchiveAndVerify(const char* folder, uint32_t workers, double* archiving, double* verifying,
                      ZipListing* listing) {
    DeleteFileA(ARCHIVE);
    const double start = Now();
    HANDLE file = CreateFileA(ARCHIVE, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || FilesStepArchive(file, ARCHIVE, folder, workers, listing) != ZIP_OK)
        return false;
    const double archived = Now();
    if (FilesStepVerify(ARCHIVE, *listing) != ZIP_OK) return false;
    *archiving = archived - start;
    *verifying = Now() - archived;
    return true;
}

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: files_bench FOLDER RUNS [WORKERS]\n");
        return 2;
    }
    const int runs = std::atoi(argv[2]);
    const uint32_t workers = argc == 4 ? uint32_t(std::atoi(argv[3])) : 0;
    const size_t before = Memory().WorkingSetSize;
    ZipListing listing = {};
    for (int run = 1; run <= runs; ++run) {
        ZipListingFree(&listing);
        double archiving = 0, verifying = 0;
        if (!ArchiveAndVerify(argv[1], workers, &archiving, &verifying, &listing)) return 1;
        std::printf("run %d workers %u archive %.3f verify %.3f\n", run, workers, archiving, verifying);
    }
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < listing.count; ++i)
        bytes += listing.entries[i].size;
    WIN32_FILE_ATTRIBUTE_DATA archive = {};
    GetFileAttributesExA(ARCHIVE, GetFileExInfoStandard, &archive);
    std::printf("files %u bytes %llu archive %llu\n", listing.count, static_cast<unsigned long long>(bytes),
                (static_cast<unsigned long long>(archive.nFileSizeHigh) << 32) | archive.nFileSizeLow);
    std::printf("memory workers %u before %llu peak %llu\n", workers, static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(Memory().PeakWorkingSetSize));
    ZipListingFree(&listing);
    DeleteFileA(ARCHIVE);
    return 0;
}
