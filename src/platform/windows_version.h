// Which family of Windows the program runs on: the 9x family (95, 98, Me)
// lacks access control, links, privileges and wide file calls; and the
// functions that only some versions have.
#pragma once

#include <windows.h>

// True on Windows 95, 98 and Me; false on the NT family.
bool PlatformIsWindows9x();

// A function of module that only some versions of Windows have, looked up at
// run time, since a program that imported it would not start on the others;
// null where the module or the function is missing. GetProcAddress's answer
// goes through a plain function pointer type, which any other may be cast from.
template <class Function> Function PlatformFunction(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
