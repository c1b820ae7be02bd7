#include "console_child.h"

#include "bench/bench.h"
#include "console/console.h"
#include "driver/catalogue.h"
#include "driver/message_box.h"

#include <gtest/gtest.h>

#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", value);
    return text;
}

void Put(std::ostringstream& out, const std::string& key, const std::string& value) {
    out << key << '=' << value << '\n';
}

// The whole screen buffer: one line of characters and one of attributes per
// row, every key behind the prefix.
void DumpConsole(std::ostringstream& out, const std::string& prefix = "") {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(output, &info)) return;
    Put(out, prefix + "buffer", std::to_string(info.dwSize.X) + "x" + std::to_string(info.dwSize.Y));
    Put(out, prefix + "window",
        std::to_string(info.srWindow.Right - info.srWindow.Left + 1) + "x" +
            std::to_string(info.srWindow.Bottom - info.srWindow.Top + 1) + "@" +
            std::to_string(info.srWindow.Left) + "," + std::to_string(info.srWindow.Top));
    Put(out, prefix + "attribute", Hex(info.wAttributes));
    Put(out, prefix + "cursor",
        std::to_string(info.dwCursorPosition.X) + "," + std::to_string(info.dwCursorPosition.Y));
    for (SHORT row = 0; row < info.dwSize.Y; ++row) {
        std::vector<char> text(info.dwSize.X + 1, 0);
        std::vector<WORD> attributes(info.dwSize.X);
        DWORD read = 0;
        COORD at = {0, row};
        ReadConsoleOutputCharacterA(output, text.data(), info.dwSize.X, at, &read);
        ReadConsoleOutputAttribute(output, attributes.data(), info.dwSize.X, at, &read);
        std::string hex;
        for (WORD a : attributes) {
            char cell[4];
            std::snprintf(cell, sizeof cell, "%02X", a & 0xFF);
            hex += cell;
        }
        Put(out, prefix + "text" + std::to_string(row), text.data());
        Put(out, prefix + "attr" + std::to_string(row), hex);
    }
}

void OpenDriverConsole(std::ostringstream& out, bool restricted) {
    ConsoleWrite("dropped");
    Put(out, "configure", std::to_string(ConsoleConfigure(60, 12, 12, 0, 14)));
    Put(out, "mid", ConsoleKeySnapshot());
    ConsoleOpen(GetModuleHandleA(nullptr), "D\xE9sinstallation de KIVO", restricted);
    Put(out, "after", ConsoleKeySnapshot());
}

void DescribeWindow(std::ostringstream& out) {
    HWND window = consoleState.consoleWindow;
    Put(out, "found",
        window != nullptr && window == GetConsoleWindow() && messageOwner == window ? "1" : "0");
    char title[128] = "";
    GetWindowTextA(window, title, sizeof title);
    Put(out, "windowTitle", title);
    GetConsoleTitleA(title, sizeof title);
    Put(out, "consoleTitle", title);
    HMENU menu = GetSystemMenu(window, FALSE);
    Put(out, "close", std::to_string(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) != static_cast<UINT>(-1)));
    Put(out, "minimize",
        std::to_string(GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND) != static_cast<UINT>(-1)));
    RECT desktop = {}, own = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &own);
    int x = ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
    int y = ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
    // Wine's console host may drop its scroll bars a moment after the sizing
    // and so after the centring; half a scroll bar of slack covers that.
    Put(out, "centred", std::to_string(std::abs(own.left - x) <= 10 && std::abs(own.top - y) <= 10));
    Put(out, "position",
        std::to_string(own.left) + "," + std::to_string(own.top) + " " +
            std::to_string(own.right - own.left) + "x" + std::to_string(own.bottom - own.top) + " want " +
            std::to_string(x) + "," + std::to_string(y));
    CONSOLE_CURSOR_INFO cursor = {};
    GetConsoleCursorInfo(GetStdHandle(STD_OUTPUT_HANDLE), &cursor);
    Put(out, "cursorInfo", std::to_string(cursor.dwSize) + (cursor.bVisible ? " visible" : " hidden"));
    DWORD mode = 0;
    GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
    Put(out, "inputMode", Hex(mode));
}

// Watches the first two cells of every row: counts the highlighted and the
// dimmed phases each label shows, and collects every attribute the label's
// first cell and the blank before it ever had. The worker alone writes, this
// thread only reads.
std::atomic<int> highlightedPhases[12];
std::atomic<int> dimmedPhases[12];
std::atomic<bool> labelSeen[12][256];
std::atomic<bool> blankSeen[12][256];
std::atomic<bool> watching{true};

