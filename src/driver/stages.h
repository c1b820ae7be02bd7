// Entry, first stage and second stage of the program.
#pragma once

#include <windows.h>

//--- entry and first stage
// Runs the whole program for the given argument text; returns the exit code.
int UninstallerMain(HINSTANCE instance, const char* argumentText);
// 0 found, -1 not. Both outputs have 260 bytes.
int FindOwnPath(char* folderOut, char* fileNameOut);
// 0 a program folder holding KIVO.EXE was found (in out, 260 bytes), -1 not.
int FindInstallFolder(char* out);
// The language chosen from the user's default language.
int ChooseLanguage();

//--- second stage
int RunSecondStage(HINSTANCE instance);
int IsWindowsNT();     // -1 NT family, 0 Windows 9x
int IsAdministrator(); // -1 yes, 0 no
int DeleteOwnCopy();   // does not return on success; -1 otherwise
void ReleaseCom();

//--- uninstall sequence
void RunUninstallSequence(const char* shortcutFolder, const char* dataFolder, int removeUserSettings);
