#include "zip_test_support.h"

#include "bench/bench.h"
#include "zip/zip.h"
#include "zip/zip_verify.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace ziptest {

std::string Folder() {
    static const std::string folder = [] {
        bench::MakeFolders("C:\\ziptest\\expect");
        return std::string("C:\\ziptest");
    }();
    return folder;
}

std::string PathOf(const std::string& name) {
    return Folder() + "\\" + name;
}

std::string MakeData(size_t size, char kind, uint32_t seed) {
    static const char* const words[] = {"archive ", "folder ", "KIVO ", "data ", "uninstall ", "the ",
                                        "zip ",     "entry ",  "\r\n",  "of ",   "12345 ",     "settings "};
    std::string out;
    out.reserve(size);
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    while (out.size() < size) {
        if (kind == 'r') {
            out.push_back(static_cast<char>(next() >> 24));
        } else if (kind == 'u') {
            out.append(std::min<size_t>(size - out.size(), 1000 + next() % 5000),
                       static_cast<char>('A' + next() % 3));
        } else {
            out.append(words[next() % 12]);
        }
    }
    out.resize(size);
    return out;
}

uint16_t U16(const std::string& bytes, size_t at) {
    if (at + 2 > bytes.size()) return 0;
    return static_cast<uint16_t>(uint8_t(bytes[at]) | (uint8_t(bytes[at + 1]) << 8));
}

uint32_t U32(const std::string& bytes, size_t at) {
    if (at + 4 > bytes.size()) return 0;
    return uint32_t(U16(bytes, at)) | (uint32_t(U16(bytes, at + 2)) << 16);
}

LocalHeader ParseLocal(const std::string& bytes, size_t at) {
    LocalHeader h;
    if (at + 30 > bytes.size() || U32(bytes, at) != 0x04034B50) return h;
    h.versionNeeded = U16(bytes, at + 4);
    h.flags = U16(bytes, at + 6);
    h.method = U16(bytes, at + 8);
    h.dosTime = U16(bytes, at + 10);
    h.dosDate = U16(bytes, at + 12);
    h.crc = U32(bytes, at + 14);
    h.compressedSize = U32(bytes, at + 18);
    h.uncompressedSize = U32(bytes, at + 22);
    const size_t nameLength = U16(bytes, at + 26), extraLength = U16(bytes, at + 28);
    if (at + 30 + nameLength + extraLength > bytes.size()) return h;
    h.name = bytes.substr(at + 30, nameLength);
    h.extra = bytes.substr(at + 30 + nameLength, extraLength);
    h.dataAt = at + 30 + nameLength + extraLength;
    h.valid = true;
    return h;
}

Directory ParseDirectory(const std::string& bytes) {
    Directory d;
    if (bytes.size() < 22) {
        d.why = "shorter than an end record";
        return d;
    }
    const size_t end = bytes.size() - 22;
    if (U32(bytes, end) != 0x06054B50 || U16(bytes, end + 20) != 0) {
        d.why = "no end record at the end";
        return d;
    }
    d.entriesOnDisk = U16(bytes, end + 8);
    d.entriesTotal = U16(bytes, end + 10);
    d.size = U32(bytes, end + 12);
    d.offset = U32(bytes, end + 16);
    if (uint64_t(d.offset) + d.size != end) {
        d.why = "directory does not end at the end record";
        return d;
    }
    size_t at = d.offset;
    while (at < end) {
        if (at + 46 > end || U32(bytes, at) != 0x02014B50) {
            d.why = "bad central header at " + std::to_string(at);
            return d;
        }
        CentralHeader c;
        c.versionMadeBy = U16(bytes, at + 4);
        c.versionNeeded = U16(bytes, at + 6);
        c.flags = U16(bytes, at + 8);
        c.method = U16(bytes, at + 10);
        c.dosTime = U16(bytes, at + 12);
        c.dosDate = U16(bytes, at + 14);
        c.crc = U32(bytes, at + 16);
        c.compressedSize = U32(bytes, at + 20);
        c.uncompressedSize = U32(bytes, at + 24);
        const size_t nameLength = U16(bytes, at + 28), extraLength = U16(bytes, at + 30);
        c.commentLength = U16(bytes, at + 32);
        c.diskStart = U16(bytes, at + 34);
        c.internalAttributes = U16(bytes, at + 36);
        c.externalAttributes = U32(bytes, at + 38);
        c.localOffset = U32(bytes, at + 42);
        c.name = bytes.substr(at + 46, nameLength);
        c.extra = bytes.substr(at + 46 + nameLength, extraLength);
        d.entries.push_back(c);
        at += 46 + nameLength + extraLength + c.commentLength;
    }
    d.valid = at == end;
    if (!d.valid) d.why = "directory overruns its size";
    return d;
}

namespace {

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            wsprintfA(escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

} // namespace

void Declare(const std::string& archive, const std::vector<Expected>& entries, const std::string& password) {
    std::string json =
        "{\"archive\": " + JsonText(archive) + ", \"password\": " + JsonText(password) + ", \"entries\": [";
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string content = archive + "." + std::to_string(i);
        if (!entries[i].folder) bench::WriteFileBytes(PathOf("expect\\" + content), entries[i].content);
        json += (i ? ", " : "") + std::string("{\"name\": ") + JsonText(entries[i].name) +
                ", \"folder\": " + (entries[i].folder ? "true" : "false") +
                ", \"content\": " + JsonText("expect/" + content) + "}";
    }
    json += "]}\n";
    bench::WriteFileBytes(PathOf(archive + ".json"), json);
    // Read back as the Files step does; enciphered data is not the verifier's to read.
    bool enciphered = false;
    for (const Expected& e : entries)
        enciphered = enciphered || (!password.empty() && !e.folder);
    EXPECT_EQ(Verify(archive, entries), enciphered ? ZIP_ERR_VERIFY : ZIP_OK) << archive;
}

namespace {

std::wstring WidePathOf(const std::string& name) {
    const std::string path = PathOf(name);
    std::wstring wide(path.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], int(wide.size())) - 1);
    return wide;
}

} // namespace

int Verify(const std::string& archive, const std::vector<Expected>& entries) {
    std::vector<ZipVerifyExpected> expected;
    for (const Expected& e : entries)
        expected.push_back(
            {e.name.data(), uint32_t(e.name.size()),
             Crc32Update(0, reinterpret_cast<const uint8_t*>(e.content.data()), uint32_t(e.content.size())),
             e.content.size()});
    return ZipVerifyArchiveFile(WidePathOf(archive).c_str(), expected.data(), uint32_t(expected.size()));
}

} // namespace ziptest
