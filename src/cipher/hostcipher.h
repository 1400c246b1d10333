// hostcipher.h -- what sfxmake asks of the host's cryptography beyond the AES
// routines the core declares (aes.h): random bytes and a keyed hash. They come
// from the same source as those (CNG on Windows, libgcrypt elsewhere), so that
// sfxmake and sfxmake.exe derive the same bytes from the same input.
#ifndef SFXKIT_CIPHER_HOSTCIPHER_H
#define SFXKIT_CIPHER_HOSTCIPHER_H
#include <stdint.h>

enum : uint32_t { KeyedHashSize = 32 };  // HMAC-SHA-256

// `count` bytes from the system's random source; false when it fails.
bool SystemRandom(uint8_t *bytes, uint32_t count);

// An HMAC-SHA-256 under way; Handle is null once a call failed or it is finished.
struct KeyedHash {
  void *Handle;
};
// False, with nothing open, when the system cannot give one.
bool OpenKeyedHash(KeyedHash *hash, const uint8_t *key, uint32_t keySize);
void UpdateKeyedHash(KeyedHash *hash, const uint8_t *data, uint32_t size);
// The HMAC of everything fed to it, the hash closed; false when a call failed.
bool FinishKeyedHash(KeyedHash *hash, uint8_t digest[KeyedHashSize]);
#endif
