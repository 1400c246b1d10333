// aes.h -- AES in counter mode with an HMAC-SHA1 code over the encrypted bytes,
// as members encrypted with AES carry their data; the primitives come from the host.
//
// The core holds no cryptography of its own: every program that links it
// supplies the five routines declared below (the system's or a maintained
// library's), as it supplies ReadArchive and WriteOutput. The core builds the
// rest on them: the key material, the password verifier, the counter blocks and
// the keystream.
#ifndef SFXKIT_CORE_AES_H
#define SFXKIT_CORE_AES_H
#include "sfxcore.h"

enum : uint32_t {
  AesBlockSize = 16,
  AesMaxKeySize = 32,        // AES-256
  AesMaxSaltSize = 16,       // half the key size
  AesVerifierSize = 2,       // behind the salt: the last two bytes of the key material
  AesCodeSize = 10,          // behind the data: the first 10 bytes of the HMAC-SHA1
  AesMacSize = 20,           // a whole HMAC-SHA1
  AesIterations = 1000,      // of PBKDF2-HMAC-SHA1
  AesBatchSize = 4096,       // keystream made per call of the host: counter blocks go in batches
};

// The host's handles for one stream: a cipher key and an HMAC under way.
struct AesHandles {
  void *Key;   // null when none is open
  void *Mac;
};

// ---- Supplied by the host ------------------------------------------------------
// PBKDF2 with HMAC-SHA1 and AesIterations rounds: `count` bytes of key material
// from the password and the salt. False when the system cannot derive them.
bool DeriveAesKeys(const uint8_t *password, uint32_t length, const uint8_t *salt, uint32_t saltSize, uint8_t *keys,
                   uint32_t count);
// Opens an AES key of keySize bytes (16, 24 or 32) for single blocks (ECB) and
// an HMAC-SHA1 keyed with macKey (keySize bytes as well). False, with nothing
// left open, when the system cannot.
bool OpenAesHandles(AesHandles *handles, const uint8_t *key, const uint8_t *macKey, uint32_t keySize);
// Encrypts `size` bytes (whole blocks) in place, each block on its own.
void EncryptAesBlocks(AesHandles *handles, uint8_t *blocks, uint32_t size);
void UpdateAesMac(AesHandles *handles, const uint8_t *data, uint32_t size);
// The HMAC of everything fed to it; the handles are closed (and nulled) afterwards.
void FinishAesMac(AesHandles *handles, uint8_t mac[AesMacSize]);
// Closes what is open, the HMAC unfinished, and nulls the handles; nothing
// when nothing is open.
void CloseAesHandles(AesHandles *handles);

// ---- Built by the core ---------------------------------------------------------
// Zero-initialised before its first opening; each opening closes what an
// earlier one left open.
struct AesStream {
  AesHandles Handles;
  uint64_t Counter;                 // number of the next counter block (the first is 1)
  uint32_t Used;                    // bytes of Keystream already used
  uint8_t Keystream[AesBatchSize];  // encrypted counter blocks
};

// How a password fared against a member's protection header.
enum class PasswordCheck : uint8_t {
  Accepted,    // the keys stand at the member's first data byte
  Refused,     // a wrong or empty password
  NoCipher,    // the system gives no AES: the member cannot be read
};
// Derives the keys for strength 1, 2 or 3 (AES-128, -192, -256) from the
// password and `header` (the salt, then the verifier) and opens the stream.
// Reading, the verifier must match; creating, it is written behind the salt.
PasswordCheck OpenAesStream(AesStream *stream, uint8_t strength, uint8_t *header, const char *password, uint32_t length,
                         bool create);
// In place: decryption feeds the HMAC before, encryption after the keystream.
void DecryptAes(AesStream *stream, uint8_t *data, uint32_t size);
void EncryptAes(AesStream *stream, uint8_t *data, uint32_t size);
// The first AesCodeSize bytes of the HMAC; the stream is closed afterwards.
void FinishAes(AesStream *stream, uint8_t code[AesCodeSize]);

inline uint32_t AesKeySize(uint8_t strength) { return 8u + 8u * strength; }
inline uint32_t AesSaltSize(uint8_t strength) { return 4u + 4u * strength; }
#endif
