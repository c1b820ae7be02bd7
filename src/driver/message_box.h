// The one routine through which the program shows its message boxes.
#pragma once

#include <windows.h>

// Owner of every box ShowMessage shows; none until the console exists.
extern HWND messageOwner;

// buttons: 1 OK/Cancel, 2 Retry/Cancel, 3 Yes/No, 4 Yes/No/Cancel,
// 5 Abort/Retry/Ignore, anything else OK. icon: 1 stop, 2 question,
// 3 exclamation, 4 information. Answers 1 (OK, Retry, Yes), 0 (Cancel,
// Ignore), 2 (Abort, No, failure).
int ShowMessage(int buttons, int icon, int defaultAnswer, const char* text, const char* caption);
