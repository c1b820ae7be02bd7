// CRC-32, the time conversions and the cipher: plain code, also built
// natively with the sanitizers.
#include "zip/crc32.h"
#include "zip/zip_crypt.h"
#include "zip/zip_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
