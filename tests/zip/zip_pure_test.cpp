// CRC-32, the time and name conversions, the cipher and the listing of a
// closed archive: plain code, also built natively with the sanitizers.
#include "zip/crc32.h"
#include "zip/zip.h"
#include "zip/zip_crypt.h"
#include "zip/zip_names.h"
#include "zip/zip_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t Crc(const std::string& text) {
    return Crc32Update(0, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
}

} // namespace

TEST(ZipCrc, MatchesTheCheckValueAndContinuesAcrossRuns) {
    EXPECT_EQ(Crc("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc(""), 0u);
    EXPECT_EQ(Crc32Update(0x1234, nullptr, 5), 0u);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(Crc(text), 0x414FA339u);
    uint32_t crc = 0;
    for (char c : text)
        crc = Crc32Update(crc, reinterpret_cast<const uint8_t*>(&c), 1);
    EXPECT_EQ(crc, Crc(text));
}

// The CRC taken several bytes per step must equal the register of the
// definition, shifted bit by bit, at every length, alignment and split.
TEST(ZipCrc, EqualsTheBitwiseDefinitionAtEveryLengthAlignmentAndSplit) {
    auto bitwise = [](const uint8_t* bytes, size_t length) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < length; ++i) {
            c ^= bytes[i];
            for (int bit = 0; bit < 8; ++bit)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        }
        return ~c;
    };
    std::vector<uint8_t> data(4096 + 8);
    uint32_t seed = 12345;
    for (uint8_t& byte : data) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 23);
    }
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t length = 0; length <= 40; ++length)
            ASSERT_EQ(Crc32Update(0, &data[offset], uint32_t(length)), bitwise(&data[offset], length))
                << offset << " " << length;
    const uint32_t whole = bitwise(&data[0], 4096);
    ASSERT_EQ(Crc32Update(0, &data[0], 4096), whole);
    for (size_t split = 1; split < 4096; split += 509)
        EXPECT_EQ(
            Crc32Update(Crc32Update(0, &data[0], uint32_t(split)), &data[split], uint32_t(4096 - split)),
            whole);
}

TEST(ZipTime, DosStampsPackTheCivilTime) {
    const ZipCivilTime t{2013, 6, 24, 14, 5, 9};
    EXPECT_EQ(ZipDosDate(t), (33 << 9) | (6 << 5) | 24);
    EXPECT_EQ(ZipDosTime(t), (14 << 11) | (5 << 5) | 4);
    EXPECT_EQ(ZipDosDate(ZipCivilTime{1980, 1, 1, 0, 0, 0}), 0x21);
    EXPECT_EQ(ZipDosTime(ZipCivilTime{2000, 1, 1, 23, 59, 59}), (23 << 11) | (59 << 5) | 29);
}

TEST(ZipTime, StampsOutsideTheDosRangeArePinnedNotWrapped) {
    EXPECT_EQ(ZipDosDate(ZipCivilTime{1970, 1, 1, 0, 0, 0}), 0x21);
    EXPECT_EQ(ZipDosTime(ZipCivilTime{1970, 1, 1, 12, 0, 0}), 0);
    EXPECT_EQ(ZipDosDate(ZipCivilTime{2200, 5, 5, 0, 0, 0}), (127 << 9) | (12 << 5) | 31);
}

TEST(ZipTime, UnixSecondsCountFrom1970AndTruncateTowardZero) {
    const uint64_t epoch = 116444736000000000ull;
    EXPECT_EQ(ZipUnixSeconds(epoch), 0u);
    EXPECT_EQ(ZipUnixSeconds(epoch + 10000000ull * 1371996309ull), 1371996309u);
    EXPECT_EQ(ZipUnixSeconds(epoch + 19999999ull), 1u);
    EXPECT_EQ(ZipUnixSeconds(epoch - 5000000ull), 0u);
    EXPECT_EQ(ZipUnixSeconds(epoch - 10000000ull), 0xFFFFFFFFu);
}