unsigned __stdcall WatchLabels(void*) {
    WORD last[12] = {};
    while (watching) {
        for (SHORT row = 0; row < 12; ++row) {
            WORD cells[2] = {};
            DWORD read = 0;
            COORD at = {0, row};
            if (!ReadConsoleOutputAttribute(GetStdHandle(STD_OUTPUT_HANDLE), cells, 2, at, &read) ||
                read != 2)
                continue;
            WORD blank = cells[0] & 0xFF, label = cells[1] & 0xFF;
            if (label == 0xCF && last[row] != 0xCF) ++highlightedPhases[row];
            if (label == 0xEC && last[row] != 0xEC) ++dimmedPhases[row];
            labelSeen[row][label] = true;
            blankSeen[row][blank] = true;
            last[row] = label;
        }
        Sleep(5);
    }
    return 0;
}

std::string Seen(const std::atomic<bool> (&seen)[256]) {
    std::string attributes;
    for (int attribute = 0; attribute < 256; ++attribute)
        if (seen[attribute]) attributes += Hex(attribute) + " ";
    return attributes;
}

std::string RowText(SHORT row) {
    char text[61] = {};
    DWORD read = 0;
    ReadConsoleOutputCharacterA(GetStdHandle(STD_OUTPUT_HANDLE), text, 60, COORD{0, row}, &read);
    return text;
}

// The driver's protocol with work of different lengths; the last label has none.
void RunSteps(std::ostringstream& out, DWORD stepScale) {
    // The French labels, so that the accents go through the OEM conversion.
    const char* labels[6];
    for (int step = 0; step < 6; ++step)
        labels[step] = CatalogueText(static_cast<MessageName>(MSG_LABEL_SHORTCUTS + step), 1);
    static const DWORD work[] = {0, 1300, 200, 700, 0, 0};
    Put(out, "create", std::to_string(ThreadCreate(1, BusyIndicatorRoutine, nullptr)));
    HANDLE watcher = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WatchLabels, nullptr, 0, nullptr));
    for (int step = 0; step < 6; ++step) {
        DWORD start = GetTickCount();
        busyLabel = labels[step];
        busyFlag = 1;
        int started = ThreadStart(1);
        if (step == 1) {
            // The second step tells how far it is, twice; its row is read back each time.
            for (int percent : {7, 42}) {
                busyProgress = percent;
                Sleep(work[step] * stepScale / 2);
                Put(out, "progress" + std::to_string(percent), RowText(2));
            }
        } else {
            Sleep(work[step] * stepScale);
        }
        busyProgress = -1;
        busyFlag = 0;
        long waited = ThreadWait(1);
        std::string name = "step" + std::to_string(step);
        Put(out, name,
            std::to_string(started) + " " + std::to_string(waited) + " " +
                std::to_string(GetTickCount() - start));
    }
    Sleep(50);
    watching = false;
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    for (int row = 0; row < 12; ++row) {
        std::string name = std::to_string(row);
        Put(out, "phases" + name,
            std::to_string(highlightedPhases[row].load()) + " " + std::to_string(dimmedPhases[row].load()));
        Put(out, "labelSeen" + name, Seen(labelSeen[row]));
        Put(out, "blankSeen" + name, Seen(blankSeen[row]));
    }
}

unsigned __stdcall Quick(void*) {
    return 5;
}

// Every free range of 1 MB or more reserved, so that no thread stack (2 MB
// reserved by default) fits any more, while Wine keeps the smaller holes it
// needs for itself; Release gives them back.
std::vector<void*> ReserveAddressSpace() {
    std::vector<void*> blocks;
    blocks.reserve(4096);
    for (SIZE_T size = 1u << 30; size >= (1u << 20); size /= 2)
        while (blocks.size() < blocks.capacity()) {
            void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
            if (block == nullptr) break;
            blocks.push_back(block);
        }
    return blocks;
}

