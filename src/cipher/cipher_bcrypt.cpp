// cipher_bcrypt.cpp -- the AES primitives the core asks of its host, from
// Windows CNG (bcrypt.dll): for the stub, which carries no cryptography of its
// own, and for sfxmake.exe.
#include <windows.h>
#include <bcrypt.h>

#include "aes.h"

// The system's ready-made algorithm handles (Windows 10 and later): nothing to
// open, keep or close. An older system refuses them, and its AES members are
// reported as a method it cannot unpack.
#define AesEcbAlgorithm ((BCRYPT_ALG_HANDLE)0x1B1)   // AES, ECB chaining
#define HmacSha1Algorithm ((BCRYPT_ALG_HANDLE)0xA1)  // SHA-1 for HMAC, and PBKDF2's pseudo-random function

bool DeriveAesKeys(const uint8_t *password, uint32_t length, const uint8_t *salt, uint32_t saltSize, uint8_t *keys,
                   uint32_t count) {
  return BCryptDeriveKeyPBKDF2(HmacSha1Algorithm, (PUCHAR)password, length, (PUCHAR)salt, saltSize, AesIterations,
                               keys, count, 0) >= 0;
}

// The system allocates the key and hash objects itself (null buffers).
bool OpenAesHandles(AesHandles *handles, const uint8_t *key, const uint8_t *macKey, uint32_t keySize) {
  if (BCryptGenerateSymmetricKey(AesEcbAlgorithm, &handles->Key, nullptr, 0, (PUCHAR)key, keySize, 0) >= 0 &&
      BCryptCreateHash(HmacSha1Algorithm, &handles->Mac, nullptr, 0, (PUCHAR)macKey, keySize, 0) >= 0)
    return true;
  CloseAesHandles(handles);
  return false;
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
