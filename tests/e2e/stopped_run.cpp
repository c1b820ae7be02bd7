// The program as shipped, with seams that count the copy's work and end it by
// TerminateProcess at the unit the stop test asks for: nothing of it is
// cleaned up, as after a kill or a power cut. The first stage runs unchanged.
#include "driver/files_step.h"
#include "driver/stages.h"
#include "driver/switches.h"
#include "e2e/stop_work.h"
#include "platform/handle_walk.h"

#include <windows.h>

namespace {

e2e::StopWork* work = nullptr;

void Unit() {
    if (InterlockedIncrement(&work->done) == work->stopAt)
        TerminateProcess(GetCurrentProcess(), work->stopCode);
}

void OnWalk(int, const wchar_t*, size_t) {
    Unit();
}

void Begin(int phase) {
    work->phaseAt[phase] = work->done;
    if (phase == work->stopPhase) work->stopAt = work->done + work->stopOffset;
}

void OnWork(int point) {
    if (point == WORK_SEAM_STEP) {
        const LONG step = InterlockedIncrement(&work->stepsBegun);
        if (step <= e2e::PHASE_ENDED) Begin(step);
    }
    if (point == WORK_SEAM_ARCHIVED && work->phaseAt[e2e::PHASE_ARCHIVING] == 0) Begin(e2e::PHASE_ARCHIVING);
    Unit();
}

void OnWritten(const char*, HANDLE) {
    Begin(e2e::PHASE_WRITTEN);
    Unit();
}

void OnVerified(const char*, HANDLE) {
    Begin(e2e::PHASE_VERIFIED);
    Unit();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int) {
    HANDLE shared = OpenFileMappingA(FILE_MAP_WRITE, FALSE, e2e::STOP_WORK_NAME);
    if (shared != nullptr)
        work =
            static_cast<e2e::StopWork*>(MapViewOfFile(shared, FILE_MAP_WRITE, 0, 0, sizeof(e2e::StopWork)));
    if (work == nullptr) return 98;
    if (ArgumentKindOf(argumentText) == ARGUMENT_RELAUNCH) {
        handleWalkSeam = OnWalk;
        workSeam = OnWork;
        archiveWrittenHook = OnWritten;
        archiveVerifiedHook = OnVerified;
    }
    return UninstallerMain(instance, argumentText);
}
