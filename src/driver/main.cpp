#include "driver/stages.h"
#include "platform/dll_search.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int) {
    // Before anything could load a DLL by name: both stages run elevated.
    DllSearchRestrict();
    return UninstallerMain(instance, argumentText);
}
