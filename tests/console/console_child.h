// The console tests run the console code in child processes of their own:
// each child starts with fresh process-wide state and a console it allocates
// itself, does one scenario and writes what it read back into a report.
#pragma once

#include <windows.h>

#include <map>
#include <string>

typedef std::map<std::string, std::string> Report;

// Runs "<this program> --child <scenario>" and reads its report; false when
// the child did not end within the time-out or wrote no report.
bool RunChild(const std::string& scenario, Report& report);
// Entry of a child process; returns its exit code.
int ChildMain(const std::string& scenario, const std::string& reportPath);

//--- HKCU "Console", as the tests see it
// Every value under the key as "name=type:hex data;" in name order; "" when the key is absent.
std::string ConsoleKeySnapshot();
void ConsoleKeySet(const char* name, DWORD value);
void ConsoleKeyReset(); // deletes the key with all its values
