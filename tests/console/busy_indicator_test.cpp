// The thread table's results and the busy protocol as the sequence drives it.
#include "console_child.h"

#include "console/console.h"
#include "driver/catalogue.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::atomic<int> runs{0};

unsigned __stdcall CountRun(void* result) {
    ++runs;
    return *static_cast<unsigned*>(result);
}

TEST(ThreadTable, EmptyAndOutOfRangeSlotsAreRefused) {
    unsigned result = 0;
    EXPECT_EQ(-1, ThreadCreate(0, CountRun, &result));
    EXPECT_EQ(-1, ThreadCreate(4, CountRun, &result));
    EXPECT_EQ(-1, ThreadCreate(-1, CountRun, &result));
    EXPECT_EQ(-1, ThreadStart(0));
    EXPECT_EQ(-1, ThreadStart(2));
    EXPECT_EQ(0, ThreadWait(2));
    EXPECT_EQ(0, ThreadWait(0));
    EXPECT_EQ(-1, ThreadExitCode(0)); // the main thread runs
    EXPECT_EQ(0, ThreadExitCode(9));
    EXPECT_EQ(nullptr, ThreadHandle(0));
}

TEST(ThreadTable, SlotIsCreatedSuspendedStartedWaitedAndRecreated) {
    unsigned seven = 7, other = 8;
    runs = 0;
    ASSERT_EQ(0, ThreadCreate(2, CountRun, &seven));
    HANDLE first = ThreadHandle(2);
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(-1, ThreadExitCode(2));
    EXPECT_EQ(1, ThreadCreate(2, CountRun, &other)); // still running: unchanged
    EXPECT_EQ(first, ThreadHandle(2));
    EXPECT_EQ(0, runs.load());
    EXPECT_EQ(0, ThreadStart(2));
    EXPECT_EQ(7, ThreadWait(2));
    EXPECT_EQ(7, ThreadExitCode(2));
    EXPECT_EQ(0, ThreadStart(2)); // ended: made anew from the same routine and argument
    EXPECT_EQ(7, ThreadWait(2));
    EXPECT_EQ(2, runs.load());
}

// A thread that ended with the code STILL_ACTIVE has still ended.
TEST(ThreadTable, ThreadEndingWithStillActiveCanBeRestarted) {
    unsigned stillActive = STILL_ACTIVE;
    runs = 0;
    ASSERT_EQ(0, ThreadCreate(3, CountRun, &stillActive));
    EXPECT_EQ(0, ThreadStart(3));
    EXPECT_EQ(static_cast<long>(STILL_ACTIVE), ThreadWait(3));
    EXPECT_EQ(0, ThreadStart(3));
    ThreadWait(3);
    EXPECT_EQ(2, runs.load());
}

// With no room left for a thread stack, creation reports -2, a finished
// slot cannot be restarted (-1) and waiting on the emptied slot returns at once.
TEST(ThreadTable, ThreadCreationFailureLeavesTheSlotEmpty) {
    if (sizeof(void*) == 8)
        GTEST_SKIP() << "only a 32-bit address space can be filled until no thread stack fits; "
                        "the 32-bit flavour runs this test";
    Report report;
    ASSERT_TRUE(RunChild("threads-exhausted", report));
    EXPECT_EQ("-2 -1 0 -1", report["exhausted"]);
    EXPECT_EQ("0", report["recovered"]);
}

// Without a console the worker draws nothing but keeps its rhythm. After
// its first cycle it ends within a slice of the flag being cleared, not at
// the end of the cycle (1,000 ms here).
TEST(BusyIndicator, FlagClearedBeforeTheWorkerBeginsStillGivesOneCycle) {
    ASSERT_EQ(0, ThreadCreate(1, BusyIndicatorRoutine, nullptr));
    busyLabel = "Files";
    busyFlag = 1;
    DWORD start = GetTickCount();
    EXPECT_EQ(0, ThreadStart(1));
    busyFlag = 0;
    EXPECT_EQ(0, ThreadWait(1));
    EXPECT_GE(GetTickCount() - start, 490u);

    busyFlag = 1;
    start = GetTickCount();
    EXPECT_EQ(0, ThreadStart(1));
    Sleep(600);
    busyFlag = 0;
    EXPECT_EQ(0, ThreadWait(1));
    EXPECT_LT(GetTickCount() - start, 950u);
}

// Each label on a line of its own behind one blank cell, drawn black on
// yellow at the end; every step shows at least one highlighted cycle. While
// it blinks, a label is white on light red or light red on yellow, and the
// blank before it stays yellow whatever colour the text would have. A step
// that tells how far it is shows the share beside its label while it works,
// and nothing of it once it has ended.
TEST(BusyIndicator, StepsLeaveTheirLabelsLineByLine) {
    ConsoleKeyReset();
    Report report;
    ASSERT_TRUE(RunChild("busy", report));
    EXPECT_EQ("0", report["create"]);
    const unsigned minimumMs[] = {490, 1290, 490, 690, 490, 490};
    const int minimumHighlighted[] = {1, 2, 1, 1, 1, 1};
    const int minimumDimmed[] = {0, 1, 0, 1, 0, 0};
    for (int step = 0; step < 6; ++step) {
        std::istringstream fields(report["step" + std::to_string(step)]);
        int started = -9, waited = -9;
        unsigned elapsed = 0;
        fields >> started >> waited >> elapsed;
        std::string row = std::to_string(step + 1);
        std::istringstream phases(report["phases" + row]);
        int highlighted = -1, dimmed = -1;
        phases >> highlighted >> dimmed;
        EXPECT_EQ(0, started) << step;
        EXPECT_EQ(0, waited) << step;
        EXPECT_GE(elapsed, minimumMs[step]) << step;
        EXPECT_GE(highlighted, minimumHighlighted[step]) << step;
        EXPECT_GE(dimmed, minimumDimmed[step]) << step;
        EXPECT_EQ(minimumDimmed[step] > 0 ? "CF E0 EC " : "CF E0 ", report["labelSeen" + row]) << step;
        std::istringstream blanks(report["blankSeen" + row]);
        for (std::string attribute; blanks >> attribute;)
            EXPECT_TRUE(attribute.size() == 2 && attribute[0] == 'E') << step << ": " << attribute;
        char label[64];
        CharToOemA(CatalogueText(static_cast<MessageName>(MSG_LABEL_SHORTCUTS + step), 1), label);
        std::string text = std::string(" ") + label;
        EXPECT_EQ(text + std::string(60 - text.size(), ' '), report["text" + std::to_string(step + 1)]);
    }
    char told[64];
    CharToOemA(CatalogueText(MSG_LABEL_ASSOCIATIONS, 1), told);
    const std::string toldRow = std::string(" ") + told;
    for (const char* percent : {"7", "42"}) {
        const std::string shown = toldRow + (percent[1] ? "  " : "   ") + percent + " %";
        EXPECT_EQ(shown + std::string(60 - shown.size(), ' '), report[std::string("progress") + percent]);
    }
    for (int row = 0; row < 12; ++row) {
        if (row == 0 || row > 6) {
            EXPECT_EQ(std::string(60, ' '), report["text" + std::to_string(row)]);
        }
        std::string attributes;
        for (int i = 0; i < 60; ++i)
            attributes += "E0";
        EXPECT_EQ(attributes, report["attr" + std::to_string(row)]) << row;
    }
    // The cursor rests behind the last label, on its line.
    size_t ended = std::string(CatalogueText(MSG_LABEL_ENDED, 1)).size();
    EXPECT_EQ(std::to_string(1 + ended) + ",6", report["cursor"]);
}

} // namespace