TEST(ZipCrypt, KeysStartFromTheFormatsConstantsAndRoundTrip) {
    uint32_t keys[3];
    ZipCryptInitKeys(keys, "");
    EXPECT_EQ(keys[0], 0x12345678u);
    EXPECT_EQ(keys[1], 0x23456789u);
    EXPECT_EQ(keys[2], 0x34567890u);

    uint32_t enciphering[3], deciphering[3];
    ZipCryptInitKeys(enciphering, "secret");
    ZipCryptInitKeys(deciphering, "secret");
    EXPECT_NE(std::memcmp(enciphering, keys, sizeof keys), 0);
    const std::string plain = "enciphered text, long enough to move the keys a lot";
    std::string cipher, back;
    for (char c : plain)
        cipher.push_back(char(ZipCryptEncipher(enciphering, uint8_t(c))));
    EXPECT_NE(cipher, plain);
    for (char c : cipher)
        back.push_back(char(ZipCryptDecipher(deciphering, uint8_t(c))));
    EXPECT_EQ(back, plain);
}

TEST(ZipCrypt, HeaderIsElevenNonZeroBytesThenTheCheckByteAndVaries) {
    uint8_t first[ZIP_CRYPT_HEADER_SIZE], second[ZIP_CRYPT_HEADER_SIZE];
    ZipCryptSeed(42);
    ZipCryptMakeHeader(first, 0xA5);
    ZipCryptMakeHeader(second, 0x00);
    for (uint32_t i = 0; i < 11; ++i) {
        EXPECT_NE(first[i], 0) << i;
        EXPECT_NE(second[i], 0) << i;
    }
    EXPECT_EQ(first[11], 0xA5);
    EXPECT_EQ(second[11], 0x00);
    EXPECT_NE(std::memcmp(first, second, 11), 0);
}

TEST(ZipNames, WideNamesBecomeUtf8AndHalfPairsAreRefused) {
    const char16_t text[] = u"Donn\u00E9es \u03B1\u0142\u65E5 \U0001F600";
    char out[64];
    const int64_t length = ZipNameFromUtf16(text, std::char_traits<char16_t>::length(text), out, sizeof out);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(out, size_t(length)), u8"Donn\u00E9es \u03B1\u0142\u65E5 \U0001F600");
    EXPECT_EQ(ZipNameFromUtf16(u"a\xD83D", 2, out, sizeof out), -1);      // high half at the end
    EXPECT_EQ(ZipNameFromUtf16(u"\xD83Dz", 2, out, sizeof out), -1);      // high half before a letter
    EXPECT_EQ(ZipNameFromUtf16(u"\xDE00\xD83D", 2, out, sizeof out), -1); // low half first
    EXPECT_EQ(ZipNameFromUtf16(u"\U0001F600", 2, out, 3), -1);            // four bytes, room for three
    EXPECT_EQ(ZipNameFromUtf16(u"\u65E5", 1, out, 3), 3);
    EXPECT_TRUE(ZipNameIsAscii("plain/name.txt", 14));
    EXPECT_FALSE(ZipNameIsAscii("caf\xC3\xA9", 5));
}

// Names in byte order, a name before the longer ones it begins.
TEST(ZipListing, FindsEveryStoredNameAndNothingElse) {
    const std::vector<std::string> names = {"b/c.txt", "a", "b", "ab", "\xC3\xA9t\xC3\xA9", "b/c"};
    ZipListing listing = {};
    listing.count = uint32_t(names.size());
    listing.entries = static_cast<ZipListedEntry*>(ZipAlloc(listing.count * sizeof(ZipListedEntry)));
    listing.names = static_cast<uint8_t*>(ZipAlloc(64));
    uint32_t at = 0;
    for (uint32_t i = 0; i < listing.count; ++i) {
        std::memcpy(listing.names + at, names[i].data(), names[i].size());
        listing.entries[i].nameOffset = at;
        listing.entries[i].nameLength = uint32_t(names[i].size());
        at += uint32_t(names[i].size());
    }
    EXPECT_EQ(ZipListingFind(&listing, "a", 1), -1); // not sorted yet
    ASSERT_TRUE(ZipListingSort(&listing));
    for (uint32_t i = 0; i < listing.count; ++i)
        EXPECT_EQ(ZipListingFind(&listing, names[i].data(), uint32_t(names[i].size())), int64_t(i))
            << names[i];
    for (const char* absent : {"", "b/", "b/c.tx", "abc", "c", "\xC3\xA9"})
        EXPECT_EQ(ZipListingFind(&listing, absent, uint32_t(std::strlen(absent))), -1) << absent;
    ZipListingFree(&listing);
    EXPECT_EQ(listing.entries, nullptr);
}
