// Real message boxes shown by ShowMessage on a second thread, found, read and
// answered by the bench on this one.
#include "driver/message_box.h"

#include "bench/bench.h"
#include "driver/stages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct BoxCall {
    int buttons;
    int icon;
    int defaultAnswer;
    bool owned;
    HWND owner = nullptr;
    int answer = -1;
};

// An owner window must live on the thread that shows the box: the box
// disables it, which a thread that pumps no messages would never answer.
DWORD WINAPI ShowOnThread(void* parameter) {
    BoxCall* call = static_cast<BoxCall*>(parameter);
    if (call->owned) {
        call->owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
        messageOwner = call->owner;
    }
    call->answer =
        ShowMessage(call->buttons, call->icon, call->defaultAnswer, "line one\rline two", "ShowMessage test");
    if (call->owned) {
        messageOwner = nullptr;
        DestroyWindow(call->owner);
    }
    return 0;
}

// Shows the box, checks its buttons and default, presses one; returns the answer.
int Answer(int buttons, int defaultAnswer, size_t buttonCount, int defaultId, int pressId,
           bool owned = false) {
    BoxCall call = {buttons, 1, defaultAnswer, owned};
    EXPECT_TRUE(bench::AnswerOwnBox(ShowOnThread, &call, "ShowMessage test", 10000, 10000,
                                    [&](const bench::Box& box) {
                                        EXPECT_EQ(box.text, "line one\rline two");
                                        EXPECT_EQ(box.owner, call.owner);
                                        EXPECT_EQ(box.owner != nullptr, owned);
                                        EXPECT_EQ(box.buttons.size(), buttonCount);
                                        EXPECT_EQ(bench::DefaultButton(box), defaultId);
                                        EXPECT_TRUE(bench::Press(box, pressId));
                                    }));
    return call.answer;
}

// The icon a box shows: the image of its visible icon control, or none.
BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    char kind[16] = "";
    GetClassNameA(child, kind, sizeof kind);
    if (lstrcmpiA(kind, "Static") != 0 || !IsWindowVisible(child) ||
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        return TRUE;
    *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    return FALSE;
}

// Shows an OK box with this icon code; returns the icon it showed.
HICON ShownIcon(int icon) {
    BoxCall call = {0, icon, 0, false};
    HICON shown = nullptr;
    EXPECT_TRUE(bench::AnswerOwnBox(
        ShowOnThread, &call, "ShowMessage test", 10000, 10000, [&](const bench::Box& box) {
            EnumChildWindows(box.window, FindIcon, reinterpret_cast<LPARAM>(&shown));
            EXPECT_TRUE(bench::Press(box, IDOK));
        }));
    return shown;
}

} // namespace

TEST(ShowMessage, YesNoBoxesTakeTheirDefaultFromTheAnswerCode) {
    EXPECT_EQ(Answer(3, 1, 2, IDYES, IDYES), 1);
    EXPECT_EQ(Answer(3, 0, 2, IDYES, IDNO), 2); // 0 is no answer of this set: the first button
    EXPECT_EQ(Answer(3, 2, 2, IDNO, IDNO), 2);
    EXPECT_EQ(Answer(4, 2, 3, IDNO, IDCANCEL), 0);
    EXPECT_EQ(Answer(4, 0, 3, IDCANCEL, IDNO), 2);
    EXPECT_EQ(Answer(4, 1, 3, IDYES, IDYES), 1);
}

TEST(ShowMessage, OtherButtonSetsFoldTheirAnswers) {
    EXPECT_EQ(Answer(1, 0, 2, IDCANCEL, IDOK), 1);
    EXPECT_EQ(Answer(1, 1, 2, IDOK, IDCANCEL), 0);
    EXPECT_EQ(Answer(2, 0, 2, IDCANCEL, IDRETRY), 1);
    EXPECT_EQ(Answer(2, 5, 2, IDRETRY, IDCANCEL), 0);
    EXPECT_EQ(Answer(5, 0, 3, IDIGNORE, IDABORT), 2);
    EXPECT_EQ(Answer(5, 1, 3, IDRETRY, IDIGNORE), 0);
    EXPECT_EQ(Answer(5, 7, 3, IDABORT, IDRETRY), 1);
}

TEST(ShowMessage, AnyOtherButtonSetIsASingleOk) {
    EXPECT_EQ(Answer(7, 2, 1, IDOK, IDOK), 1);
    EXPECT_EQ(Answer(0, 0, 1, IDOK, IDOK), 1);
    EXPECT_EQ(Answer(-1, 0, 1, IDOK, IDOK), 1);
}

// The system's icons are shared, so the box shows the very handle LoadIcon gives.
TEST(ShowMessage, EachIconCodeShowsItsIcon) {
    EXPECT_EQ(ShownIcon(1), LoadIconA(nullptr, IDI_HAND));
    EXPECT_EQ(ShownIcon(2), LoadIconA(nullptr, IDI_QUESTION));
    EXPECT_EQ(ShownIcon(3), LoadIconA(nullptr, IDI_EXCLAMATION));
    EXPECT_EQ(ShownIcon(4), LoadIconA(nullptr, IDI_ASTERISK));
    EXPECT_EQ(ShownIcon(0), nullptr);
    EXPECT_EQ(ShownIcon(5), nullptr);
}

TEST(ShowMessage, BoxesBelongToTheOwnerOnceThereIsOne) {
    EXPECT_EQ(Answer(0, 0, 1, IDOK, IDOK, true), 1);
}

TEST(ShowMessage, ABoxThatCannotBeShownAnswersTwo) {
    messageOwner = reinterpret_cast<HWND>(0x7FFF0); // no such window
    EXPECT_EQ(ShowMessage(3, 2, 1, "never shown", "ShowMessage failure"), 2);
    messageOwner = nullptr;
}

TEST(ChooseLanguage, FollowsTheUserLanguageOfThisRun) {
    char locale[64] = "";
    GetEnvironmentVariableA("KIVO_LANG", locale, sizeof locale);
    std::string name = locale;
    int expected = name.rfind("fr", 0) == 0 ? 1 : name.rfind("es", 0) == 0 ? 3 : 2;
    EXPECT_EQ(ChooseLanguage(), expected) << name;
}
