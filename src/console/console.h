// The second stage's console: window, output, appearance settings, and the
// busy indicator with its thread table.
#pragma once

#include <windows.h>

#include <atomic>

//--- console window
struct ConsoleState {
    HWND consoleWindow; // set last by ConsoleOpen; also messageOwner
    bool consoleOpen;   // output operations do nothing while false
    HANDLE outputHandle;
    HANDLE inputHandle;
    unsigned short columns;    // window and buffer width
    unsigned short rows;       // window height
    unsigned short bufferRows; // never less than rows
    int foreground;            // 4-bit palette index
    int background;
    int defaultBackground; // restored by ConsoleSetBackground(negative)
    bool attributeApplied; // the console already writes in the current pair
    bool presetApplied;    // born from the user's defaults, no explicit sizing
};
extern ConsoleState consoleState;

int ConsoleConfigure(unsigned columns, unsigned rows, unsigned bufferRows, unsigned foreground,
                     unsigned background);
void ConsoleOpen(HINSTANCE instance, const char* title, bool restricted);
void ConsoleSetTitle(const char* title);
void ConsoleClear(bool blank);
void ConsoleApplyAttribute();
BOOL WINAPI ConsoleControlHandler(DWORD event);

//--- console output
int ConsoleWrite(const char* text);
void ConsoleNewLine();
void ConsoleSetForeground(int colour);
void ConsoleSetBackground(int colour);
void ConsoleHighlight();
void ConsoleSetColumn(int column);
void ConsoleBlank(int count);

//--- appearance through the user's console defaults (HKCU "Console")
int ConsoleSettingsApply(unsigned columns, unsigned rows, unsigned bufferRows, unsigned foreground,
                         unsigned background);
void ConsoleSettingsRestore();

//--- thread table
typedef unsigned(__stdcall* ThreadRoutine)(void* argument);
int ThreadCreate(int index, ThreadRoutine routine, void* argument);
int ThreadStart(int index);
long ThreadWait(int index);
long ThreadExitCode(int index);
HANDLE ThreadHandle(int index);

//--- busy indicator
extern std::atomic<int> busyFlag;
// The share (0 to 100) of the step's work done, shown beside its label while
// it blinks; -1, as between steps, shows none.
extern std::atomic<int> busyProgress;
extern const char* busyLabel;
unsigned __stdcall BusyIndicatorRoutine(void* argument);
