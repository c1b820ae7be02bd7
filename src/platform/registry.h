// Registry access: each operation opens its key, does one thing and closes it.
#pragma once

#include <windows.h>

// 0 written; -1 key not opened or created; -2 value not written.
int RegistryWriteValue(HKEY root, const char* subkey, const char* name, DWORD type, const void* data,
                       DWORD size, bool flush);
// The value's type on success; -1 key not opened; -2 no such value; -3 data not read.
// With data null it only probes. *data is malloc'ed (zero-terminated beyond
// *size for convenience); the caller frees it.
int RegistryReadValue(HKEY root, const char* subkey, const char* name, void** data, DWORD* size);
// 0 the key is gone (deleted or never there); -1 it is still there.
int RegistryDeleteKeyTree(HKEY root, const char* path);
// Deletes the key only when it holds neither subkeys nor values: 0 gone
// (deleted or never there); 1 kept, something is in it; -1 it could not be read or deleted.
int RegistryDeleteKeyIfEmpty(HKEY root, const char* path);
// 0 deleted; 1 there was no such value (or no such key); -1 it stays.
int RegistryDeleteValue(HKEY root, const char* key, const char* name);
// The same for a variable of the user's or the machine's environment.
int RegistryDeleteEnvironmentValue(const char* name, bool machineWide);
