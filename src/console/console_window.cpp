// The second stage's console window: allocation, title, size, colours,
// system menu, position and icon, and the clear-screen operation.
#include "console/console.h"

#include "driver/message_box.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

ConsoleState consoleState = {nullptr, false, nullptr, nullptr, 80, 25, 300, 1, 11, 11, false, false};

namespace {

const char MARKER_TITLE[] = "..__..";
// How long ConsoleOpen looks for its window before carrying on without it.
const DWORD WINDOW_SEARCH_MS = 5000;
// How long the window's size must hold before it counts as final, and the
// most ConsoleOpen waits for that before leaving the window where it is.
const DWORD SIZE_STEADY_MS = 200;
const DWORD SIZE_SETTLE_MS = 1000;
const int ICON_RESOURCE = 101;
const DWORD CURSOR_PERCENT = 20;

WORD CurrentAttribute() {
    return static_cast<WORD>(consoleState.background << 4 | consoleState.foreground);
}

// The marker title is unique to this moment, so the first top-level window
// carrying it is ours. The console host may take a while to make the window;
// after WINDOW_SEARCH_MS the console is used without it.
HWND FindConsoleWindow() {
    SetConsoleTitleA(MARKER_TITLE);
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowExA(nullptr, nullptr, nullptr, MARKER_TITLE);
        if (window != nullptr) return window;
        if (GetTickCount() - start >= WINDOW_SEARCH_MS) return nullptr;
        Sleep(10);
    }
}

void TrimSystemMenu(HWND window, bool restricted) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MINIMIZE, MF_BYCOMMAND);
    // Positions count on the menu as the previous deletion left it.
    DeleteMenu(menu, 4, MF_BYPOSITION);
    DeleteMenu(menu, 5, MF_BYPOSITION);
    DeleteMenu(menu, 5, MF_BYPOSITION);
    if (restricted) DeleteMenu(menu, 2, MF_BYPOSITION);
}

// A console window can never be larger than its buffer, so going from the
// usual 80 x 25 to 60 x 12 the window must shrink before the buffer does;
// the window is then set again to its final size.
void SizeConsole() {
    HANDLE output = consoleState.outputHandle;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(output, &info)) {
        SHORT width = info.srWindow.Right - info.srWindow.Left + 1;
        SHORT height = info.srWindow.Bottom - info.srWindow.Top + 1;
        SMALL_RECT shrunk = {0, 0, static_cast<SHORT>(std::min<int>(width, consoleState.columns) - 1),
                             static_cast<SHORT>(std::min<int>(height, consoleState.rows) - 1)};
        SetConsoleWindowInfo(output, TRUE, &shrunk);
    }
    COORD buffer = {static_cast<SHORT>(consoleState.columns), static_cast<SHORT>(consoleState.bufferRows)};
    SetConsoleScreenBufferSize(output, buffer);
    SMALL_RECT window = {0, 0, static_cast<SHORT>(consoleState.columns - 1),
                         static_cast<SHORT>(consoleState.rows - 1)};
    SetConsoleWindowInfo(output, TRUE, &window);
}

// Whether the console shows the configured window, buffer and colours.
bool ConsoleMatchesConfiguration() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(consoleState.outputHandle, &info)) return false;
    return info.srWindow.Right - info.srWindow.Left + 1 == consoleState.columns &&
           info.srWindow.Bottom - info.srWindow.Top + 1 == consoleState.rows &&
           info.dwSize.X == consoleState.columns && info.dwSize.Y == consoleState.bufferRows &&
           (info.wAttributes & 0xFF) == CurrentAttribute();
}

void PlaceCentred(HWND window, LONG width, LONG height) {
    RECT desktop;
    int x = 0, y = 0;
    if (GetWindowRect(GetDesktopWindow(), &desktop)) {
        x = ((desktop.right - desktop.left) - width) / 2;
        y = ((desktop.bottom - desktop.top) - height) / 2;
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_FRAMECHANGED | SWP_NOCOPYBITS);
}

// The console host gives its window a new size some time after the console
// reports it, later still on a busy machine, so a window centred at once may
// then shrink about its top left corner. It is centred again whenever its
// outer size changes, until the size has held for SIZE_STEADY_MS, and not
// for much longer than SIZE_SETTLE_MS in all.
void CentreWindow(HWND window) {
    LONG width = -1, height = -1;
    DWORD start = GetTickCount();
    DWORD steadySince = start;
    for (;;) {
        // A round trip through the host's window thread first, so that a
        // steady size means the host ran and left it alone.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, SIZE_STEADY_MS, &ignored);
        RECT own;
        if (!GetWindowRect(window, &own)) return;
        DWORD now = GetTickCount();
        if (own.right - own.left != width || own.bottom - own.top != height) {
            width = own.right - own.left;
            height = own.bottom - own.top;
            PlaceCentred(window, width, height);
            steadySince = now;
        } else if (now - steadySince >= SIZE_STEADY_MS) {
            return;
        }
        if (now - start >= SIZE_SETTLE_MS) return;
        Sleep(10);
    }
}

