// cipher_gcrypt.cpp -- the AES primitives the core asks of its host, from
// libgcrypt: for sfxmake, the tests, the fuzzers and the benchmarks on Linux.
#include <gcrypt.h>

#include "aes.h"

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

void EncryptAesBlocks(AesHandles *handles, uint8_t *blocks, uint32_t size) {
  gcry_cipher_encrypt((gcry_cipher_hd_t)handles->Key, blocks, size, nullptr, 0);
}

void UpdateAesMac(AesHandles *handles, const uint8_t *data, uint32_t size) {
  gcry_md_write((gcry_md_hd_t)handles->Mac, data, size);
}

void FinishAesMac(AesHandles *handles, uint8_t mac[AesMacSize]) {
  const unsigned char *digest = gcry_md_read((gcry_md_hd_t)handles->Mac, GCRY_MD_SHA1);
  for (uint32_t i = 0; i < AesMacSize; i++) mac[i] = digest[i];
  CloseAesHandles(handles);
}

void CloseAesHandles(AesHandles *handles) {
  gcry_cipher_close((gcry_cipher_hd_t)handles->Key);
  gcry_md_close((gcry_md_hd_t)handles->Mac);
  handles->Key = handles->Mac = nullptr;
}
