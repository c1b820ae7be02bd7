#include "zip_test_support.h"

#include "bench/bench.h"
#include "zip/zip.h"
#include "zip/zip_verify.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>

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

uint64_t U64(const std::string& bytes, size_t at) {
    return uint64_t(U32(bytes, at)) | (uint64_t(U32(bytes, at + 4)) << 32);
}

std::string ExtraField(const std::string& extra, uint16_t tag) {
    for (size_t at = 0; at + 4 <= extra.size(); at += 4 + U16(extra, at + 2))
        if (U16(extra, at) == tag) return extra.substr(at + 4, U16(extra, at + 2));
    return "";
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
    h.uncompressed64 = h.uncompressedSize;
    h.compressed64 = h.compressedSize;
    const std::string zip64 = ExtraField(h.extra, 1);
    if (zip64.size() == 16) {
        h.uncompressed64 = U64(zip64, 0);
        h.compressed64 = U64(zip64, 8);
    }
    h.valid = true;
    return h;
}

Directory ParseDirectory(const std::string& bytes, uint64_t base) {
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
    d.entries64 = d.entriesTotal;
    d.size64 = d.size;
    d.offset64 = d.offset;
    size_t directoryEnd = end;
    if (end >= 76 && U32(bytes, end - 20) == 0x07064B50) {
        const size_t record = size_t(U64(bytes, end - 12) - base);
        if (record != end - 76 || U32(bytes, record) != 0x06064B50 || U64(bytes, record + 4) != 44 ||
            U32(bytes, end - 4) != 1) {
            d.why = "bad Zip64 end record or locator";
            return d;
        }
        d.zip64 = true;
        d.entries64 = U64(bytes, record + 32);
        d.size64 = U64(bytes, record + 40);
        d.offset64 = U64(bytes, record + 48);
        directoryEnd = record;
    }
    if (d.offset64 + d.size64 - base != directoryEnd) {
        d.why = "directory does not end at the end records";
        return d;
    }
    size_t at = size_t(d.offset64 - base);
    while (at < directoryEnd) {
        if (at + 46 > directoryEnd || U32(bytes, at) != 0x02014B50) {
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
        // The Zip64 field holds, in this order, the values whose field is escaped.
        const std::string zip64 = ExtraField(c.extra, 1);
        size_t next = 0;
        auto wide = [&](uint32_t value) {
            return value == 0xFFFFFFFFu ? (next += 8, U64(zip64, next - 8)) : value;
        };
        c.uncompressed64 = wide(c.uncompressedSize);
        c.compressed64 = wide(c.compressedSize);
        c.offset64 = wide(c.localOffset) - base;
        if (next != zip64.size()) {
            d.why = "Zip64 field of " + c.name + " does not match its escaped fields";
            return d;
        }
        d.entries.push_back(c);
        at += 46 + nameLength + extraLength + c.commentLength;
    }
    d.valid = at == directoryEnd && d.entries.size() == d.entries64;
    if (!d.valid) d.why = "directory overruns its size or miscounts its entries";
    return d;
}

namespace {

// Names are UTF-8 or ASCII; the manifest is read as UTF-8.
std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
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

std::string WithoutAccessTimes(std::string bytes) {
    for (const CentralHeader& c : ParseDirectory(bytes).entries) {
        const LocalHeader local = ParseLocal(bytes, c.localOffset);
        if (local.valid) bytes.replace(local.dataAt - local.extra.size() + 9, 4, 4, '\0');
    }
    return bytes;
}

void Declare(const std::string& archive, const std::vector<Expected>& entries, const std::string& password,
             bool sevenZip) {
    std::string json =
        "{\"archive\": " + JsonText(archive) + ", \"password\": " + JsonText(password) + ", \"entries\": [";
    // Entries with equal contents share one file of them.
    std::map<std::string, std::string> written;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Expected& e = entries[i];
        std::string& content = written[e.content];
        if (content.empty() && !e.folder && e.zeros == 0) {
            content = archive + "." + std::to_string(i);
            bench::WriteFileBytes(PathOf("expect\\" + content), e.content);
        }
        json += (i ? ", " : "") + std::string("{\"name\": ") + JsonText(e.name) +
                ", \"folder\": " + (e.folder ? "true" : "false") + ", \"zeros\": " + std::to_string(e.zeros) +
                ", \"content\": " + JsonText("expect/" + content) + "}";
    }
    json += std::string("], \"sevenZip\": ") + (sevenZip ? "true" : "false") + "}\n";
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
    return VerifyWide(WidePathOf(archive), entries);
}

int VerifyWide(const std::wstring& path, const std::vector<Expected>& entries) {
    std::vector<ZipVerifyExpected> expected;
    const std::string zeros(1 << 20, '\0');
    for (const Expected& e : entries) {
        uint32_t crc =
            Crc32Update(0, reinterpret_cast<const uint8_t*>(e.content.data()), uint32_t(e.content.size()));
        for (uint64_t left = e.zeros; left > 0; left -= std::min<uint64_t>(left, zeros.size()))
            crc = Crc32Update(crc, reinterpret_cast<const uint8_t*>(zeros.data()),
                              uint32_t(std::min<uint64_t>(left, zeros.size())));
        expected.push_back(
            {e.name.data(), uint32_t(e.name.size()), crc, e.zeros != 0 ? e.zeros : e.content.size()});
    }
    return ZipVerifyArchiveFile(path.c_str(), expected.data(), uint32_t(expected.size()));
}

} // namespace ziptest
