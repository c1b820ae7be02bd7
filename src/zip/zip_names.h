// The text of stored names: UTF-16 (the system's wide names) to UTF-8, which
// the archive stores with the format's UTF-8 flag. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether the first length bytes are all plain ASCII, stored without the flag.
inline bool ZipNameIsAscii(const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<uint8_t>(name[i]) >= 0x80) return false;
    return true;
}

// Writes the UTF-8 form of length UTF-16 units (wchar_t on Windows, char16_t
// elsewhere) into out, without a terminating zero, and returns its length in
// bytes; -1 when out cannot hold it or a unit is half of a surrogate pair
// without its other half (such a name has no UTF-8 form, and a reader could not
// give it back).
template <class Unit> int64_t ZipNameFromUtf16(const Unit* text, size_t length, char* out, size_t capacity) {
    size_t at = 0;
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDFFF) {
            const uint32_t low = i + 1 < length ? static_cast<uint16_t>(text[i + 1]) : 0;
            if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return -1;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        const size_t bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (capacity - at < bytes) return -1;
        if (bytes == 1) {
            out[at++] = static_cast<char>(c);
            continue;
        }
        static const uint8_t lead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (size_t k = bytes; k-- > 1;) {
            out[at + k] = static_cast<char>(0x80 | (c & 0x3F));
            c >>= 6;
        }
        out[at] = static_cast<char>(lead[bytes] | c);
        at += bytes;
    }
    return static_cast<int64_t>(at);
}
