// cipher_bcrypt.cpp -- the AES primitives the core asks of its host, from
// Windows CNG (bcrypt.dll): for the stub, which carries no cryptography of its
// own, and for sfxmake.exe.
#include <windows.h>
#include <bcrypt.h>

#include "aes.h"

// The algorithm providers, opened at first use and kept for the process: a
// provider is costly to open, and a run opens keys for many members.
static BCRYPT_ALG_HANDLE AesProvider;   // AES with ECB chaining
static BCRYPT_ALG_HANDLE HmacProvider;  // SHA-1 for HMAC (and PBKDF2's pseudo-random function)

static bool OpenProviders() {
  if (!HmacProvider &&
      BCryptOpenAlgorithmProvider(&HmacProvider, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0)
    HmacProvider = nullptr;
  if (!AesProvider && BCryptOpenAlgorithmProvider(&AesProvider, BCRYPT_AES_ALGORITHM, nullptr, 0) >= 0 &&
      BCryptSetProperty(AesProvider, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                        sizeof BCRYPT_CHAIN_MODE_ECB, 0) < 0) {
    BCryptCloseAlgorithmProvider(AesProvider, 0);
    AesProvider = nullptr;
  }
  return AesProvider && HmacProvider;
}

bool DeriveAesKeys(const uint8_t *password, uint32_t length, const uint8_t *salt, uint32_t saltSize, uint8_t *keys,
                   uint32_t count) {
  return OpenProviders() && BCryptDeriveKeyPBKDF2(HmacProvider, (PUCHAR)password, length, (PUCHAR)salt, saltSize,
                                                  AesIterations, keys, count, 0) >= 0;
}

// The system allocates the key and hash objects itself (null buffers).
bool OpenAesHandles(AesHandles *handles, const uint8_t *key, const uint8_t *macKey, uint32_t keySize) {
  BCRYPT_KEY_HANDLE aes;
  BCRYPT_HASH_HANDLE mac;
  if (!OpenProviders() || BCryptGenerateSymmetricKey(AesProvider, &aes, nullptr, 0, (PUCHAR)key, keySize, 0) < 0)
    return false;
  if (BCryptCreateHash(HmacProvider, &mac, nullptr, 0, (PUCHAR)macKey, keySize, 0) < 0) {
    BCryptDestroyKey(aes);
    return false;
  }
  handles->Key = aes;
  handles->Mac = mac;
  return true;
}

// A failed call leaves the blocks as they are: the code then refuses the member.
void EncryptAesBlocks(AesHandles *handles, uint8_t *blocks, uint32_t size) {
  ULONG done;
  BCryptEncrypt(handles->Key, blocks, size, nullptr, nullptr, 0, blocks, size, &done, 0);
}

void UpdateAesMac(AesHandles *handles, const uint8_t *data, uint32_t size) {
  BCryptHashData(handles->Mac, (PUCHAR)data, size, 0);
}

void FinishAesMac(AesHandles *handles, uint8_t mac[AesMacSize]) {
  BCryptFinishHash(handles->Mac, mac, AesMacSize, 0);
  CloseAesHandles(handles);
}

void CloseAesHandles(AesHandles *handles) {
  if (handles->Key) BCryptDestroyKey(handles->Key);
  if (handles->Mac) BCryptDestroyHash(handles->Mac);
  handles->Key = handles->Mac = nullptr;
}
