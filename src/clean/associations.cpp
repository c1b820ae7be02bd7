#include "clean/clean.h"
#include "platform/registry.h"

#include <cstdlib>
#include <cstring>

namespace {

// ".", at most 9 characters, the zero.
constexpr size_t EXTENSION_CAPACITY = 12;
constexpr size_t EXTENSION_LENGTH = 10;
// Registry key names have at most 255 characters.
constexpr DWORD KEY_NAME_CAPACITY = 256;

// The dot and at most nine characters behind it, upper case A to Z only;
// false for an extension that is empty or would reach beyond its own key.
bool ExtensionKeyName(const char* extension, char* keyName) {
    size_t length = 0;
    if (extension[0] != '.') keyName[length++] = '.';
    for (const char* c = extension; *c != '\0' && length < EXTENSION_LENGTH; ++c) {
        if (*c == '\\') return false;
        keyName[length++] = *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 'a' + 'A') : *c;
    }
    keyName[length] = '\0';
    return length > 1;
}

// Classes that belong to Windows and its shell: an extension that names one
// of them borrowed it.
const char* const shellClasses[] = {
    "*",         "AllFilesystemObjects",
    "AppID",     "Applications",
    "batfile",   "CLSID",
    "cmdfile",   "comfile",
    "Directory", "DesktopBackground",
    "dllfile",   "Drive",
    "exefile",   "file",
    "Folder",    "ftp",
    "htmlfile",  "http",
    "https",     "inffile",
    "Interface", "JSFile",
    "lnkfile",   "mailto",
    "MIME",      "Msi.Package",
    "Network",   "piffile",
    "Printers",  "regfile",
    "scrfile",   "SystemFileAssociations",
    "TypeLib",   "Unknown",
    "VBSFile",   "WSFFile",
};

// Whether an extension other than ours names programKey as its class in
// classes. When they cannot be read through, the key counts as used.
bool OtherExtensionNames(HKEY classes, const char* programKey, const char* ownExtension) {
    for (DWORD index = 0;; ++index) {
        char name[KEY_NAME_CAPACITY];
        DWORD length = sizeof name;
        const LONG listed = RegEnumKeyExA(classes, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) return false;
        if (listed != ERROR_SUCCESS) return true;
        if (name[0] != '.' || lstrcmpiA(name, ownExtension) == 0) continue;
        void* data = nullptr;
        DWORD size = 0;
        const int type = RegistryReadValue(classes, name, nullptr, &data, &size);
        const bool names = (type == REG_SZ || type == REG_EXPAND_SZ) && data != nullptr &&
                           lstrcmpiA(static_cast<const char*>(data), programKey) == 0;
        std::free(data);
        if (names) return true;
    }
}

// A program key that is not the product's alone: another extension's key, a
// class of the shell, or the class of another extension as well. A user's
// extensions fall back on the machine's, so those count too.
bool ProgramKeyShared(HKEY classes, const char* programKey, const char* ownExtension) {
    if (programKey[0] == '.') return true;
    for (const char* shellClass : shellClasses)
        if (lstrcmpiA(programKey, shellClass) == 0) return true;
    return OtherExtensionNames(classes, programKey, ownExtension) ||
           (classes != HKEY_CLASSES_ROOT && OtherExtensionNames(HKEY_CLASSES_ROOT, programKey, ownExtension));
}

// A key of the classes' root and its subkeys; false, reported, when it stays.
// The log line of the user whose classes these are follows.
bool ClassKeyDelete(HKEY classes, const char* name) {
    if (RegistryDeleteKeyTree(classes, name) == 0) return true;
    RemovalFailed(classes == HKEY_CLASSES_ROOT ? "association key of HKEY_CLASSES_ROOT"
                                               : "association key of a user's classes",
                  name);
    return false;
}

} // namespace

int AssociationRemove(const char* extension) {
    return AssociationRemoveFrom(HKEY_CLASSES_ROOT, extension);
}

// The program key goes only when it is the product's alone (no other
// extension and not the shell uses it); a name that is not a key directly
// under the classes' root is refused.
int AssociationRemoveFrom(HKEY classes, const char* extension) {
    char keyName[EXTENSION_CAPACITY];
    if (extension == nullptr || !ExtensionKeyName(extension, keyName)) return 1;
    void* data = nullptr;
    DWORD size = 0;
    const int type = RegistryReadValue(classes, keyName, nullptr, &data, &size);
    if (type < 0) return 0;
    const char* programKey = static_cast<const char*>(data);
    const size_t programLength = programKey != nullptr ? strnlen(programKey, size) : 0;
    if (type != REG_SZ || std::memchr(programKey, '\\', programLength) != nullptr) {
        std::free(data);
        return type != REG_SZ ? 2 : 3;
    }
    bool removed = true;
    if (programLength > 0) {
        // The value need not end in a zero: the name is copied with its own.
        char* name = static_cast<char*>(std::malloc(programLength + 1));
        if (name != nullptr) {
            std::memcpy(name, programKey, programLength);
            name[programLength] = '\0';
            if (!ProgramKeyShared(classes, name, keyName)) removed = ClassKeyDelete(classes, name);
            std::free(name);
        } else {
            RemovalFailed("program key (out of memory) named by the association", keyName);
            removed = false;
        }
    }
    std::free(data);
    if (!ClassKeyDelete(classes, keyName)) removed = false;
    return removed ? 0 : 4;
}
