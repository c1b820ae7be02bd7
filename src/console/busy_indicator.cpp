// The busy indicator: while the main thread works on a step, a worker blinks
// the step's label on a line of its own, with the share of the step's work
// done beside it when the step tells it; once busyFlag is cleared it draws
// the label one last time in the normal colours and ends.
#include "console/console.h"

#include <cstdio>
#include <cstring>

std::atomic<int> busyFlag{0};
std::atomic<int> busyProgress{-1};
const char* busyLabel = "";

namespace {

enum BlinkPhase { BLINK_DIMMED = 0, BLINK_HIGHLIGHTED = 1 };
enum Colour { COLOUR_BLACK = 0, COLOUR_LIGHT_RED = 12, COLOUR_YELLOW = 14 };
const DWORD CYCLE_MS = 500;
// The share done is looked at this many times per cycle, so that it moves
// a few times a second.
const DWORD SLICES = 4;
// " 100 %": every share takes this many cells, so a new one covers the last.
const int PROGRESS_WIDTH = 6;

int blinkPhase = BLINK_DIMMED;

// Column 0 keeps a blank cell; the label starts at column 1.
void ReturnToLabelColumn() {
    ConsoleWrite("\r ");
}

// Black on yellow behind the label, whatever phase the label shows.
void DrawProgress(int percent) {
    char text[PROGRESS_WIDTH + 1];
    std::snprintf(text, sizeof text, " %3d %%", percent > 100 ? 100 : percent);
    ConsoleSetColumn(1 + static_cast<int>(std::strlen(busyLabel)));
    ConsoleSetForeground(COLOUR_BLACK);
    ConsoleSetBackground(COLOUR_YELLOW);
    ConsoleWrite(text);
}

} // namespace

// The flag is read only after a whole first cycle, so every step shows at
// least one highlighted cycle even when its work ended before the worker
// began; after that at every slice, so that the person waits at most a slice,
// not the rest of a cycle, for the step's end.
unsigned __stdcall BusyIndicatorRoutine(void*) {
    ConsoleNewLine();
    blinkPhase = BLINK_DIMMED;
    int shown = -1;
    bool firstCycle = true;
    do {
        blinkPhase = blinkPhase == BLINK_HIGHLIGHTED ? BLINK_DIMMED : BLINK_HIGHLIGHTED;
        ReturnToLabelColumn();
        if (blinkPhase == BLINK_HIGHLIGHTED)
            ConsoleHighlight();
        else
            ConsoleSetForeground(COLOUR_LIGHT_RED);
        ConsoleWrite(busyLabel);
        if (blinkPhase == BLINK_HIGHLIGHTED) ConsoleSetBackground(COLOUR_YELLOW);
        for (DWORD slice = 0; slice < SLICES; ++slice) {
            const int percent = busyProgress.load();
            if (percent >= 0 && percent != shown) {
                DrawProgress(percent);
                shown = percent;
            }
            Sleep(CYCLE_MS / SLICES);
            if (!firstCycle && busyFlag.load() == 0) break;
        }
        firstCycle = false;
    } while (busyFlag.load() != 0);
    ConsoleSetForeground(COLOUR_BLACK);
    ReturnToLabelColumn();
    ConsoleWrite(busyLabel);
    if (shown >= 0) ConsoleBlank(PROGRESS_WIDTH);
    return 0;
}
