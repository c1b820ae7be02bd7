// The archive verifier, natively with sanitizers, on archives that Python's
// zipfile wrote (zip_fixtures.py): each one verifies, and every damage to a
// byte the format gives meaning to, every truncation and every difference
// from the expected entries is refused.
#include "memory_zip.h"
#include "zip/zip_archive.h"
#include "zip/zip_verify.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string name;
    uint64_t size, dataAt, stored;
    uint32_t crc;
};

struct Fixture {
    std::vector<uint8_t> bytes;
    uint64_t prefix = 0; // zero bytes in front of them
    std::set<uint64_t> unchecked;
    std::vector<Entry> entries;
    bool failRead = false;
};

Fixture Load(const std::string& name) {
    Fixture f;
    std::ifstream zip(std::string(ZIP_FIXTURES) + "/" + name + ".zip", std::ios::binary);
    f.bytes.assign(std::istreambuf_iterator<char>(zip), {});
    std::ifstream manifest(std::string(ZIP_FIXTURES) + "/" + name + ".txt");
    for (std::string line, word; std::getline(manifest, line);) {
        std::istringstream in(line);
        in >> word;
        if (word == "prefix") in >> f.prefix;
        for (uint64_t at; word == "unchecked" && in >> at;)
            f.unchecked.insert(at);
        if (word != "entry") continue;
        Entry e;
        std::string hex;
        in >> e.size >> std::hex >> e.crc >> std::dec >> e.dataAt >> e.stored >> hex;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            e.name.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        f.entries.push_back(e);
    }
    EXPECT_FALSE(f.bytes.empty() || f.entries.empty()) << name;
    return f;
}

int64_t ReadFixture(void* context, uint64_t offset, uint8_t* buffer, uint32_t count) {
    const Fixture& f = *static_cast<const Fixture*>(context);
    if (f.failRead) return -1;
    if (offset + count > f.prefix + f.bytes.size()) abort(); // never past the size it was given
    for (uint32_t i = 0; i < count; ++i, ++offset)
        buffer[i] = offset < f.prefix ? 0 : f.bytes[offset - f.prefix];
    return count;
}

std::vector<ZipVerifyExpected> ExpectedOf(const Fixture& f) {
    std::vector<ZipVerifyExpected> list;
    for (const Entry& e : f.entries)
        list.push_back({e.name.data(), uint32_t(e.name.size()), e.crc, e.size});
    return list;
}

int Verify(const Fixture& f, const std::vector<ZipVerifyExpected>& expected, uint64_t size = UINT64_MAX) {
    const ZipVerifyReader reader = {const_cast<Fixture*>(&f), ReadFixture,
                                    size != UINT64_MAX ? size : f.prefix + f.bytes.size()};
    return ZipVerifyArchive(&reader, expected.data(), uint32_t(expected.size()));
}

const char* const fixtures[] = {"forced", "streamed", "shifted", "escaped"};

// An entry of an archive written here: both its headers come from these
// fields, so that a wrong field is the same in both, as our own writer would
// get it wrong.
struct Written {
    std::string name, content;
    uint16_t method, flags, version; // the version needed
    int zip64[2]; // Zip64 fields in the local and the central header, the sizes (and offset) escaped
    uint32_t crc;
    uint64_t size;
    std::vector<uint8_t> data;
};

Written Crafted(const std::string& name, const std::string& content, uint16_t method, int zip64 = 0) {
    const std::vector<uint8_t> bytes(content.begin(), content.end());
    const uint32_t crc = uint32_t(crc32(0, bytes.data(), uInt(bytes.size())));
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    const uint16_t flags = ascii ? 0 : 0x800;
    return {name,  content,      method,
            flags, 45,           {zip64, zip64},
            crc,   bytes.size(), method == 8 ? memzip::Deflate(bytes).output : bytes};
}

// The archive's place: behind prefix zero bytes (with a Zip64 end record), and
// how far the end record's counts are off.
struct Layout {
    uint64_t prefix;
    int countError;
};

