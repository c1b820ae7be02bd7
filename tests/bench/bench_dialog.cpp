#include "bench/bench.h"

namespace bench {

namespace {

struct Search {
    const std::string* caption;
    DWORD processId;
    HWND found;
};

std::string WindowText(HWND window) {
    char text[2048] = "";
    // WM_GETTEXT also reads windows of other processes.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, nullptr);
    return text;
}

std::string ClassName(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

BOOL CALLBACK MatchBox(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    if (ClassName(window) != "#32770" || !IsWindowVisible(window)) return TRUE;
    if (search->processId) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId) return TRUE;
    }
    if (!search->caption->empty() && WindowText(window) != *search->caption) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM parameter) {
    Box* box = reinterpret_cast<Box*>(parameter);
    std::string cls = ClassName(child);
    if (cls == "Button") {
        box->buttons.push_back(WindowText(child));
    } else if (cls == "Static" && GetDlgCtrlID(child) == 0xFFFF) {
        std::string text = WindowText(child);
        if (!text.empty()) box->text = text;
    }
    return TRUE;
}

} // namespace

Box WaitBox(const std::string& caption, DWORD timeoutMs, DWORD processId) {
    Box box;
    DWORD start = GetTickCount();
    do {
        Search search = {&caption, processId, nullptr};
        EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            box.window = search.found;
            box.caption = WindowText(search.found);
            box.owner = GetWindow(search.found, GW_OWNER);
            GetWindowThreadProcessId(search.found, &box.processId);
            // A box may be found before it has laid out its controls; a busy
            // machine makes that window wide.
            for (int tries = 0; tries < 40; ++tries) {
                box.buttons.clear();
                box.text.clear();
                EnumChildWindows(search.found, CollectChild, reinterpret_cast<LPARAM>(&box));
                if (!box.buttons.empty() && !box.text.empty()) break;
                Sleep(50);
            }
            return box;
        }
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return box;
}

bool Press(const Box& box, int controlId) {
    HWND button = GetDlgItem(box.window, controlId);
    if (!button) return false;
    return PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

bool WaitBoxGone(const Box& box, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(box.window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

namespace {

BOOL CALLBACK FindDefaultPush(HWND child, LPARAM parameter) {
    if (ClassName(child) != "Button") return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & 0x0F) != BS_DEFPUSHBUTTON) return TRUE;
    *reinterpret_cast<int*>(parameter) = GetDlgCtrlID(child);
    return FALSE;
}

} // namespace

int DefaultButton(const Box& box) {
    int id = 0;
    EnumChildWindows(box.window, FindDefaultPush, reinterpret_cast<LPARAM>(&id));
    return id;
}

bool AnswerOwnBox(LPTHREAD_START_ROUTINE routine, void* parameter, const std::string& caption,
                  DWORD boxTimeoutMs, DWORD threadTimeoutMs, const std::function<void(const Box&)>& answer) {
    HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    if (thread == nullptr) return false;
    Box box = WaitBox(caption, boxTimeoutMs, GetCurrentProcessId());
    if (box.found()) answer(box);
    bool ended = WaitForSingleObject(thread, threadTimeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return box.found() && ended;
}

} // namespace bench

namespace bench {

namespace {

struct WindowWatch {
    std::vector<HWND> known;
    std::vector<std::string>* seen;
};

BOOL CALLBACK NoteNewWindow(HWND window, LPARAM parameter) {
    WindowWatch* watch = reinterpret_cast<WindowWatch*>(parameter);
    for (HWND known : watch->known)
        if (known == window) return TRUE;
    watch->known.push_back(window);
    if (watch->seen == nullptr) return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    watch->seen->push_back(ClassName(window) + " \"" + WindowText(window) + "\" (" + std::to_string(owner) +
                           ")");
    return TRUE;
}

} // namespace

long WaitExitWatchingWindows(Process& process, std::vector<std::string>& seen, DWORD timeoutMs) {
    if (!process.handle) return -999;
    WindowWatch watch = {{}, nullptr};
    EnumWindows(NoteNewWindow, reinterpret_cast<LPARAM>(&watch));
    watch.seen = &seen;
    DWORD start = GetTickCount();
    for (;;) {
        bool ended = WaitForSingleObject(process.handle, 2) == WAIT_OBJECT_0;
        EnumWindows(NoteNewWindow, reinterpret_cast<LPARAM>(&watch));
        if (ended) return WaitExit(process, 0);
        if (GetTickCount() - start >= timeoutMs) return -999;
    }
}

} // namespace bench
