// aes_test.cpp -- the core's AES stream against libgcrypt directly: the counter
// blocks past 2^32, and a failed call of the cipher spoiling the code.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "aes.h"
#include "sfxcore.h"
#include "test_support.h"

namespace {

const uint8_t Key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// AES-128 ECB of the 16-byte block numbered `counter` (little-endian, 16 bytes wide).
Bytes ReferenceBlock(uint64_t counter) {
  Bytes block(AesBlockSize, 0);
  PutLE64(block.data(), counter);
  gcry_cipher_hd_t aes;
  EXPECT_EQ(gcry_cipher_open(&aes, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_ECB, 0), 0u);
  gcry_cipher_setkey(aes, Key, sizeof Key);
  gcry_cipher_encrypt(aes, block.data(), block.size(), nullptr, 0);
  gcry_cipher_close(aes);
  return block;
}

// The keystream from a counter placed just before 2^32, through the 32-bit
// boundary: each block is the encryption of its own number, none repeats block 0 or 1.
TEST(AesStream, CounterRunsPastTwoToThe32) {
  for (uint64_t start : {1ull, 0xFFFFFFFEull, 0xFFFFFFFFull, 0x1FFFFFFFFull}) {
    AesStream stream = {};
    ASSERT_TRUE(OpenAesHandles(&stream.Handles, Key, Key, sizeof Key));
    stream.Counter = start;
    stream.Used = AesBatchSize;
    Bytes keystream(3 * AesBlockSize, 0);  // zeros encrypt to the keystream itself
    EncryptAes(&stream, keystream.data(), (uint32_t)keystream.size());
    Bytes expected;
    for (uint64_t n = start; n < start + 3; n++) {
      Bytes block = ReferenceBlock(n);
      expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(keystream, expected) << start;
    CloseAesHandles(&stream.Handles);
  }
}

// A length the cipher refuses (not whole blocks) leaves the code all zeros.
TEST(AesStream, FailedCipherCallSpoilsTheCode) {
  AesHandles handles = {};
  ASSERT_TRUE(OpenAesHandles(&handles, Key, Key, sizeof Key));
  uint8_t blocks[AesBlockSize] = {}, mac[AesMacSize];
  EncryptAesBlocks(&handles, blocks, AesBlockSize - 1);
  UpdateAesMac(&handles, blocks, sizeof blocks);
  FinishAesMac(&handles, mac);
  EXPECT_EQ(Bytes(mac, mac + AesMacSize), Bytes(AesMacSize, 0));
  EXPECT_EQ(handles.Mac, nullptr);
}

}  // namespace
