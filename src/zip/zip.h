// The zip archiver's interface.
#pragma once

#include "zip/zip_archive.h"

#include <cstddef>
#include <cstdint>

// Archive kinds (16 may be added without effect).
enum : int { ZIP_KIND_HANDLE = 1, ZIP_KIND_FILE = 2, ZIP_KIND_MEMORY = 4, ZIP_KIND_FOLDER = 8 };

//--- writing
int ZipCreateArchive(ZipArchive** archive, void* target, uint32_t size, int kind, const char* password);
int ZipCreateArchiveFile(ZipArchive** archive, const char* path, const char* password);
// The name (and a file kind's path) in the ANSI code page; a name that is not
// plain ASCII is stored in UTF-8.
int ZipAddEntry(ZipArchive* archive, const char* name, const void* source, uint32_t length, int kind);
// The same with a wide name, and for a file kind a wide path.
int ZipAddEntryW(ZipArchive* archive, const wchar_t* name, const void* source, uint32_t length, int kind);
// Adds every file below folder; prefixLength -1: names relative to the folder.
// Links below the folder are neither followed nor archived.
int ZipAddFolderTree(ZipArchive* archive, const char* folder, int prefixLength);
// The same from the folder's handle (the NT family: held by the caller, with
// the right to list it), from which every child is opened relative to its
// folder's handle; folder still gives the names' prefix. INVALID_HANDLE_VALUE
// as ZipAddFolderTree.
int ZipAddFolderTreeHeld(ZipArchive* archive, void* held, const char* folder, int prefixLength);
// What the names of that walk begin with (the folder's text from prefixLength
// on and a backslash, or nothing), wide, before their conversion to UTF-8.
int ZipFolderNamePrefix(const char* folder, int prefixLength, wchar_t* out, size_t capacity);
void ZipSetProgress(ZipArchive* archive, ZipProgress progress, void* context);
// Threads that read and compress a folder's files ahead of the one being
// written (at most 8); 0, the default, one per processor; 1 none. The
// archive's bytes do not depend on it.
void ZipSetWorkers(ZipArchive* archive, uint32_t workers);
int ZipCloseArchive(ZipArchive* archive);
// Closes like ZipCloseArchive and, when that returns ZIP_OK and listing is not
// null, hands over the list of what the archive holds (ZipListingFree).
int ZipCloseArchiveListing(ZipArchive* archive, ZipListing* listing);
bool ZipHasStoredSuffix(const char* name);
uint32_t Crc32Update(uint32_t crc, const uint8_t* buffer, uint32_t length);

//--- what a closed archive holds
const char* ZipListedName(const ZipListing* listing, uint32_t index);
// Sorts the entries by name for ZipListingFind; false when memory is short.
bool ZipListingSort(ZipListing* listing);
// The index of the entry stored under name, or -1.
int64_t ZipListingFind(const ZipListing* listing, const char* name, uint32_t length);
void ZipListingFree(ZipListing* listing);