std::vector<uint8_t> Write(const std::vector<Written>& entries, const Layout& layout) {
    std::vector<uint8_t> out, directory;
    const auto put = [](std::vector<uint8_t>& to, uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i, value >>= 8)
            to.push_back(uint8_t(value));
    };
    for (const Written& e : entries) {
        const uint64_t offset = layout.prefix + out.size();
        for (const bool central : {false, true}) {
            std::vector<uint8_t>& to = central ? directory : out;
            const int fields = e.zip64[central];
            const auto escaped = [&](uint64_t value) { return fields > 0 ? 0xFFFFFFFFu : value; };
            put(to, central ? 0x02014B50 : 0x04034B50, 4);
            put(to, central ? 45 | e.version << 16 : e.version, central ? 4 : 2); // (made by and) needed
            put(to, e.flags, 2), put(to, e.method, 2), put(to, 0x58B15000, 4), put(to, e.crc, 4);
            put(to, escaped(e.data.size()), 4), put(to, escaped(e.size), 4);
            put(to, e.name.size(), 2), put(to, fields * (central ? 28 : 20), 2);
            if (central) put(to, 0, 10), put(to, escaped(offset), 4);
            to.insert(to.end(), e.name.begin(), e.name.end());
            for (int i = 0; i < fields; ++i) {
                put(to, 1, 2), put(to, central ? 24 : 16, 2), put(to, e.size, 8), put(to, e.data.size(), 8);
                if (central) put(to, offset, 8);
            }
        }
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    const uint64_t at = layout.prefix + out.size(), count = entries.size() + layout.countError;
    out.insert(out.end(), directory.begin(), directory.end());
    if (layout.prefix > 0) {
        const uint64_t record = layout.prefix + out.size();
        put(out, 0x06064B50, 4), put(out, 44, 8), put(out, 45 | 45 << 16, 4), put(out, 0, 8);
        put(out, count, 8), put(out, count, 8), put(out, directory.size(), 8), put(out, at, 8);
        put(out, 0x07064B50, 4), put(out, 0, 4), put(out, record, 8), put(out, 1, 4);
    }
    put(out, 0x06054B50, 4), put(out, 0, 4), put(out, count, 2), put(out, count, 2);
    put(out, directory.size(), 4), put(out, layout.prefix > 0 ? 0xFFFFFFFF : at, 4), put(out, 0, 2);
    return out;
}

} // namespace

TEST(ZipVerify, ArchivesOfEveryLayoutVerify) {
    for (const char* name : fixtures) {
        const Fixture f = Load(name);
        EXPECT_EQ(Verify(f, ExpectedOf(f)), ZIP_OK) << name;
    }
}

// Each byte inverted in turn: in the data, the headers, the descriptors, the
// directory and the end records. Only the fields that carry nothing the
// archive's contents depend on may change unnoticed.
TEST(ZipVerify, EveryByteThatMattersIsChecked) {
    for (const char* name : fixtures) {
        Fixture f = Load(name);
        const auto expected = ExpectedOf(f);
        for (size_t at = 0; at < f.bytes.size(); ++at) {
            f.bytes[at] ^= 0xFF;
            const int result = Verify(f, expected);
            f.bytes[at] ^= 0xFF;
            if (f.unchecked.count(at) == 0) EXPECT_EQ(result, ZIP_ERR_VERIFY) << name << " byte " << at;
            if (f.unchecked.count(at) != 0) EXPECT_EQ(result, ZIP_OK) << name << " byte " << at;
        }
    }
}

TEST(ZipVerify, TruncatedOrExtendedArchivesFail) {
    for (const char* name : fixtures) {
        Fixture f = Load(name);
        const auto expected = ExpectedOf(f);
        for (uint64_t size = 0; size < f.prefix + f.bytes.size(); size += size < f.prefix ? f.prefix : 1)
            EXPECT_EQ(Verify(f, expected, size), ZIP_ERR_VERIFY) << name << " cut to " << size;
        f.bytes.push_back(0);
        EXPECT_EQ(Verify(f, expected), ZIP_ERR_VERIFY) << name << " with a byte after its end";
    }
}

