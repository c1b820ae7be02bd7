// The first stage's switches for unattended runs (/S, /quiet, /norestart,
// /log), how an argument text selects a stage, and the environment value
// through which the copy learns the switches. Plain C++ without windows.h.
#pragma once

#include "driver/driver_state.h"

//--- stage selection
enum ArgumentKind {
    ARGUMENT_FIRST_STAGE, // empty, blank, or short and no switch: the first stage as always
    ARGUMENT_SWITCHES,    // the first token begins with "/": the first stage with switches
    ARGUMENT_RELAUNCH     // anything else: the copy's relaunch argument, checked as always
};
ArgumentKind ArgumentKindOf(const char* argumentText);

//--- switches
struct RunSwitches {
    bool quiet;                  // /S or /quiet
    bool noRestart;              // /norestart
    char logPath[PATH_CAPACITY]; // as given (first stage) or full (copy); empty without /log
};

enum SwitchCheck {
    SWITCHES_OK = 0,
    SWITCHES_UNKNOWN,          // a token that is no switch, or a value after a switch that takes none
    SWITCHES_REPEATED,         // one switch twice (/S and /quiet are one switch)
    SWITCHES_LOG_WITHOUT_PATH, // /log at the end, /log=, or /log followed by another switch
    SWITCHES_PATH_TOO_LONG,    // the log path does not fit PATH_CAPACITY
    SWITCHES_OPEN_QUOTE,       // a double quote that is never closed
    SWITCHES_TOO_LONG          // the text does not fit COMMAND_LINE_CAPACITY
};

// Names compare without regard to case; "/log=PATH" and "/log PATH" are one
// form, a path with blanks in double quotes. out->quiet is set whenever /S
// or /quiet appears anywhere, also in a text that is refused, so that the
// refusal itself stays quiet.
SwitchCheck SwitchesParse(const char* text, RunSwitches* out);

//--- the copy's environment value
// The variable the first stage sets (or removes) for the copy.
extern const char* const unattendedVariable; // "KIVO_UNATTENDED"
// quiet digit, restart digit, "|", full log path or nothing: "10|C:\logs\kivo.txt".
constexpr int UNATTENDED_VALUE_CAPACITY = 3 + PATH_CAPACITY;
// false (out empty) when it does not fit or the log path is not plain.
bool UnattendedValueFormat(const RunSwitches& switches, char* out, int capacity);
// false for anything but the exact form above.
bool UnattendedValueParse(const char* value, RunSwitches* out);

//--- log path
// True for a full path to a file on a drive (C:\logs\kivo.txt) or a share
// (\\server\share\kivo.txt); false for device paths (\\.\, \\?\), names of
// devices (NUL, CON, COM1, ...), folders (a trailing backslash) and the rest.
bool LogPathIsPlain(const char* fullPath);
