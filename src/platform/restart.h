// System restart with the shutdown privilege.
#pragma once

#include <windows.h>

// Non-zero on success (-1 on Windows 9x, where nothing is done); 0 on failure.
int SetProcessPrivilege(const char* name, bool enable);
// 0 accepted; -1 ExitWindowsEx failed; -2 the privilege could not be enabled.
int RestartSystem(UINT flags);