void Release(const std::vector<void*>& blocks) {
    for (void* block : blocks)
        VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace

int ChildMain(const std::string& scenario, const std::string& reportPath) {
    // Started from a shell (the screenshot's demo), the program has a console
    // already; the scenarios need to make their own.
    FreeConsole();
    std::ostringstream out;
    bool settle = true;
    if (scenario == "settings" || scenario == "settings-twice") {
        settle = false;
        Put(out, "apply", std::to_string(ConsoleSettingsApply(60, 12, 12, 0, 14)));
        Put(out, "mid", ConsoleKeySnapshot());
        ConsoleSettingsRestore();
        if (scenario == "settings-twice") {
            ConsoleKeySet("WindowSize", 0xABCD);
            ConsoleSettingsRestore();
        }
        Put(out, "after", ConsoleKeySnapshot());
    } else if (scenario == "open" || scenario == "open-restricted") {
        OpenDriverConsole(out, scenario == "open-restricted");
        HWND first = consoleState.consoleWindow;
        ConsoleOpen(nullptr, "again", false);
        Put(out, "reopen", std::to_string(consoleState.consoleWindow == first));
        DescribeWindow(out);
        DumpConsole(out);
    } else if (scenario == "output") {
        OpenDriverConsole(out, false);
        ConsoleSetForeground(28);
        ConsoleWrite("");
        CONSOLE_SCREEN_BUFFER_INFO info;
        GetConsoleScreenBufferInfo(consoleState.outputHandle, &info);
        Put(out, "emptyWrite", Hex(info.wAttributes));
        ConsoleSetBackground(3);
        ConsoleSetBackground(-1);
        ConsoleWrite("A\xE9");
        ConsoleSetColumn(40);
        ConsoleHighlight();
        ConsoleWrite("hi");
        ConsoleNewLine();
        ConsoleSetColumn(5);
        ConsoleBlank(10);
        ConsoleBlank(-3);
        DumpConsole(out);
    } else if (scenario == "clear") {
        OpenDriverConsole(out, false);
        ConsoleHighlight();
        ConsoleWrite("kept");
        ConsoleNewLine();
        ConsoleWrite("too");
        ConsoleSetForeground(15);
        ConsoleSetBackground(1);
        ConsoleClear(false);
        DumpConsole(out, "recoloured.");
        ConsoleClear(true);
        DumpConsole(out);
    } else if (scenario == "busy" || scenario == "demo") {
        // Xvfb has no window manager; Wine then draws the caption itself.
        if (scenario == "demo")
            bench::RegSetString(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", "Decorated", "N");
        OpenDriverConsole(out, false);
        RunSteps(out, scenario == "demo" ? 4 : 1);
        DumpConsole(out);
    } else if (scenario == "threads-exhausted") {
        settle = false;
        ThreadCreate(2, Quick, nullptr);
        ThreadStart(2);
        ThreadWait(2);
        std::vector<void*> blocks = ReserveAddressSpace();
        int create = ThreadCreate(1, Quick, nullptr);
        int restart = ThreadStart(2);
        long waited = ThreadWait(2);
        int start = ThreadStart(1);
        Release(blocks);
        Put(out, "exhausted",
            std::to_string(create) + " " + std::to_string(restart) + " " + std::to_string(waited) + " " +
                std::to_string(start));
        Put(out, "recovered", std::to_string(ThreadCreate(1, Quick, nullptr)));
    } else if (scenario == "bare") {
        AllocConsole();
        for (int wait = 0; wait < 500 && GetConsoleWindow() == nullptr; ++wait)
            Sleep(10);
    } else {
        return 2;
    }
    // Wine's console host writes its own settings under HKCU "Console" a
    // moment after the console appears; let it finish before the parent looks.
    if (settle) Sleep(500);
    FILE* file = std::fopen(reportPath.c_str(), "wb");
    if (file == nullptr) return 3;
    std::string text = out.str();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return 0;
}

bool RunChild(const std::string& scenario, Report& report) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string reportPath = std::string("C:\\kivo\\report-") + scenario + ".txt";
    DeleteFileA(reportPath.c_str());
    bench::Process child =
        bench::Start(std::string("\"") + self + "\" --child " + scenario + " " + reportPath);
    long code = bench::WaitExit(child);
    bench::Close(child);
    if (code != 0) return false;
    std::string bytes;
    if (!bench::ReadFileBytes(reportPath, bytes)) return false;
    report.clear();
    std::istringstream lines(bytes);
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) report[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return true;
}

std::string ConsoleKeySnapshot() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Console", 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    std::map<std::string, std::string> values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[512];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        std::string text = Hex(type) + ":";
        for (DWORD i = 0; i < dataSize; ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02X", data[i]);
            text += byte;
        }
        values[name] = text;
    }
    RegCloseKey(key);
    std::string snapshot = "key;";
    for (const auto& value : values)
        snapshot += value.first + "=" + value.second + ";";
    return snapshot;
}

void ConsoleKeySet(const char* name, DWORD value) {
    bench::RegSetDword(HKEY_CURRENT_USER, "Console", name, value);
}

void ConsoleKeyReset() {
    bench::RegDeleteTree(HKEY_CURRENT_USER, "Console");
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return ChildMain(argv[2], argv[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