void SetIcon(HWND window, HINSTANCE instance) {
    HICON icon = nullptr;
    if (instance != nullptr) icon = LoadIconA(instance, MAKEINTRESOURCEA(ICON_RESOURCE));
    if (icon == nullptr) icon = LoadIconA(nullptr, IDI_APPLICATION);
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

} // namespace

// Colours equal to each other would hide the text, so the background then
// moves by eight palette entries.
int ConsoleConfigure(unsigned columns, unsigned rows, unsigned bufferRows, unsigned foreground,
                     unsigned background) {
    consoleState.rows = static_cast<unsigned short>(rows);
    consoleState.bufferRows = static_cast<unsigned short>(bufferRows);
    if (consoleState.bufferRows < consoleState.rows) consoleState.bufferRows = consoleState.rows;
    consoleState.columns = static_cast<unsigned short>(columns);
    consoleState.foreground = static_cast<int>(foreground & 15);
    consoleState.background = static_cast<int>(background & 15);
    if (consoleState.background == consoleState.foreground)
        consoleState.background = (consoleState.foreground + 8) & 15;
    consoleState.defaultBackground = consoleState.background;
    int preset = ConsoleSettingsApply(consoleState.columns, consoleState.rows, consoleState.bufferRows,
                                      consoleState.foreground, consoleState.background);
    consoleState.presetApplied = preset == 1;
    consoleState.attributeApplied = preset == 1;
    return preset;
}

// The user's console defaults go back right after AllocConsole, whether or
// not it succeeded, so that consoles opened later look as the user set them.
void ConsoleOpen(HINSTANCE instance, const char* title, bool restricted) {
    if (consoleState.consoleWindow != nullptr || consoleState.consoleOpen) return;
    BOOL allocated = AllocConsole();
    ConsoleSettingsRestore();
    if (!allocated) return;
    SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);

    HWND window = FindConsoleWindow();
    if (window != nullptr) TrimSystemMenu(window, restricted);
    consoleState.consoleOpen = true;
    ConsoleSetTitle(title);
    consoleState.outputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
    consoleState.inputHandle = GetStdHandle(STD_INPUT_HANDLE);

    // A console host may read the defaults after they were already put back
    // and come up in the user's size and colours; it is then sized and
    // painted as if there had been no preset.
    if (!consoleState.presetApplied || !ConsoleMatchesConfiguration()) {
        consoleState.attributeApplied = false;
        SizeConsole();
        ConsoleClear(false);
    }

    if (window != nullptr) CentreWindow(window);
    if (restricted) SetConsoleMode(consoleState.inputHandle, ENABLE_MOUSE_INPUT);
    CONSOLE_CURSOR_INFO cursor = {CURSOR_PERCENT, TRUE};
    SetConsoleCursorInfo(consoleState.outputHandle, &cursor);
    if (window == nullptr) return;
    SetIcon(window, instance);
    consoleState.consoleWindow = window;
    messageOwner = window;
    SetForegroundWindow(window);
}

// The console shows OEM characters; the title is converted from ANSI so that
// accented letters come out right.
void ConsoleSetTitle(const char* title) {
    if (!consoleState.consoleOpen || title == nullptr) return;
    size_t length = std::strlen(title);
    char* oem = static_cast<char*>(std::malloc(length + 1));
    if (oem == nullptr) return;
    CharToOemA(title, oem);
    SetConsoleTitleA(oem);
    std::free(oem);
}

void ConsoleClear(bool blank) {
    if (!consoleState.consoleOpen) return;
    ConsoleApplyAttribute();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(consoleState.outputHandle, &info)) return;
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD origin = {0, 0};
    DWORD written = 0;
    FillConsoleOutputAttribute(consoleState.outputHandle, CurrentAttribute(), cells, origin, &written);
    if (blank) FillConsoleOutputCharacterA(consoleState.outputHandle, ' ', cells, origin, &written);
    SetConsoleCursorPosition(consoleState.outputHandle, origin);
}

void ConsoleApplyAttribute() {
    if (!consoleState.consoleOpen || consoleState.attributeApplied) return;
    SetConsoleTextAttribute(consoleState.outputHandle, CurrentAttribute());
    consoleState.attributeApplied = true;
}

// Ctrl+C and Ctrl+Break must not end the uninstaller half-way; the Close
// entry is gone from the system menu for the same reason.
BOOL WINAPI ConsoleControlHandler(DWORD) {
    return TRUE;
}
