// aes.cpp -- the AES stream of a member: key material and verifier, counter-mode
// keystream and the HMAC, on the host's primitives.
#include "aes.h"

// Key material: the AES key, the HMAC key (as long), then the verifier.
PasswordCheck OpenAesStream(AesStream *stream, uint8_t strength, uint8_t *header, const char *password, uint32_t length,
                         bool create) {
  uint8_t keys[2 * AesMaxKeySize + AesVerifierSize];
  uint32_t keySize = AesKeySize(strength);
  uint8_t *verifier = header + AesSaltSize(strength);
  CloseAesHandles(&stream->Handles);  // a stream opened for a member that was never decoded
  if (length == 0) return PasswordCheck::Refused;
  if (!DeriveAesKeys((const uint8_t *)password, length, header, AesSaltSize(strength), keys, 2 * keySize + AesVerifierSize))
    return PasswordCheck::NoCipher;
  const uint8_t *derived = keys + 2 * keySize;
  if (create) {
    verifier[0] = derived[0];
    verifier[1] = derived[1];
  } else if (derived[0] != verifier[0] || derived[1] != verifier[1]) {
    return PasswordCheck::Refused;
  }
  if (!OpenAesHandles(&stream->Handles, keys, keys + keySize, keySize)) return PasswordCheck::NoCipher;
  stream->Counter = 1;
  stream->Used = AesBatchSize;
  return PasswordCheck::Accepted;
}

// The keystream is the encryption of counter blocks 1, 2, 3...: the number
// little-endian in the block's first eight bytes, zeros behind it, as other
// writers carry it from byte to byte. A 32-bit number would wrap after 2^32
// blocks (64 GiB), and ZIP64 members run longer: block 2^32 + 1 would reuse
// block 1's keystream and decrypt another writer's member wrongly.
static void ApplyKeystream(AesStream *stream, uint8_t *data, uint32_t size) {
  for (uint32_t i = 0; i < size; i++) {
    if (stream->Used == AesBatchSize) {
      for (uint32_t at = 0; at < AesBatchSize; at += AesBlockSize) {
        PutLE64(stream->Keystream + at, stream->Counter++);
        for (uint32_t k = 8; k < AesBlockSize; k++) stream->Keystream[at + k] = 0;
      }
      EncryptAesBlocks(&stream->Handles, stream->Keystream, AesBatchSize);
      stream->Used = 0;
    }
    data[i] ^= stream->Keystream[stream->Used++];
  }
}

void DecryptAes(AesStream *stream, uint8_t *data, uint32_t size) {
  UpdateAesMac(&stream->Handles, data, size);
  ApplyKeystream(stream, data, size);
}

void EncryptAes(AesStream *stream, uint8_t *data, uint32_t size) {
  ApplyKeystream(stream, data, size);
  UpdateAesMac(&stream->Handles, data, size);
}

void FinishAes(AesStream *stream, uint8_t code[AesCodeSize]) {
  uint8_t mac[AesMacSize];
  FinishAesMac(&stream->Handles, mac);
  for (uint32_t i = 0; i < AesCodeSize; i++) code[i] = mac[i];
}
