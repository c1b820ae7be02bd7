// The Files step of the uninstall sequence: the program files go; the rest of
// the data folder is packed into a new archive at the root of its drive,
// under a partial name, read back from the disk and verified, then given its
// final name; only then do the files it holds go, and only those unchanged
// since they were read.
#pragma once

#include "clean/clean.h"
#include "zip/zip.h"

#include <windows.h>

// Runs the step; message (RESULT_MESSAGE_CAPACITY) receives the result box's
// text. Sets dataFolderKept and archivePath.
void RunFilesStep(const char* dataFolder, char* message);
// The same from the folder held by the caller (FolderHold: the right to list
// it, and DELETE for the folder itself to go); every walk of the step starts
// from that handle. Each removal that fails is logged by name and counted.
void RunFilesStepHeld(const HeldFolder& folder, char* message);

// Called, when set, with the archive's path and the handle that wrote it
// once it is flushed and before it is read back: the tests' way to damage it.
extern void (*archiveWrittenHook)(const char* archivePath, HANDLE archive);
// Called, when set, with the partial archive's path and its handle once it
// read back as written, before it takes its final name: the tests' view of
// the moment before the rename, when no data file may be gone yet.
extern void (*archiveVerifiedHook)(const char* partialPath, HANDLE archive);

//--- the step's archiving, also timed by the benchmark
// Writes the archive of dataFolder into file (new and empty, named
// archiveName) with the given number of workers (0: one per processor),
// flushes and closes it; on ZIP_OK listing holds what the archive holds. The
// handle is closed on every path.
int FilesStepArchive(HANDLE file, const char* archiveName, const char* dataFolder, uint32_t workers,
                     ZipListing* listing);
// Reads the closed archive back from the disk: every entry must decode to
// the size and CRC-32 taken while its file was read.
int FilesStepVerify(const char* archiveName, const ZipListing& listing);
