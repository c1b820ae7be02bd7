// The demo: lays out the sample installation, runs the whole uninstall as a
// person would (Yes to the confirmation, every later box answered with its
// default), and writes what was removed and kept into a report.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/stages.h"
#include "e2e/sample_install.h"

#include <string>
#include <vector>

namespace e2e {

namespace {

struct Item {
    std::string label;
    bool present;
};

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r') c = '|';
    }
    return text;
}

void Line(std::string& report, const std::string& text) {
    report += text + "\r\n";
}

void ListItems(std::string& report, const char* heading, const std::vector<Item>& items, bool wanted) {
    Line(report, heading);
    for (const Item& item : items) {
        Line(report, std::string(item.present == wanted ? "  " : "  UNEXPECTED ") + item.label);
    }
}

} // namespace

int DemoMain(const char* reportPath) {
    std::string report;
    LayOutInstallation();
    Line(report, "Sample installation laid out in " + std::string(INSTALL_FOLDER));

    std::string title = CatalogueText(MSG_TITLE, ChooseLanguage());
    bench::Process first = bench::Start("\"C:\\Apps\\KIVO\\uninstKIVO.exe\"", INSTALL_FOLDER);
    bench::Box confirm = bench::WaitBox(title, 30000, first.id);
    if (!confirm.found()) return 2;
    Line(report, "Box: " + OneLine(confirm.text) + "  -> Yes");
    bench::Press(confirm, IDYES);
    bench::WaitBoxGone(confirm);
    bench::WaitExit(first);
    bench::Close(first);

    // Every box of the copy gets its default button (OK, or Yes to a restart).
    HANDLE copy = nullptr;
    std::string copyFolder; // the copy's private folder in %TEMP%
    for (;;) {
        bench::Box box = bench::WaitBox(title, copy == nullptr ? 90000 : 3000);
        if (!box.found()) {
            if (copy == nullptr || WaitForSingleObject(copy, 0) == WAIT_OBJECT_0) break;
            continue;
        }
        if (copy == nullptr) {
            copy = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, box.processId);
            copyFolder = PrivateCopyFolder();
        }
        int button = bench::DefaultButton(box);
        if (button == 0) button = IDOK;
        Line(report, "Box: " + OneLine(box.text) + (button == IDYES ? "  -> Yes" : "  -> OK"));
        bench::Press(box, button);
        bench::WaitBoxGone(box);
    }
    DWORD code = 0;
    if (copy != nullptr) {
        WaitForSingleObject(copy, 60000);
        GetExitCodeProcess(copy, &code);
        CloseHandle(copy);
    }
    Line(report, "The copy in %TEMP% ended with exit code " + std::to_string(code));
    DWORD ended = GetTickCount();
    while (bench::Exists(copyFolder) && GetTickCount() - ended < 45000)
        Sleep(50);
    if (!bench::Exists(copyFolder)) {
        Line(report, "Its file and folder were gone " + std::to_string(GetTickCount() - ended) +
                         " ms after it ended");
    }

    std::vector<Item> removed = {
        {std::string(INSTALL_FOLDER) + " (the folder)", bench::Exists(INSTALL_FOLDER)},
        {copyFolder + " (the copy that did the work, in its private folder)", bench::Exists(copyFolder)}};
    for (const std::string& link : ProductShortcuts())
        removed.push_back({link, bench::Exists(link)});
    for (const char* key : {".KVO", "KIVO.Document", ".GKV", "KIVO.Graph"}) {
        removed.push_back({std::string("HKCR\\") + key, bench::RegKeyExists(HKEY_CLASSES_ROOT, key)});
    }
    removed.push_back({"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO",
                       bench::RegKeyExists(HKEY_LOCAL_MACHINE,
                                           "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO")});
    removed.push_back(
        {"HKCU\\Software\\TMW\\KIVO", bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\KIVO")});
    for (const char* name : {"KIVO", "REVERIRA"}) {
        removed.push_back({std::string("HKCU\\Environment ") + name,
                           bench::RegValueExists(HKEY_CURRENT_USER, "Environment", name)});
        removed.push_back({std::string("HKLM\\...\\Session Manager\\Environment ") + name,
                           bench::RegValueExists(
                               HKEY_LOCAL_MACHINE,
                               "System\\CurrentControlSet\\Control\\Session Manager\\Environment", name)});
    }
    std::vector<Item> kept;
    for (const std::string& link : ForeignShortcuts())
        kept.push_back({link, bench::Exists(link)});
    kept.push_back({"C:\\Apps\\Other\\other.exe", bench::Exists("C:\\Apps\\Other\\other.exe")});
    kept.push_back({"C:\\Apps\\KIVO2\\k2.exe", bench::Exists("C:\\Apps\\KIVO2\\k2.exe")});
    kept.push_back(
        {"HKCR\\.kvx and HKCR\\Other.Document", bench::RegKeyExists(HKEY_CLASSES_ROOT, "Other.Document")});
    kept.push_back(
        {"HKCU\\Software\\Other Vendor", bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\Other Vendor")});
    kept.push_back({"HKCU\\Software\\TMW with the maker's Common key",
                    bench::RegKeyExists(HKEY_CURRENT_USER, "Software\\TMW\\Common")});
    kept.push_back({"HKCU\\Environment KIVO_OTHER",
                    bench::RegValueExists(HKEY_CURRENT_USER, "Environment", "KIVO_OTHER")});
    ListItems(report, "Removed:", removed, false);
    ListItems(report, "Kept:", kept, true);
    for (const std::string& archive : ArchivesAtRoot('C'))
        Line(report, "Archive: " + archive);
    return bench::WriteFileBytes(reportPath, report) ? 0 : 3;
}

} // namespace e2e
