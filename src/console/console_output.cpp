// Text, colours and cursor placement in the console. Every operation does
// nothing until the console is open; the colour setters only record the pair,
// which reaches the console with the next write.
#include "console/console.h"

#include <cstdlib>
#include <cstring>

int ConsoleWrite(const char* text) {
    if (!consoleState.consoleOpen || text == nullptr) return 0;
    size_t length = std::strlen(text);
    ConsoleApplyAttribute();
    char* oem = static_cast<char*>(std::malloc(length + 1));
    if (oem == nullptr) return 0;
    CharToOemA(text, oem);
    DWORD written = 0;
    WriteConsoleA(consoleState.outputHandle, oem, static_cast<DWORD>(length), &written, nullptr);
    std::free(oem);
    return 0;
}

void ConsoleNewLine() {
    ConsoleWrite("\r\n");
}

void ConsoleSetForeground(int colour) {
    consoleState.foreground = colour & 15;
    consoleState.attributeApplied = false;
}

void ConsoleSetBackground(int colour) {
    consoleState.background = colour < 0 ? consoleState.defaultBackground : colour & 15;
    consoleState.attributeApplied = false;
}

void ConsoleHighlight() {
    ConsoleSetBackground(12);
    ConsoleSetForeground(15);
}

void ConsoleSetColumn(int column) {
    if (!consoleState.consoleOpen) return;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(consoleState.outputHandle, &info)) return;
    COORD position = {static_cast<SHORT>(column), info.dwCursorPosition.Y};
    SetConsoleCursorPosition(consoleState.outputHandle, position);
}

// Paints without moving the cursor and without touching the console's own
// text attribute, so the next write still knows whether it must send one.
void ConsoleBlank(int count) {
    if (count <= 0 || !consoleState.consoleOpen) return;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(consoleState.outputHandle, &info)) return;
    WORD attribute = static_cast<WORD>(consoleState.background * 16 + consoleState.foreground);
    DWORD written = 0;
    FillConsoleOutputAttribute(consoleState.outputHandle, attribute, static_cast<DWORD>(count),
                               info.dwCursorPosition, &written);
    FillConsoleOutputCharacterA(consoleState.outputHandle, ' ', static_cast<DWORD>(count),
                                info.dwCursorPosition, &written);
}
