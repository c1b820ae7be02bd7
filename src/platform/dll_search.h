// Where the program looks for the DLLs it loads by name.
#pragma once

// Restricts the search to the system folder where Windows offers that
// (Windows 8, and Vista and 7 with their security update): a DLL planted
// beside the program or in its current folder is then never loaded.
// Otherwise at least the current folder leaves the search where the system
// can do that. 1 system folder only; 0 current folder left out; -1 neither.
int DllSearchRestrict();
