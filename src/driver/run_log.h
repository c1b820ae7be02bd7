// The log of a run with /log: plain UTF-8 text, one line per event with the
// local time and the stage that wrote it. The first stage creates it, the
// copy adds to it.
#pragma once

#include <windows.h>

// Opens the file at fullPath and refuses anything but a regular file with
// that one name: a file that has other names too (a hard link), a folder, a
// device, a stream. On the NT family no link is followed anywhere on the
// path: each folder is opened from the root relative to the one before, and
// the last name relative to its folder. A log whose folder, or a folder
// above it, is heldFolder (may be null) by identity is refused before
// anything is opened or created there. Lines always go to the end: a path
// that names somebody's document loses nothing, and a log used again keeps
// every run, each from its first line to its exit code. create lets the
// first stage create a missing file; the copy's must exist. stage names the
// writer on every line. 0 opened, -1 refused or not opened.
int RunLogOpen(const char* fullPath, bool create, const char* stage, HANDLE heldFolder);
// The copy's log as the first stage passed it on: a handle, checked as
// RunLogOpen checks what it opens, and kept (closed when refused). Since the
// first stage opened it, no rename or link made since can redirect it.
int RunLogAdopt(HANDLE file, const char* stage);
// The open log's handle, to pass on to the copy; null without a log.
HANDLE RunLogHandle();
bool RunLogIsOpen();
// One line, its line breaks turned into blanks; nothing without an open log.
// A line too long for the log is replaced by a note saying so. Write
// failures are not reported: the exit code stays the run's account.
void RunLogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line of text, then folder, a backslash and relative as the file
// system spells it. False, and nothing written, when they do not fit a line.
bool RunLogWriteNamed(const char* text, const char* folder, const wchar_t* relative);
// Counts a removal that failed and logs what ("registry key") and its name.
void RunLogRemovalFailed(const char* what, const char* name);
// The same for a file or folder below folder, by its path there as the file
// system spells it; one too long for a line is named by its folder.
void RunLogRemovalFailedBelow(const char* what, const char* folder, const wchar_t* relative);
void RunLogClose();
