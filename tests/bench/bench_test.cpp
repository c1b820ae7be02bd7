// The bench itself: a real box shown by this process is found by caption,
// read and answered from another thread.
#include "bench/bench.h"

#include <gtest/gtest.h>

namespace {

struct BoxCall {
    const char* text;
    const char* caption;
    UINT style;
    int answer;
};

DWORD WINAPI ShowBox(void* parameter) {
    BoxCall* call = static_cast<BoxCall*>(parameter);
    call->answer = MessageBoxA(nullptr, call->text, call->caption, call->style);
    return 0;
}

} // namespace

TEST(Bench, FindsReadsAndAnswersABox) {
    BoxCall call = {"first line\rsecond line", "Bench caption", MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION,
                    0};
    HANDLE thread = CreateThread(nullptr, 0, ShowBox, &call, 0, nullptr);
    bench::Box box = bench::WaitBox("Bench caption", 10000, GetCurrentProcessId());
    ASSERT_TRUE(box.found());
    EXPECT_EQ(box.text, "first line\rsecond line");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(bench::DefaultButton(box), IDNO);
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_TRUE(bench::Press(box, IDYES));
    EXPECT_TRUE(bench::WaitBoxGone(box));
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    EXPECT_EQ(call.answer, IDYES);
}

TEST(Bench, FilesAndRegistryRoundTrip) {
    ASSERT_TRUE(bench::MakeFolders("C:\\benchtest\\a\\b"));
    ASSERT_TRUE(bench::WriteFileBytes("C:\\benchtest\\a\\b\\f.txt", std::string("x\0y", 3)));
    std::string bytes;
    ASSERT_TRUE(bench::ReadFileBytes("C:\\benchtest\\a\\b\\f.txt", bytes));
    EXPECT_EQ(bytes, std::string("x\0y", 3));
    EXPECT_EQ(bench::ListTree("C:\\benchtest"), (std::vector<std::string>{"a\\", "a\\b\\", "a\\b\\f.txt"}));
    SetFileAttributesA("C:\\benchtest\\a\\b\\f.txt", FILE_ATTRIBUTE_READONLY);
    bench::RemoveTree("C:\\benchtest");
    EXPECT_FALSE(bench::Exists("C:\\benchtest"));

    ASSERT_TRUE(bench::RegSetDword(HKEY_CURRENT_USER, "Software\\BenchTest\\Deep", "v", 7));
    DWORD value = 0;
    EXPECT_TRUE(bench::RegGetDword(HKEY_CURRENT_USER, "Software\\BenchTest\\Deep", "v", value));
    EXPECT_EQ(value, 7u);
    bench::RegDeleteTree(HKEY_CURRENT_USER, "Software\\BenchTest");
    EXPECT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\BenchTest"));
}

TEST(Bench, PrefixHasNoPathToTheHostRoot) {
    EXPECT_EQ(GetFileAttributesA("Z:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("Z:\\etc\\passwd"), INVALID_FILE_ATTRIBUTES);
}
