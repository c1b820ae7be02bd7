#include "platform/windows_version.h"

#include <windows.h>

// GetVersion sets its top bit on the 9x family only; it exists on every
// Windows, unlike the later version calls.
bool PlatformIsWindows9x() {
    return (GetVersion() & 0x80000000u) != 0;
}
