// The traditional PKWARE stream cipher of the zip format and the source of
// the random bytes of its 12-byte header. Plain C++.
#pragma once

#include <cstdint>

constexpr uint32_t ZIP_CRYPT_HEADER_SIZE = 12;

//--- cipher
// Sets the three keys to their initial values and mixes in the password.
void ZipCryptInitKeys(uint32_t keys[3], const char* password);
// Enciphers one byte and advances the keys with the plain byte.
uint8_t ZipCryptEncipher(uint32_t keys[3], uint8_t plain);
// Deciphers one byte and advances the keys with the plain byte it yields.
uint8_t ZipCryptDecipher(uint32_t keys[3], uint8_t cipher);

//--- header
// Mixes seed into the process-wide generator of header bytes.
void ZipCryptSeed(uint64_t seed);
// Fills the plain 12-byte header: 11 random non-zero bytes, then checkByte.
void ZipCryptMakeHeader(uint8_t header[ZIP_CRYPT_HEADER_SIZE], uint8_t checkByte);
