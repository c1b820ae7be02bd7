// The start-up batch file's line editor: plain byte-string work, no system
// calls, so that it can be built natively and fuzzed.
#pragma once

#include <cstddef>

//--- finding and removing a variable's "set" line
// Finds the first line that names the variable ("set " and the name, byte for
// byte, anywhere in the line's examined text). On success start is the line's
// first byte and end the offset behind its line feed (or the text's end).
bool AutoexecFindLine(const char* text, size_t size, const char* name, size_t* start, size_t* end);
// Cuts [start, end) out of text in place; returns the new size.
size_t AutoexecCutLine(char* text, size_t size, size_t start, size_t end);
// Fills text[edited, size) with what a batch file runs as nothing: the last
// line's end when the edited text has none, then blanks on a line of their
// own (never behind a "set" line, whose value they would change). Written in
// one piece over the old text and only then cut to the edited size, the file
// runs as the old or the new one whenever the edit is stopped.
void AutoexecPad(char* text, size_t edited, size_t size);
