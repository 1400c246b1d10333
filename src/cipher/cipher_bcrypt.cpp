// cipher_bcrypt.cpp -- the AES primitives the core asks of its host, from
// Windows CNG (bcrypt.dll): for the stub, which carries no cryptography of its
// own, and for sfxmake.exe, which takes its random bytes and keyed hash
// (hostcipher.h) from here as well.
#include <windows.h>
#include <bcrypt.h>

#include <string.h>

#include "aes.h"
#include "hostcipher.h"

// bcrypt.dll is no DLL the loader takes from the system folder by name alone:
// imported, a copy planted in the folder the download landed in (or beside
// sfxmake.exe) would be loaded instead and see the password. It is loaded from
// the system folder when first needed, and its functions are looked up by these
// names, in the order of Cng's fields.
static const char CngNames[] =
    "BCryptOpenAlgorithmProvider\0BCryptSetProperty\0BCryptDeriveKeyPBKDF2\0BCryptGenerateSymmetricKey\0"
    "BCryptCreateHash\0BCryptEncrypt\0BCryptHashData\0BCryptFinishHash\0BCryptDestroyKey\0BCryptDestroyHash\0"
    "BCryptGenRandom\0";
static struct {
  decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider;
  decltype(&BCryptSetProperty) SetProperty;
  decltype(&BCryptDeriveKeyPBKDF2) DeriveKeyPBKDF2;
  decltype(&BCryptGenerateSymmetricKey) GenerateSymmetricKey;
  decltype(&BCryptCreateHash) CreateHash;
  decltype(&BCryptEncrypt) Encrypt;
  decltype(&BCryptHashData) HashData;
  decltype(&BCryptFinishHash) FinishHash;
  decltype(&BCryptDestroyKey) DestroyKey;
  decltype(&BCryptDestroyHash) DestroyHash;
  decltype(&BCryptGenRandom) GenRandom;
} Cng;  // every field set once AlgorithmsOpen; only then is a handle ever open

// The algorithm providers, opened on first use and kept for the process: AES
// in ECB chaining (the core makes the counter blocks), and SHA-1 for HMAC, which
// is also PBKDF2's pseudo-random function.
static BCRYPT_ALG_HANDLE AesEcbAlgorithm, HmacSha1Algorithm;
static bool AlgorithmsOpen;  // both are open, AES set to ECB

// False when the system gives bcrypt.dll or either provider no more (a system
// without the search flag, before Windows 8 unless updated, included): its AES
// members are then reported as a method it cannot unpack. A failed try is tried
// again.
static bool OpenAlgorithms() {
  if (AlgorithmsOpen) return true;
  HMODULE dll = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!dll) return false;
  FARPROC *slot = (FARPROC *)&Cng;
  for (const char *name = CngNames; *name; name += strlen(name) + 1)
    if (!(*slot++ = GetProcAddress(dll, name))) return false;
  AlgorithmsOpen =
      Cng.OpenAlgorithmProvider(&AesEcbAlgorithm, BCRYPT_AES_ALGORITHM, nullptr, 0) >= 0 &&
      Cng.SetProperty(AesEcbAlgorithm, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                      sizeof BCRYPT_CHAIN_MODE_ECB, 0) >= 0 &&
      Cng.OpenAlgorithmProvider(&HmacSha1Algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) >= 0;
  return AlgorithmsOpen;
}
static_assert(sizeof Cng == 11 * sizeof(FARPROC), "one field for each name of CngNames");

bool DeriveAesKeys(const uint8_t *password, uint32_t length, const uint8_t *salt, uint32_t saltSize, uint8_t *keys,
                   uint32_t count) {
  return OpenAlgorithms() && Cng.DeriveKeyPBKDF2(HmacSha1Algorithm, (PUCHAR)password, length, (PUCHAR)salt,
                                                   saltSize, AesIterations, keys, count, 0) >= 0;
}

// The system allocates the key and hash objects itself (null buffers).
bool OpenAesHandles(AesHandles *handles, const uint8_t *key, const uint8_t *macKey, uint32_t keySize) {
  if (OpenAlgorithms() && Cng.GenerateSymmetricKey(AesEcbAlgorithm, &handles->Key, nullptr, 0, (PUCHAR)key, keySize, 0) >= 0 &&
      Cng.CreateHash(HmacSha1Algorithm, &handles->Mac, nullptr, 0, (PUCHAR)macKey, keySize, 0) >= 0)
    return true;
  CloseAesHandles(handles);
  return false;
}

// A failed call would leave counter blocks for keystream while the code, taken
// over the encrypted bytes, still matched: the code is spoilt instead, so that
// the member is refused.
void EncryptAesBlocks(AesHandles *handles, uint8_t *blocks, uint32_t size) {
  ULONG done;
  if (Cng.Encrypt(handles->Key, blocks, size, nullptr, nullptr, 0, blocks, size, &done, 0) < 0 && handles->Mac) {
    Cng.DestroyHash(handles->Mac);
    handles->Mac = nullptr;
  }
}

void UpdateAesMac(AesHandles *handles, const uint8_t *data, uint32_t size) {
  Cng.HashData(handles->Mac, (PUCHAR)data, size, 0);
}

// Without a sound HMAC the code is all zeros, which no member's code is but by
// a chance of one in 2^80.
void FinishAesMac(AesHandles *handles, uint8_t mac[AesMacSize]) {
  if (!handles->Mac || Cng.FinishHash(handles->Mac, mac, AesMacSize, 0) < 0) memset(mac, 0, AesMacSize);
  CloseAesHandles(handles);
}

void CloseAesHandles(AesHandles *handles) {
  if (handles->Key) Cng.DestroyKey(handles->Key);
  if (handles->Mac) Cng.DestroyHash(handles->Mac);
  handles->Key = handles->Mac = nullptr;
}

bool SystemRandom(uint8_t *bytes, uint32_t count) {
  return OpenAlgorithms() && Cng.GenRandom(nullptr, bytes, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

// HMAC-SHA-256: opened on first use (the stub never asks for it) and kept.
static BCRYPT_ALG_HANDLE HmacSha256Algorithm;

bool OpenKeyedHash(KeyedHash *hash, const uint8_t *key, uint32_t keySize) {
  hash->Handle = nullptr;
  if (!OpenAlgorithms()) return false;
  if (!HmacSha256Algorithm &&
      Cng.OpenAlgorithmProvider(&HmacSha256Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0) {
    HmacSha256Algorithm = nullptr;
    return false;
  }
  if (Cng.CreateHash(HmacSha256Algorithm, &hash->Handle, nullptr, 0, (PUCHAR)key, keySize, 0) >= 0) return true;
  hash->Handle = nullptr;
  return false;
}

void UpdateKeyedHash(KeyedHash *hash, const uint8_t *data, uint32_t size) {
  if (hash->Handle && Cng.HashData(hash->Handle, (PUCHAR)data, size, 0) < 0) {
    Cng.DestroyHash(hash->Handle);
    hash->Handle = nullptr;
  }
}

bool FinishKeyedHash(KeyedHash *hash, uint8_t digest[KeyedHashSize]) {
  bool done = hash->Handle && Cng.FinishHash(hash->Handle, digest, KeyedHashSize, 0) >= 0;
  if (hash->Handle) Cng.DestroyHash(hash->Handle);
  hash->Handle = nullptr;
  return done;
}
