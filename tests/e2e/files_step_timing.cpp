// The Files step as the person waits for it: from its label appearing on the
// console to the result box, on whatever data the bench linked into the
// sample installation (scripts/bench.sh: the reference folder). A child
// attached to the copy's console watches both, every few milliseconds.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/stages.h"
#include "e2e/sample_install.h"

#include <cstdio>
#include <string>

namespace e2e {

namespace {

// The labels stand one per row from row 1 on; Files is the fifth.
constexpr SHORT FILES_ROW = 5;
constexpr DWORD WATCH_LIMIT_MS = 600000;
const char* const WATCH_REPORT = "C:\\files-step-watch.txt";

std::string Oem(const std::string& text) {
    std::string oem(text.size() + 1, '\0');
    CharToOemA(text.c_str(), &oem[0]);
    oem.resize(text.size());
    return oem;
}

bool FilesLabelShown(HANDLE output, const std::string& label) {
    std::string row(label.size(), '\0');
    DWORD read = 0;
    return ReadConsoleOutputCharacterA(output, &row[0], DWORD(row.size()), COORD{0, FILES_ROW}, &read) &&
           read == row.size() && row == label;
}

} // namespace

int WatchFilesStepMain(DWORD pid, const char* reportPath) {
    FreeConsole();
    // The copy opens its console a moment after it starts.
    for (int tries = 0; !AttachConsole(pid); ++tries)
        if (tries == 2000)
            return 2;
        else
            Sleep(5);
    HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) return 3;
    const std::string label = " " + Oem(CatalogueText(MSG_LABEL_FILES, ChooseLanguage()));
    const std::string title = CatalogueText(MSG_TITLE, ChooseLanguage());
    // Already there at the first look, the step began before the watch.
    if (FilesLabelShown(output, label)) return 4;
    const DWORD start = GetTickCount();
    while (!FilesLabelShown(output, label))
        if (GetTickCount() - start > WATCH_LIMIT_MS)
            return 5;
        else
            Sleep(2);
    LARGE_INTEGER shown, boxed, frequency;
    QueryPerformanceCounter(&shown);
    while (FindWindowA("#32770", title.c_str()) == nullptr)
        if (GetTickCount() - start > WATCH_LIMIT_MS)
            return 5;
        else
            Sleep(2);
    QueryPerformanceCounter(&boxed);
    QueryPerformanceFrequency(&frequency);
    CloseHandle(output);
    char line[64];
    std::snprintf(line, sizeof line, "files-step %.3f\n",
                  double(boxed.QuadPart - shown.QuadPart) / double(frequency.QuadPart));
    return bench::WriteFileBytes(reportPath, line) ? 0 : 6;
}

int FilesStepTimingMain(const char* reportPath) {
    LayOutInstallation();
    const std::string title = CatalogueText(MSG_TITLE, ChooseLanguage());
    bench::Process first = bench::Start("\"C:\\Apps\\KIVO\\uninstKIVO.exe\"", INSTALL_FOLDER);
    bench::Box confirm = bench::WaitBox(title, 30000, first.id);
    if (!confirm.found()) return 2;
    bench::Press(confirm, IDYES);
    bench::WaitBoxGone(confirm);
    bench::WaitExit(first);
    bench::Close(first);

    const DWORD copy = ProcessIdOf("uninstKIVO.exe", 20000);
    if (copy == 0) return 3;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    DeleteFileA(WATCH_REPORT);
    bench::Process watcher = bench::Start("\"" + std::string(self) + "\" --watch-files-step " +
                                          std::to_string(copy) + " " + WATCH_REPORT);
    const long watched = bench::WaitExit(watcher, WATCH_LIMIT_MS + 30000);
    bench::Close(watcher);

    // Every box of the copy gets its default button, so that it ends.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, copy);
    while (process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        bench::Box box = bench::WaitBox(title, 1000);
        if (!box.found()) continue;
        const int button = bench::DefaultButton(box);
        bench::Press(box, button != 0 ? button : IDOK);
        bench::WaitBoxGone(box);
    }
    if (process != nullptr) CloseHandle(process);
    std::string report;
    if (watched != 0 || !bench::ReadFileBytes(WATCH_REPORT, report)) {
        report = "files-step not measured: the watch ended with " + std::to_string(watched) + "\n";
    }
    return bench::WriteFileBytes(reportPath, report) ? 0 : 4;
}

} // namespace e2e
