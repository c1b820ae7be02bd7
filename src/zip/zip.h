// The zip archiver's interface.
#pragma once

#include "zip/zip_archive.h"

#include <cstdint>

// Archive kinds (16 may be added without effect).
enum : int { ZIP_KIND_HANDLE = 1, ZIP_KIND_FILE = 2, ZIP_KIND_MEMORY = 4, ZIP_KIND_FOLDER = 8 };

int ZipCreateArchive(ZipArchive** archive, void* target, uint32_t size, int kind, const char* password);
int ZipCreateArchiveFile(ZipArchive** archive, const char* path, const char* password);
int ZipAddEntry(ZipArchive* archive, const char* name, const void* source, uint32_t length, int kind);
int ZipCloseArchive(ZipArchive* archive);
bool ZipHasStoredSuffix(const char* name);
uint32_t Crc32Update(uint32_t crc, const uint8_t* buffer, uint32_t length);
// Adds every file below folder; prefixLength -1: names relative to the folder.
int ZipAddFolderTree(ZipArchive* archive, const char* folder, int prefixLength);
