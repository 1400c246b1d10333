// crypt.cpp -- traditional PKWARE decryption: the three-key schedule, the keystream byte, the header check.
#include "crypt.h"

#include "crc32.h"
#include "sfxcore.h"

void InitKeys(const char *password, uint32_t length) {
  CryptKeys[0] = 0x12345678u;
  CryptKeys[1] = 0x23456789u;
  CryptKeys[2] = 0x34567890u;
  for (uint32_t i = 0; i < length; i++) UpdateKeys((uint8_t)password[i]);
}

void UpdateKeys(uint8_t plain) {
  CryptKeys[0] = UpdateCrc(plain, CryptKeys[0]);
  CryptKeys[1] = (CryptKeys[1] + (CryptKeys[0] & 0xFF)) * 0x08088405u + 1;
  CryptKeys[2] = UpdateCrc((uint8_t)(CryptKeys[1] >> 24), CryptKeys[2]);
}

uint8_t DecryptByte() {
  uint16_t t = (uint16_t)((CryptKeys[2] & 0xFFFF) | 2);
  return (uint8_t)(((uint32_t)t * (t ^ 1u)) >> 8);
}

// The keys live in locals for the length of a block: the inflate input and the
// stored-member copier run every byte of an encrypted member through here.
void DecryptBuffer(uint8_t *buffer, uint32_t count) {
  uint32_t k0 = CryptKeys[0], k1 = CryptKeys[1], k2 = CryptKeys[2];
  for (uint32_t i = 0; i < count; i++) {
    uint32_t t = (k2 & 0xFFFF) | 2;
    uint8_t plain = (uint8_t)(buffer[i] ^ (uint8_t)((t * (t ^ 1u)) >> 8));
    buffer[i] = plain;
    k0 = CrcTable[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 0x08088405u + 1;
    k2 = CrcTable[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  CryptKeys[0] = k0;
  CryptKeys[1] = k1;
  CryptKeys[2] = k2;
}

void EncryptBuffer(uint8_t *buffer, uint32_t count) {
  for (uint32_t i = 0; i < count; i++) {
    uint8_t plain = buffer[i];
    buffer[i] = (uint8_t)(plain ^ DecryptByte());
    UpdateKeys(plain);
  }
}

// The check byte is the last header byte: it repeats the top byte of the CRC, or,
// when the sizes and CRC follow the data (Flags bit 3) and the writer could not
// know the CRC yet, the high byte of the DOS time.
bool CheckPassword(uint8_t *buffer, uint8_t n, uint16_t flags, uint32_t crc32, uint16_t dosTime,
                   const char *password, uint32_t passwordLength) {
  if (passwordLength == 0 || n == 0) return false;
  InitKeys(password, passwordLength);
  for (uint8_t i = 0; i < n; i++) buffer[i] = buffer[n + i];
  DecryptBuffer(buffer, n);
  uint8_t check = buffer[n - 1];
  if (flags & 8) return check == (uint8_t)(dosTime >> 8);
  return check == (uint8_t)(crc32 >> 24);
}
