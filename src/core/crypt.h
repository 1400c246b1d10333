// crypt.h -- traditional PKWARE encryption: key schedule, keystream byte, password check.
#ifndef SFXKIT_CORE_CRYPT_H
#define SFXKIT_CORE_CRYPT_H
#include <stdint.h>

void InitKeys(const char *password, uint32_t length);
void UpdateKeys(uint8_t plain);
uint8_t DecryptByte();
// Decrypts bytes in place, each then fed to UpdateKeys (the data path of inflate and the copier).
void DecryptBuffer(uint8_t *buffer, uint32_t count);
// The writer's side: encrypts bytes in place, each plain byte fed to UpdateKeys.
void EncryptBuffer(uint8_t *buffer, uint32_t count);
// buffer: 24 bytes, the header as read in bytes n..2n-1 (never changed), the decrypted
// header of this try written to bytes 0..n-1. n is the header length (12). Returns
// false without touching the keys for an empty password; on true CryptKeys stand
// just behind the header.
bool CheckPassword(uint8_t *buffer, uint8_t n, uint16_t flags, uint32_t crc32, uint16_t dosTime,
                   const char *password, uint32_t passwordLength);
#endif
