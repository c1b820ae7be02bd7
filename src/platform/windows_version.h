// Which family of Windows the program runs on: the 9x family (95, 98, Me)
// lacks access control, links, privileges and wide file calls.
#pragma once

// True on Windows 95, 98 and Me; false on the NT family.
bool PlatformIsWindows9x();
