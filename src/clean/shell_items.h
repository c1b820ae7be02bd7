// The shell's namespace as the cleaning operations use it: where its known
// folders are, and the commands its context menus offer on a file.
#pragma once

// The path of a known folder (CSIDL_*) into a 260-byte buffer; false when
// the shell does not know it (an empty text then).
bool ShellFolderPath(int csidl, char* path);
// Runs the command that the file's context menu offers under the
// language-neutral name verb (such as "taskbarunpin"), without any window.
// 1 when the shell offered it and it ran, 0 otherwise. Needs COM.
int ShellItemInvokeVerb(const char* path, const char* verb);
