#include "clean/shell_items.h"

#include "platform/scoped_handles.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

namespace {

// Item lists come from the shell's allocator, which on the oldest systems is
// not COM's task allocator.
struct ItemList {
    LPITEMIDLIST items = nullptr;
    ItemList() = default;
    ~ItemList() {
        IMalloc* allocator = nullptr;
        if (items == nullptr || FAILED(SHGetMalloc(&allocator))) return;
        allocator->Free(items);
        allocator->Release();
    }
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;
};

struct PopupMenu {
    HMENU handle = CreatePopupMenu();
    PopupMenu() = default;
    ~PopupMenu() {
        if (handle != nullptr) DestroyMenu(handle);
    }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;
};

constexpr UINT FIRST_COMMAND = 1;
constexpr UINT LAST_COMMAND = 0x7FFF;
constexpr int VERB_CAPACITY = 64;

// Whether a menu's wide verb is verb, an ASCII one, in any case. Windows 9x
// has no wide comparison (only a failing stub of lstrcmpiW).
bool VerbIs(const WCHAR* name, const char* verb) {
    const auto fold = [](unsigned c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    for (; *verb != '\0'; ++name, ++verb) {
        if (fold(*name) != fold(static_cast<unsigned char>(*verb))) return false;
    }
    return *name == L'\0';
}

// The offset of the command named verb among the menu's top-level items, or
// -1. Menu texts are translated; the verbs behind them are not.
int FindVerb(IContextMenu* menu, HMENU popup, const char* verb) {
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(popup, i);
        if (id < FIRST_COMMAND || id > LAST_COMMAND) continue; // separators and sub-menus
        WCHAR name[VERB_CAPACITY] = L"";
        if (FAILED(menu->GetCommandString(id - FIRST_COMMAND, GCS_VERBW, nullptr,
                                          reinterpret_cast<char*>(name), VERB_CAPACITY)))
            continue;
        name[VERB_CAPACITY - 1] = L'\0';
        if (VerbIs(name, verb)) return static_cast<int>(id - FIRST_COMMAND);
    }
    return -1;
}

} // namespace

bool ShellFolderPath(int csidl, char* path) {
    path[0] = '\0';
    ItemList found;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &found.items)) || found.items == nullptr)
        return false;
    return SHGetPathFromIDListA(found.items, path) != FALSE && path[0] != '\0';
}

// The file's folder is bound through the desktop, and the file's menu asked
// of that folder, as Explorer does for a right click.
int ShellItemInvokeVerb(const char* path, const char* verb) {
    const char* separator = std::strrchr(path, '\\');
    if (separator == nullptr || separator == path) return 0;
    char folder[MAX_PATH];
    const size_t folderLength = static_cast<size_t>(separator - path) + (separator[-1] == ':' ? 1 : 0);
    if (folderLength >= MAX_PATH) return 0;
    std::memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    WCHAR wideFolder[MAX_PATH];
    WCHAR wideName[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, folder, -1, wideFolder, MAX_PATH) == 0 ||
        MultiByteToWideChar(CP_ACP, 0, separator + 1, -1, wideName, MAX_PATH) == 0)
        return 0;

    ComInterface<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(&desktop.pointer))) return 0;
    ItemList folderItems;
    if (FAILED(desktop.pointer->ParseDisplayName(nullptr, nullptr, wideFolder, nullptr, &folderItems.items,
                                                 nullptr)))
        return 0;
    ComInterface<IShellFolder> parent;
    if (FAILED(desktop.pointer->BindToObject(folderItems.items, nullptr, IID_IShellFolder,
                                             reinterpret_cast<void**>(&parent.pointer))))
        return 0;
    ItemList child;
    if (FAILED(parent.pointer->ParseDisplayName(nullptr, nullptr, wideName, nullptr, &child.items, nullptr)))
        return 0;
    LPCITEMIDLIST children[1] = {child.items};
    ComInterface<IContextMenu> menu;
    if (FAILED(parent.pointer->GetUIObjectOf(nullptr, 1, children, IID_IContextMenu, nullptr,
                                             reinterpret_cast<void**>(&menu.pointer))))
        return 0;
    PopupMenu popup;
    if (popup.handle == nullptr ||
        FAILED(menu.pointer->QueryContextMenu(popup.handle, 0, FIRST_COMMAND, LAST_COMMAND, CMF_NORMAL)))
        return 0;
    const int offset = FindVerb(menu.pointer, popup.handle, verb);
    if (offset < 0) return 0;
    CMINVOKECOMMANDINFO command;
    std::memset(&command, 0, sizeof command);
    command.cbSize = sizeof command;
    command.fMask = CMIC_MASK_FLAG_NO_UI;
    command.lpVerb = MAKEINTRESOURCEA(offset);
    command.nShow = SW_HIDE;
    return SUCCEEDED(menu.pointer->InvokeCommand(&command)) ? 1 : 0;
}
