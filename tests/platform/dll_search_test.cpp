// The DLL search once restricted: a DLL beside the program (planted.dll,
// copied into C:\kivo by the run) or in the current folder is no longer
// loaded by its name, while a system DLL still is. Wine follows
// SetDefaultDllDirectories; the restriction cannot be lifted again, hence a
// program of its own.
#include "platform/dll_search.h"

#include "bench/bench.h"

#include <gtest/gtest.h>

TEST(DllSearch, PlantedDllsAreNoLongerLoaded) {
    ASSERT_TRUE(bench::MakeFolders("C:\\current"));
    ASSERT_TRUE(CopyFileA("C:\\kivo\\planted.dll", "C:\\current\\planted_here.dll", FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\current"));
    for (const char* name : {"planted.dll", "planted_here.dll"}) {
        HMODULE loaded = LoadLibraryA(name);
        ASSERT_NE(loaded, nullptr) << name << " cannot be loaded at all";
        FreeLibrary(loaded);
    }

    EXPECT_EQ(DllSearchRestrict(), 1);
    EXPECT_EQ(LoadLibraryA("planted.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA("planted_here.dll"), nullptr);
    HMODULE system = LoadLibraryA("version.dll");
    EXPECT_NE(system, nullptr);
    if (system != nullptr) FreeLibrary(system);
}
