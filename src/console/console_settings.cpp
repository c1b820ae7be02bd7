// The console's appearance through the user's console defaults: a console
// takes its size, colours and palette from HKCU "Console" when it is made, so
// the program writes its own values there just before AllocConsole and puts
// the user's back right after.
#include "console/console.h"

#include "platform/registry.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

const char CONSOLE_KEY[] = "Console";
const char* const BASE_NAMES[4] = {"WindowSize", "ScreenBufferSize", "ScreenColors", "FullScreen"};

typedef std::array<DWORD, 4> BaseValues;
typedef std::array<DWORD, 16> Palette;

// 80 x 25 window, 80 x 300 buffer, colour 7 on 0, windowed.
const BaseValues fallbackBase = {0x00190050, 0x012C0050, 7, 0};
const Palette standardPalette = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                 0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
const Palette ownPalette = {0x000000, 0xA00000, 0x00A000, 0xA0A000, 0x0000C0, 0xA000C0, 0x00A0C0, 0xD0D0C0,
                            0xA0A0A0, 0xFFA0A0, 0x80FF80, 0xFFFF80, 0x4040FF, 0xFF80FF, 0x80FFFF, 0xFFFFFF};

BaseValues savedBase = fallbackBase;
Palette savedPalette = standardPalette;
bool baseSaved = false;
bool paletteSaved = false;
bool restorePending = false;

// "ColorTable00" to "ColorTable15"; the buffer holds exactly such a name.
void PaletteName(int index, char (&name)[13]) {
    std::snprintf(name, sizeof name, "ColorTable%02d", index);
}

bool IsDwordValue(const char* name) {
    DWORD size = 0;
    return RegistryReadValue(HKEY_CURRENT_USER, CONSOLE_KEY, name, nullptr, &size) == REG_DWORD;
}

// A value counts as read only when it is a REG_DWORD with all four bytes.
bool ReadDword(const char* name, DWORD& value) {
    void* data = nullptr;
    DWORD size = 0;
    int type = RegistryReadValue(HKEY_CURRENT_USER, CONSOLE_KEY, name, &data, &size);
    bool ok = type == REG_DWORD && data != nullptr && size >= sizeof(DWORD);
    if (ok) value = *static_cast<const DWORD*>(data);
    std::free(data);
    return ok;
}

void WriteDword(const char* name, DWORD value) {
    RegistryWriteValue(HKEY_CURRENT_USER, CONSOLE_KEY, name, REG_DWORD, &value, 0, false);
}

// All four or nothing: a partial save would leave values that Restore could
// not put back.
bool SaveBase() {
    BaseValues values;
    for (int i = 0; i < 4; ++i)
        if (!ReadDword(BASE_NAMES[i], values[i])) return false;
    savedBase = values;
    return true;
}

bool SavePalette() {
    Palette values;
    char name[13];
    for (int i = 0; i < 16; ++i) {
        PaletteName(i, name);
        if (!ReadDword(name, values[i])) return false;
    }
    savedPalette = values;
    return true;
}

void WritePalette(const Palette& palette) {
    char name[13];
    for (int i = 0; i < 16; ++i) {
        PaletteName(i, name);
        WriteDword(name, palette[i]);
    }
}

// The user's own defaults have an 80-column window and a buffer taller than
// it; anything else is taken for the program's values left by a run that
// ended between Apply and Restore.
bool BaseLooksSane(const BaseValues& base) {
    short windowColumns = static_cast<short>(base[0] & 0xFFFF);
    short windowRows = static_cast<short>(base[0] >> 16);
    short bufferRows = static_cast<short>(base[1] >> 16);
    return windowColumns == 80 && bufferRows > windowRows;
}

} // namespace

// Only values that were saved are overwritten: when the base values cannot
// be read, nothing is written and the console is sized explicitly instead;
// when the palette cannot be read, the palette is left alone.
int ConsoleSettingsApply(unsigned columns, unsigned rows, unsigned bufferRows, unsigned foreground,
                         unsigned background) {
    if (!IsDwordValue("WindowSize")) return 0;
    if (!baseSaved) baseSaved = SaveBase();
    if (!baseSaved) return 0;

    const BaseValues own = {(columns & 0xFFFF) + (rows & 0xFFFF) * 65536u,
                            (columns & 0xFFFF) + (bufferRows & 0xFFFF) * 65536u,
                            (foreground & 15) + (background & 15) * 16u, 0};
    for (int i = 0; i < 4; ++i)
        WriteDword(BASE_NAMES[i], own[i]);

    if (IsDwordValue("ColorTable00")) {
        if (!paletteSaved) paletteSaved = SavePalette();
        if (paletteSaved) WritePalette(ownPalette);
    }
    restorePending = true;
    return 1;
}

// A saved palette equal to the program's own was left by an interrupted run,
// like base values that fail the sanity rule; the standard palette goes back.
void ConsoleSettingsRestore() {
    if (!restorePending) return;
    restorePending = false;
    if (baseSaved) {
        const BaseValues& base = BaseLooksSane(savedBase) ? savedBase : fallbackBase;
        for (int i = 0; i < 4; ++i)
            WriteDword(BASE_NAMES[i], base[i]);
    }
    if (paletteSaved) WritePalette(savedPalette == ownPalette ? standardPalette : savedPalette);
}
