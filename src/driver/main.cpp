#include "driver/stages.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int) {
    return UninstallerMain(instance, argumentText);
}