TEST(ZipVerify, ExpectedEntriesMustMatchOneForOne) {
    const Fixture f = Load("forced");
    const auto expected = ExpectedOf(f);
    for (size_t i = 0; i < expected.size(); ++i) {
        auto wrong = expected;
        wrong[i].crc32 ^= 1;
        EXPECT_EQ(Verify(f, wrong), ZIP_ERR_VERIFY) << "CRC of " << i;
        wrong = expected;
        wrong[i].size += 1;
        EXPECT_EQ(Verify(f, wrong), ZIP_ERR_VERIFY) << "size of " << i;
        wrong = expected;
        wrong[i].nameLength -= 1;
        EXPECT_EQ(Verify(f, wrong), ZIP_ERR_VERIFY) << "name of " << i;
        wrong = expected;
        wrong.erase(wrong.begin() + long(i));
        EXPECT_EQ(Verify(f, wrong), ZIP_ERR_VERIFY) << "without " << i;
        wrong = expected;
        wrong.insert(wrong.begin() + long(i), expected[i]);
        EXPECT_EQ(Verify(f, wrong), ZIP_ERR_VERIFY) << "twice " << i;
    }
    auto swapped = expected;
    std::swap(swapped[0], swapped[1]);
    EXPECT_EQ(Verify(f, swapped), ZIP_ERR_VERIFY);
    EXPECT_EQ(Verify(f, {}), ZIP_ERR_VERIFY);
}

// The directory lists every entry once: a header the end record does not
// count, or two headers of one entry, fail even when the list says the same.
TEST(ZipVerify, DirectoryListsEachEntryOnce) {
    Fixture f = Load("forced");
    auto expected = ExpectedOf(f);
    uint8_t* end = f.bytes.data() + f.bytes.size() - 22;
    const auto add = [](uint8_t* at, int delta) { at[0] = uint8_t(at[0] + delta); };
    add(end + 8, -1), add(end + 10, -1);
    expected.pop_back();
    EXPECT_EQ(Verify(f, expected), ZIP_ERR_VERIFY);

    f = Load("forced");
    expected = ExpectedOf(f);
    expected.insert(expected.begin(), expected[0]);
    const size_t directory = f.bytes[f.bytes.size() - 6] | f.bytes[f.bytes.size() - 5] << 8;
    const size_t first = 46 + f.entries[0].name.size(); // zipfile adds no field to a small entry's header
    f.bytes.insert(f.bytes.begin() + long(directory), f.bytes.begin() + long(directory),
                   f.bytes.begin() + long(directory + first));
    end = f.bytes.data() + f.bytes.size() - 22;
    add(end + 8, 1), add(end + 10, 1), add(end + 12, int(first));
    EXPECT_EQ(Verify(f, expected), ZIP_ERR_VERIFY);
}

