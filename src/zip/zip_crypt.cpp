#include "zip/zip_crypt.h"

#include "zip/crc32.h"

namespace {

// One step of the CRC-32 register on a single byte (without the inversions
// that Crc32Update applies around a whole run).
uint32_t CrcStep(uint32_t crc, uint8_t byte) {
    const uint32_t inverted = ~crc;
    return ~Crc32Update(inverted, &byte, 1);
}

void UpdateKeys(uint32_t keys[3], uint8_t plain) {
    keys[0] = CrcStep(keys[0], plain);
    keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
    keys[2] = CrcStep(keys[2], static_cast<uint8_t>(keys[1] >> 24));
}

uint8_t KeystreamByte(const uint32_t keys[3]) {
    const uint32_t temp = (keys[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

// The header bytes only need to differ between entries, not to be secret
// beyond what this cipher offers; a splitmix64 sequence serves. Its state is
// the only process-wide state of the archiver.
uint64_t generatorState = 0x9E3779B97F4A7C15ull;

uint64_t NextRandom() {
    generatorState += 0x9E3779B97F4A7C15ull;
    uint64_t z = generatorState;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

void ZipCryptInitKeys(uint32_t keys[3], const char* password) {
    keys[0] = 0x12345678u;
    keys[1] = 0x23456789u;
    keys[2] = 0x34567890u;
    for (const char* p = password; p != nullptr && *p != '\0'; ++p)
        UpdateKeys(keys, static_cast<uint8_t>(*p));
}

uint8_t ZipCryptEncipher(uint32_t keys[3], uint8_t plain) {
    const uint8_t cipher = static_cast<uint8_t>(plain ^ KeystreamByte(keys));
    UpdateKeys(keys, plain);
    return cipher;
}

uint8_t ZipCryptDecipher(uint32_t keys[3], uint8_t cipher) {
    const uint8_t plain = static_cast<uint8_t>(cipher ^ KeystreamByte(keys));
    UpdateKeys(keys, plain);
    return plain;
}

void ZipCryptSeed(uint64_t seed) {
    generatorState ^= seed;
    NextRandom();
}

void ZipCryptMakeHeader(uint8_t header[ZIP_CRYPT_HEADER_SIZE], uint8_t checkByte) {
    for (uint32_t i = 0; i + 1 < ZIP_CRYPT_HEADER_SIZE; ++i) {
        uint8_t byte = 0;
        while (byte == 0)
            byte = static_cast<uint8_t>(NextRandom() >> 56);
        header[i] = byte;
    }
    header[ZIP_CRYPT_HEADER_SIZE - 1] = checkByte;
}
