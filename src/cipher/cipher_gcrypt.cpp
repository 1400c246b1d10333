// cipher_gcrypt.cpp -- the AES primitives the core asks of its host, from
// libgcrypt: for sfxmake, the tests, the fuzzers and the benchmarks on Linux;
// and sfxmake's random bytes and keyed hash (hostcipher.h).
#include <gcrypt.h>

#include "aes.h"
#include "hostcipher.h"

// libgcrypt wants its version checked once before any other call; the first
// call may come from several threads at once (sfxmake's verifying workers).
static bool Ready() {
  static const bool ready = [] {
    if (!gcry_check_version(GCRYPT_VERSION)) return false;
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

bool DeriveAesKeys(const uint8_t *password, uint32_t length, const uint8_t *salt, uint32_t saltSize, uint8_t *keys,
                   uint32_t count) {
  return Ready() && gcry_kdf_derive(password, length, GCRY_KDF_PBKDF2, GCRY_MD_SHA1, salt, saltSize, AesIterations,
                                    count, keys) == 0;
}

bool OpenAesHandles(AesHandles *handles, const uint8_t *key, const uint8_t *macKey, uint32_t keySize) {
  int algorithm = keySize == 16 ? GCRY_CIPHER_AES128 : keySize == 24 ? GCRY_CIPHER_AES192 : GCRY_CIPHER_AES256;
  gcry_cipher_hd_t aes = nullptr;
  gcry_md_hd_t mac = nullptr;
  if (!Ready() || gcry_cipher_open(&aes, algorithm, GCRY_CIPHER_MODE_ECB, 0) != 0 ||
      gcry_cipher_setkey(aes, key, keySize) != 0 || gcry_md_open(&mac, GCRY_MD_SHA1, GCRY_MD_FLAG_HMAC) != 0 ||
      gcry_md_setkey(mac, macKey, keySize) != 0) {
    gcry_cipher_close(aes);
    gcry_md_close(mac);
    return false;
  }
  handles->Key = aes;
  handles->Mac = mac;
  return true;
}

// A failed call would leave counter blocks for keystream while the code, taken
// over the encrypted bytes, still matched: the HMAC is dropped instead, which
// spoils the code, so that a reader refuses the member and the writer the build.
void EncryptAesBlocks(AesHandles *handles, uint8_t *blocks, uint32_t size) {
  if (gcry_cipher_encrypt((gcry_cipher_hd_t)handles->Key, blocks, size, nullptr, 0) != 0) {
    gcry_md_close((gcry_md_hd_t)handles->Mac);
    handles->Mac = nullptr;
  }
}

void UpdateAesMac(AesHandles *handles, const uint8_t *data, uint32_t size) {
  if (handles->Mac) gcry_md_write((gcry_md_hd_t)handles->Mac, data, size);
}

// Without a sound HMAC the code is all zeros, which no member's code is but by
// a chance of one in 2^80.
void FinishAesMac(AesHandles *handles, uint8_t mac[AesMacSize]) {
  const unsigned char *digest = handles->Mac ? gcry_md_read((gcry_md_hd_t)handles->Mac, GCRY_MD_SHA1) : nullptr;
  for (uint32_t i = 0; i < AesMacSize; i++) mac[i] = digest ? digest[i] : 0;
  CloseAesHandles(handles);
}

void CloseAesHandles(AesHandles *handles) {
  gcry_cipher_close((gcry_cipher_hd_t)handles->Key);
  gcry_md_close((gcry_md_hd_t)handles->Mac);
  handles->Key = handles->Mac = nullptr;
}

bool SystemRandom(uint8_t *bytes, uint32_t count) {
  if (!Ready()) return false;
  gcry_randomize(bytes, count, GCRY_STRONG_RANDOM);
  return true;
}

bool OpenKeyedHash(KeyedHash *hash, const uint8_t *key, uint32_t keySize) {
  gcry_md_hd_t mac = nullptr;
  if (!Ready() || gcry_md_open(&mac, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC) != 0 || gcry_md_setkey(mac, key, keySize) != 0) {
    gcry_md_close(mac);
    hash->Handle = nullptr;
    return false;
  }
  hash->Handle = mac;
  return true;
}

void UpdateKeyedHash(KeyedHash *hash, const uint8_t *data, uint32_t size) {
  if (hash->Handle) gcry_md_write((gcry_md_hd_t)hash->Handle, data, size);
}

bool FinishKeyedHash(KeyedHash *hash, uint8_t digest[KeyedHashSize]) {
  const unsigned char *result = hash->Handle ? gcry_md_read((gcry_md_hd_t)hash->Handle, GCRY_MD_SHA256) : nullptr;
  for (uint32_t i = 0; result && i < KeyedHashSize; i++) digest[i] = result[i];
  gcry_md_close((gcry_md_hd_t)hash->Handle);
  hash->Handle = nullptr;
  return result != nullptr;
}
