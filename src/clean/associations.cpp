#include "clean/clean.h"
#include "platform/registry.h"

#include <cstdlib>
#include <cstring>

namespace {

// ".", at most 9 characters, the zero.
constexpr size_t EXTENSION_CAPACITY = 12;
constexpr size_t EXTENSION_LENGTH = 10;

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

} // namespace

// The program key is deleted whatever program it belongs to; only a name
// that is not a key directly under HKEY_CLASSES_ROOT is refused.
int AssociationRemove(const char* extension) {
    char keyName[EXTENSION_CAPACITY];
    if (extension == nullptr || !ExtensionKeyName(extension, keyName)) return 1;
    void* data = nullptr;
    DWORD size = 0;
    const int type = RegistryReadValue(HKEY_CLASSES_ROOT, keyName, nullptr, &data, &size);
    if (type < 0) return 0;
    const char* programKey = static_cast<const char*>(data);
    const size_t programLength = programKey != nullptr ? strnlen(programKey, size) : 0;
    if (type != REG_SZ || std::memchr(programKey, '\\', programLength) != nullptr) {
        std::free(data);
        return type != REG_SZ ? 2 : 3;
    }
    if (programLength > 0) {
        // The value need not end in a zero: the name is copied with its own.
        char* name = static_cast<char*>(std::malloc(programLength + 1));
        if (name != nullptr) {
            std::memcpy(name, programKey, programLength);
            name[programLength] = '\0';
            RegistryDeleteKeyTree(HKEY_CLASSES_ROOT, name);
            std::free(name);
        }
    }
    std::free(data);
    RegistryDeleteKeyTree(HKEY_CLASSES_ROOT, keyName);
    return 0;
}
