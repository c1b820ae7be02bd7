// File-association removal against Wine's registry.
#include "clean/clean.h"

#include "bench/bench.h"

#include <gtest/gtest.h>

namespace {

void Register(const std::string& extension, const std::string& programKey, DWORD type = REG_SZ) {
    ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, extension, nullptr, programKey, type));
    if (!programKey.empty()) {
        ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, programKey + "\\shell\\open\\command", nullptr,
                                        "C:\\Apps\\KIVO\\KIVO.EXE \"%1\""));
    }
}

bool Present(const std::string& key) {
    return bench::RegKeyExists(HKEY_CLASSES_ROOT, key);
}

} // namespace

TEST(AssociationRemove, DeletesTheExtensionAndTheProgramItNames) {
    Register(".KVO", "KIVO.Document");
    EXPECT_EQ(0, AssociationRemove("kvo")); // no dot, lower case: the same key
    EXPECT_FALSE(Present(".KVO"));
    EXPECT_FALSE(Present("KIVO.Document"));
    EXPECT_EQ(0, AssociationRemove(".KVO")); // already gone
}

TEST(AssociationRemove, EmptyProgramNameDeletesOnlyTheExtension) {
    Register(".GKV", "");
    ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, ".GKV\\ShellNew", "NullFile", ""));
    EXPECT_EQ(0, AssociationRemove(".GKV"));
    EXPECT_FALSE(Present(".GKV"));
    EXPECT_TRUE(Present("*")); // an empty name is not the root's own key
}

TEST(AssociationRemove, UnusableDefaultValueDeletesNothing) {
    Register(".KVO", "KIVO.Document", REG_EXPAND_SZ);
    EXPECT_EQ(2, AssociationRemove(".KVO"));
    EXPECT_TRUE(Present(".KVO"));
    EXPECT_TRUE(Present("KIVO.Document"));

    // A default value that reaches below another key is no program key.
    ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, "Shared\\Inner", nullptr, "x"));
    Register(".GKV", "Shared\\Inner");
    EXPECT_EQ(3, AssociationRemove(".GKV"));
    EXPECT_TRUE(Present(".GKV"));
    EXPECT_TRUE(Present("Shared\\Inner"));
}

// Extensions are cut to nine characters behind the dot; a name that would
// reach below its own key, or holds nothing, is refused.
TEST(AssociationRemove, LongExtensionsAreCutOddOnesRefused) {
    Register(".ABCDEFGHI", "Another.Program");
    for (const char* refused : {".ABC\\DEF", "", "."})
        EXPECT_EQ(1, AssociationRemove(refused)) << refused;
    EXPECT_TRUE(Present(".ABCDEFGHI"));
    EXPECT_EQ(0, AssociationRemove("abcdefghijkl"));
    EXPECT_FALSE(Present(".ABCDEFGHI"));
    EXPECT_FALSE(Present("Another.Program"));
    EXPECT_EQ(0, AssociationRemove(".NONE"));
}

// A class that something else uses stays; only the extension's own key goes.
TEST(AssociationRemove, SharedOrShellClassesStay) {
    // As on Windows (Wine's prefix has txtfile without .txt).
    ASSERT_TRUE(Present("txtfile"));
    ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, ".txt", nullptr, "txtfile"));
    Register(".kvx", "Shared.Document");
    for (const std::string& shared : {std::string("txtfile"), std::string("Shared.Document"),
                                      std::string("CLSID"), std::string("exefile"), std::string(".kvx")}) {
        ASSERT_TRUE(bench::RegSetString(HKEY_CLASSES_ROOT, ".KVO", nullptr, shared));
        EXPECT_EQ(0, AssociationRemove(".KVO")) << shared;
        EXPECT_FALSE(Present(".KVO")) << shared;
        EXPECT_TRUE(Present(shared)) << shared;
    }
    // Named by both of the product's extensions: it goes with the second.
    Register(".KVO", "KIVO.Both");
    Register(".GKV", "KIVO.Both");
    EXPECT_EQ(0, AssociationRemove(".KVO"));
    EXPECT_TRUE(Present("KIVO.Both"));
    EXPECT_EQ(0, AssociationRemove(".GKV"));
    EXPECT_FALSE(Present("KIVO.Both"));
    for (const char* key : {".txt", ".kvx", "Shared.Document"})
        bench::RegDeleteTree(HKEY_CLASSES_ROOT, key);
}