// Damage that is consistent (the same wrong field in both headers, or in both
// counts of the end record) over the entries the writer read fails as well.
TEST(ZipVerify, ConsistentDamageFails) {
    const auto base = [] {
        return std::vector<Written>{Crafted("readme.txt", std::string(3000, 'k') + "archive", 8),
                                    Crafted("photo.bin", "\x01\x02\xFF stored", 0, 1),
                                    Crafted("\xC3\xA9t\xC3\xA9.txt", "flagged", 8)};
    };
    struct Damage {
        const char* what;
        std::function<void(std::vector<Written>&, Layout&)> make;
    };
    std::vector<Damage> damages = {
        {"none", [](auto&, Layout&) {}},
        {"none, at 4 GiB - 1 with a Zip64 field",
         [](auto& e, Layout& l) { e.resize(1), e[0].zip64[1] = 1, l.prefix = 0xFFFFFFFF; }},
        {"an offset at its escape without a Zip64 field",
         [](auto& e, Layout& l) { e.resize(1), l.prefix = 0xFFFFFFFF; }},
        {"enciphered", [](auto& e, Layout&) { e[0].flags |= 1; }},
        {"version 4.6 needed", [](auto& e, Layout&) { e[0].version = 46; }},
        {"wrong CRC-32", [](auto& e, Layout&) { e[0].crc ^= 1; }},
        {"wrong size", [](auto& e, Layout&) { e[0].size += 1; }},
        {"wrong size in the Zip64 fields", [](auto& e, Layout&) { e[1].size += 1; }},
        {"both entry counts one too many", [](auto&, Layout& l) { l.countError = 1; }},
        {"a byte after the deflate stream", [](auto& e, Layout&) { e[0].data.push_back(0); }},
        {"two Zip64 fields in the local header", [](auto& e, Layout&) { e[1].zip64[0] = 2; }},
        {"two Zip64 fields in the central header", [](auto& e, Layout&) { e[1].zip64[1] = 2; }},
        {"overlong form in a flagged name", [](auto& e, Layout&) { e[2].name = "\xC0\xAE\xC3\xA9"; }},
        {"surrogate in a flagged name", [](auto& e, Layout&) { e[2].name = "\xED\xA0\x80\xC3\xA9"; }},
        {"past U+10FFFF in a flagged name", [](auto& e, Layout&) { e[2].name = "\xF4\x90\x80\x80\xC3\xA9"; }},
        {"cut sequence ends a flagged name", [](auto& e, Layout&) { e[2].name = "\xC3\xA9\xC3"; }},
    };
    for (uint16_t method = 1; method <= 7; ++method)
        damages.push_back(
            {"method 1 to 7 over deflated data", [method](auto& e, Layout&) { e[0].method = method; }});
    for (const Damage& d : damages) {
        auto entries = base();
        Layout layout = {0, 0};
        d.make(entries, layout);
        Fixture f;
        f.bytes = Write(entries, layout);
        f.prefix = layout.prefix;
        // What the writer read; each name is followed in memory by a byte
        // that would complete a sequence cut at its end.
        std::vector<std::string> names;
        std::vector<ZipVerifyExpected> expected;
        for (const Written& e : entries)
            names.push_back(e.name + "\xA9");
        for (size_t i = 0; i < entries.size(); ++i)
            expected.push_back({names[i].data(), uint32_t(entries[i].name.size()),
                                uint32_t(crc32(0, reinterpret_cast<const Bytef*>(entries[i].content.data()),
                                               uInt(entries[i].content.size()))),
                                entries[i].content.size()});
        EXPECT_EQ(Verify(f, expected), std::string(d.what).rfind("none", 0) == 0 ? ZIP_OK : ZIP_ERR_VERIFY)
            << d.what;
    }
}

// Readers that honour the UTF-8 flag refuse a name that is not UTF-8.
TEST(ZipVerify, FlaggedNameMustBeUtf8) {
    Fixture f = Load("forced");
    std::string& name = f.entries[1].name; // "Données été.txt", flagged
    const size_t at = name.find('\xC3');
    ASSERT_NE(at, std::string::npos);
    for (size_t i = 0; i + name.size() <= f.bytes.size(); ++i)
        if (std::memcmp(f.bytes.data() + i, name.data(), name.size()) == 0)
            f.bytes[i + at] = 0xE9; // Latin-1 é
    name[at] = '\xE9';
    EXPECT_EQ(Verify(f, ExpectedOf(f)), ZIP_ERR_VERIFY);
}

TEST(ZipVerify, ReadFailureAllocationFailureAndBadArguments) {
    Fixture f = Load("forced");
    const auto expected = ExpectedOf(f);
    f.failRead = true;
    EXPECT_EQ(Verify(f, expected), ZIP_ERR_READ);
    f.failRead = false;
    memzip::FailAllocations(true);
    EXPECT_EQ(Verify(f, expected), ZIP_ERR_NOMEM);
    memzip::FailAllocations(false);
    EXPECT_EQ(ZipVerifyArchive(nullptr, expected.data(), 1), ZIP_ERR_ARGS);
    const ZipVerifyReader reader = {&f, ReadFixture, f.bytes.size()};
    EXPECT_EQ(ZipVerifyArchive(&reader, nullptr, 1), ZIP_ERR_ARGS);
}
