// What the stop test shares with the run it stops (stopped_run.exe, the
// program's own code with seams that count the work done).
#pragma once

#include <windows.h>

namespace e2e {

constexpr const char* STOP_WORK_NAME = "kivo-stop-work"; // a file mapping the test creates
constexpr UINT STOPPED = 99;                             // the stopped copy's exit code

// The units of work done, the unit at which the copy is ended (0 never), and
// the units done when each phase began: each step (1 Shortcuts to 6 Ended),
// the archive's first progress report, its end, its verification's end.
struct StopWork {
    LONG done;
    LONG stopAt;
    LONG stepsBegun;
    LONG stepAt[8];
    LONG archivingAt;
    LONG writtenAt;
    LONG verifiedAt;
};

} // namespace e2e
