// The command line that hands the copy's file to the command interpreter for
// deletion. Plain C++ without windows.h.
#pragma once

// The interpreter's path, one blank and the retrying command for the longest path.
constexpr int DELETE_COMMAND_CAPACITY = 260 + 1 + 400;
// Attempts of the retrying command, about one second apart.
constexpr int DELETE_ATTEMPTS = 30;

// True when the interpreter named by comspec is cmd.exe, which can loop.
bool InterpreterCanRetry(const char* comspec);
// comspec, one blank and the interpreter's arguments that delete
// folder\fileName; where the interpreter can loop, the command repeats the
// deletion until the file is gone. 0 written, -1 refused.
int DeleteCommandFormat(char* out, int capacity, const char* comspec, const char* folder,
                        const char* fileName);
