// The busy indicator: while the main thread works on a step, a worker blinks
// the step's label on a line of its own; once busyFlag is cleared it draws
// the label one last time in the normal colours and ends.
#include "console/console.h"

std::atomic<int> busyFlag{0};
const char* busyLabel = "";

namespace {

enum BlinkPhase { BLINK_DIMMED = 0, BLINK_HIGHLIGHTED = 1 };
enum Colour { COLOUR_BLACK = 0, COLOUR_LIGHT_RED = 12, COLOUR_YELLOW = 14 };
const DWORD CYCLE_MS = 500;

int blinkPhase = BLINK_DIMMED;

// Column 0 keeps a blank cell; the label starts at column 1.
void ReturnToLabelColumn() {
    ConsoleWrite("\r ");
}

} // namespace

// The flag is read only after a cycle's sleep, so every step shows at least
// one highlighted cycle even when its work ended before the worker began.
unsigned __stdcall BusyIndicatorRoutine(void*) {
    ConsoleNewLine();
    blinkPhase = BLINK_DIMMED;
    do {
        blinkPhase = blinkPhase == BLINK_HIGHLIGHTED ? BLINK_DIMMED : BLINK_HIGHLIGHTED;
        ReturnToLabelColumn();
        if (blinkPhase == BLINK_HIGHLIGHTED)
            ConsoleHighlight();
        else
            ConsoleSetForeground(COLOUR_LIGHT_RED);
        ConsoleWrite(busyLabel);
        if (blinkPhase == BLINK_HIGHLIGHTED) ConsoleSetBackground(COLOUR_YELLOW);
        Sleep(CYCLE_MS);
    } while (busyFlag.load() != 0);
    ConsoleSetForeground(COLOUR_BLACK);
    ReturnToLabelColumn();
    ConsoleWrite(busyLabel);
    return 0;
}
