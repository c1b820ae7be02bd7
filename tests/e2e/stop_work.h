// What the stop test shares with the run it stops (stopped_run.exe, the
// program's own code with seams that count the work done).
#pragma once

#include <windows.h>

namespace e2e {

constexpr const char* STOP_WORK_NAME = "kivo-stop-work"; // a file mapping the test creates

// The phases whose beginning the copy records: the steps (1 Shortcuts to 6
// Ended), the archive's first progress report, the archive written, verified.
enum StopPhase : int {
    PHASE_FILES = 5,
    PHASE_ENDED = 6,
    PHASE_ARCHIVING = 7,
    PHASE_WRITTEN = 8,
    PHASE_VERIFIED = 9
};
constexpr int PHASES = 10;

// The units of work done and the units done when each phase began; the copy
// is ended, with stopCode, at unit stopAt (0 never), or stopOffset units after stopPhase
// began, when that is set (offset 1: at the unit that begins it).
struct StopWork {
    LONG done;
    LONG stopAt;
    UINT stopCode; // the exit code the copy is ended with
    LONG stopPhase;
    LONG stopOffset;
    LONG stepsBegun;
    LONG phaseAt[PHASES];
};

} // namespace e2e
