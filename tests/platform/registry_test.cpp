// Registry operations against Wine's real registry, under a scratch key.
#include "platform/registry.h"
#include "platform/user_hives.h"

#include "bench/bench.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const scratch = "Software\\KivoRegistryTest";

class Registry : public ::testing::Test {
  protected:
    void TearDown() override { bench::RegDeleteTree(HKEY_CURRENT_USER, scratch); }
};

DWORD StoredSize(const char* key, const char* name) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    DWORD size = 0;
    RegQueryValueExA(handle, name, nullptr, nullptr, nullptr, &size);
    RegCloseKey(handle);
    return size;
}

} // namespace

TEST_F(Registry, WriteStoresTheSizeTheTypeCallsFor) {
    DWORD number = 0x12345678;
    ASSERT_EQ(RegistryWriteValue(HKEY_CURRENT_USER, scratch, "dword", REG_DWORD, &number, 0, false), 0);
    EXPECT_EQ(StoredSize(scratch, "dword"), 4u);
    ASSERT_EQ(RegistryWriteValue(HKEY_CURRENT_USER, scratch, "text", REG_SZ, "abc", 99, true), 0);
    EXPECT_EQ(StoredSize(scratch, "text"), 4u);
    unsigned char bytes[3] = {1, 2, 3};
    ASSERT_EQ(RegistryWriteValue(HKEY_CURRENT_USER, scratch, "binary", REG_BINARY, bytes, 3, false), 0);
    EXPECT_EQ(StoredSize(scratch, "binary"), 3u);
    EXPECT_EQ(RegistryWriteValue(reinterpret_cast<HKEY>(0x1234), scratch, "x", REG_DWORD, &number, 0, false),
              -1);
}

TEST_F(Registry, ReadHandsOverAZeroTerminatedCopyOrOnlyTheType) {
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, scratch, "path", "C:\\Apps\\KIVO"));
    void* data = nullptr;
    DWORD size = 0;
    EXPECT_EQ(RegistryReadValue(HKEY_CURRENT_USER, scratch, "path", &data, &size), REG_SZ);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 13u);
    EXPECT_STREQ(static_cast<char*>(data), "C:\\Apps\\KIVO");
    free(data);

    // Data without a terminator still reaches the caller as a safe text.
    unsigned char bytes[3] = {'x', 'y', 'z'};
    ASSERT_TRUE(RegistryWriteValue(HKEY_CURRENT_USER, scratch, "bare", REG_BINARY, bytes, 3, false) == 0);
    EXPECT_EQ(RegistryReadValue(HKEY_CURRENT_USER, scratch, "bare", &data, &size), REG_BINARY);
    EXPECT_EQ(size, 3u);
    EXPECT_STREQ(static_cast<char*>(data), "xyz");
    free(data);

    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, scratch, "number", 5));
    EXPECT_EQ(RegistryReadValue(HKEY_CURRENT_USER, scratch, "number", nullptr, nullptr), REG_DWORD);
    EXPECT_EQ(RegistryReadValue(HKEY_CURRENT_USER, scratch, "number", nullptr, &size), REG_DWORD);
    EXPECT_EQ(size, 4u);
}

TEST_F(Registry, ReadReportsAMissingKeyOrValue) {
    void* data = reinterpret_cast<void*>(1);
    DWORD size = 77;
    EXPECT_EQ(RegistryReadValue(HKEY_CURRENT_USER, "Software\\KivoNoSuchKey", "x", &data, &size), -1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, scratch, "number", 5));
    data = reinterpret_cast<void*>(1);
    size = 77;
    EXPECT_EQ(RegistryReadValue(HKEY_CURRENT_USER, scratch, "missing", &data, &size), -2);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(Registry, DeleteTreeRemovesEveryLevelAndAMissingKeyCountsAsDone) {
    std::string base = std::string(scratch) + "\\TMW";
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, base + "\\KIVO\\a\\b\\c", "v", 1));
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, base + "\\KIVO\\a\\b2", "v", 1));
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, base + "\\Other", "v", 1));
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, (base + "\\KIVO").c_str()), 0);
    EXPECT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, base + "\\KIVO"));
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, base + "\\Other"));
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, (base + "\\KIVO").c_str()), 0);
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, (base + "\\").c_str()), 0); // trailing backslash
    EXPECT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, base));
}

// A subkey or a value, the default one included, keeps the key.
TEST_F(Registry, DeleteIfEmptyKeepsAKeyWithAnythingInIt) {
    const std::string key = std::string(scratch) + "\\TMW";
    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, key + "\\Other", "v", 1));
    EXPECT_EQ(RegistryDeleteKeyIfEmpty(HKEY_CURRENT_USER, key.c_str()), 1);
    bench::RegDeleteTree(HKEY_CURRENT_USER, key + "\\Other");
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, key, nullptr, "maker"));
    EXPECT_EQ(RegistryDeleteKeyIfEmpty(HKEY_CURRENT_USER, key.c_str()), 1);
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, key));
    HKEY handle;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
    RegDeleteValueA(handle, nullptr);
    RegCloseKey(handle);
    EXPECT_EQ(RegistryDeleteKeyIfEmpty(HKEY_CURRENT_USER, key.c_str()), 0);
    EXPECT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, key));
    EXPECT_EQ(RegistryDeleteKeyIfEmpty(HKEY_CURRENT_USER, key.c_str()), 0); // already gone
}

