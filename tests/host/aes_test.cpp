// aes_test.cpp -- the core's AES stream against libgcrypt's own ECB: counter
// blocks past 2^32, and a failed cipher call spoiling the code.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "aes.h"
#include "test_support.h"

namespace {
const uint8_t Key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// From a counter placed before, at and past 2^32 - 1, each keystream block is the
// encryption of its own number, little-endian over 16 bytes.
TEST(AesStream, CounterRunsPastTwoToThe32) {
  for (uint64_t start : {1ull, 0xFFFFFFFEull, 0xFFFFFFFFull, 0x1FFFFFFFFull}) {
    AesStream stream = {};
    ASSERT_TRUE(OpenAesHandles(&stream.Handles, Key, Key, sizeof Key));
    stream.Counter = start;
    stream.Used = AesBatchSize;
    Bytes keystream(3 * AesBlockSize, 0), expected(3 * AesBlockSize, 0);
    EncryptAes(&stream, keystream.data(), (uint32_t)keystream.size());  // zeros encrypt to the keystream
    for (uint64_t n = 0; n < 3; n++) PutLE64(&expected[n * AesBlockSize], start + n);
    gcry_cipher_hd_t aes;
    gcry_cipher_open(&aes, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_ECB, 0);
    gcry_cipher_setkey(aes, Key, sizeof Key);
    gcry_cipher_encrypt(aes, expected.data(), expected.size(), nullptr, 0);
    gcry_cipher_close(aes);
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
}
}  // namespace