TEST_F(Registry, DeleteTreeRefusesTheRootItself) {
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, ""), -1);
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, "\\"), -1);
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software"));
}

// A tree deeper than the working path can hold: the subkey that would not fit
// is left alone, nothing is overrun, and the key is reported as still there.
TEST_F(Registry, DeleteTreeTooDeepForItsPathStopsWithoutOverrun) {
    std::string name(200, 'k');
    std::string deep = std::string(scratch) + "\\Deep";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, deep.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    for (int level = 0; level < 3; ++level) { // one level at a time: about 640 characters in all
        HKEY child;
        std::string part = name + static_cast<char>('0' + level);
        ASSERT_EQ(RegCreateKeyExA(key, part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        key = child;
    }
    RegCloseKey(key);
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, deep.c_str()), -1);
    EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, deep)); // the deepest key was not reached
    std::string tooLong(600, 'x');
    EXPECT_EQ(RegistryDeleteKeyTree(HKEY_CURRENT_USER, tooLong.c_str()), -1);

    // Removed through relative handles, from the bottom up: its full path is
    // too long for the usual clean-up.
    for (int level = 2; level >= 0; --level) {
        HKEY parent;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, deep.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
        for (int step = 0; step < level; ++step) {
            HKEY child;
            std::string part = name + static_cast<char>('0' + step);
            ASSERT_EQ(RegOpenKeyExA(parent, part.c_str(), 0, KEY_ALL_ACCESS, &child), ERROR_SUCCESS);
            RegCloseKey(parent);
            parent = child;
        }
        EXPECT_EQ(RegDeleteKeyA(parent, (name + static_cast<char>('0' + level)).c_str()), ERROR_SUCCESS);
        RegCloseKey(parent);
    }
}

TEST_F(Registry, EnvironmentValueDeletedOnceThenReportedMissing) {
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, "Environment", "KIVO_TEST_VAR", "x"));
    EXPECT_EQ(RegistryDeleteEnvironmentValue("KIVO_TEST_VAR", false), 0);
    EXPECT_FALSE(bench::RegValueExists(HKEY_CURRENT_USER, "Environment", "KIVO_TEST_VAR"));
    EXPECT_EQ(RegistryDeleteEnvironmentValue("KIVO_TEST_VAR", false), 1);

    const char* machine = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
    ASSERT_TRUE(bench::RegSetString(HKEY_LOCAL_MACHINE, machine, "REVERIRA", "C:\\Apps", REG_EXPAND_SZ));
    EXPECT_EQ(RegistryDeleteEnvironmentValue("REVERIRA", true), 0);
    EXPECT_FALSE(bench::RegValueExists(HKEY_LOCAL_MACHINE, machine, "REVERIRA"));
}

// Below any root: a missing key or value is told apart from a deletion that
// failed (a key opened by a handle that has no right to it).
TEST_F(Registry, DeleteValueTellsAbsentFromFailed) {
    const std::string key = std::string(scratch) + "\\Environment";
    ASSERT_TRUE(bench::RegSetString(HKEY_CURRENT_USER, key, "KIVO", "x"));
    HKEY root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch, 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(RegistryDeleteValue(root, "Environment", "KIVO"), 0);
    EXPECT_EQ(RegistryDeleteValue(root, "Environment", "KIVO"), 1);
    EXPECT_EQ(RegistryDeleteValue(root, "Missing", "KIVO"), 1);
    RegCloseKey(root);
    EXPECT_EQ(RegistryDeleteValue(reinterpret_cast<HKEY>(0x1234), "Environment", "KIVO"), -1);
}

// The running account's SID, as the profile list names the account's own
// profile: the key whose folder is USERPROFILE.
TEST_F(Registry, RunningSidNamesTheOwnProfile) {
    char sid[SID_TEXT_CAPACITY];
    ASSERT_TRUE(UserHivesRunningSid(sid));
    std::string profile;
    ASSERT_TRUE(bench::RegGetString(
        HKEY_LOCAL_MACHINE,
        std::string("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + sid,
        "ProfileImagePath", profile))
        << sid;
    char expected[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableA("USERPROFILE", expected, MAX_PATH), 0u);
    EXPECT_EQ(lstrcmpiA(profile.c_str(), expected), 0) << profile << " " << expected;
    userHivesRunningSid = "S-1-5-18";
    EXPECT_TRUE(UserHivesRunningSid(sid));
    EXPECT_STREQ(sid, "S-1-5-18");
    userHivesRunningSid = nullptr;
}
