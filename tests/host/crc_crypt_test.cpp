// crc_crypt_test.cpp -- CRC-32 and the traditional key schedule, header check and block decryption.
#include <gtest/gtest.h>

#include <string.h>

#include "crc32.h"
#include "crypt.h"
#include "sfxcore.h"
#include "test_support.h"

namespace {

class CrcCrypt : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BuildCrcTable(); }
};

std::vector<uint32_t> Keys() { return {CryptKeys[0], CryptKeys[1], CryptKeys[2]}; }

// Encrypts as a zip writer does: the keystream byte XOR the plaintext, keys fed the plaintext.
Bytes Encrypt(const std::string &password, Bytes data) {
  InitKeys(password.data(), (uint32_t)password.size());
  EncryptBuffer(data.data(), (uint32_t)data.size());
  return data;
}

TEST_F(CrcCrypt, TableEntries) {
  EXPECT_EQ(CrcTable[0], 0u);
  EXPECT_EQ(CrcTable[128], 0xEDB88320u);
  EXPECT_EQ(CrcTable[1], 0x77073096u);
  EXPECT_EQ(CrcTable[255], 0x2D02EF8Du);
}

TEST_F(CrcCrypt, BufferCrcMatchesZlibWhateverTheSplit) {
  Bytes data = SampleData(DataKind::Random, 5000, 4);
  for (size_t split : {(size_t)0, (size_t)1, (size_t)2500, (size_t)4999, (size_t)5000}) {
    uint32_t crc = 0xFFFFFFFFu;
    UpdateCrcBuffer(data.data(), (int32_t)split, crc);
    UpdateCrcBuffer(data.data() + split, (int32_t)(data.size() - split), crc);
    EXPECT_EQ(crc ^ 0xFFFFFFFFu, ZlibCrc(data)) << split;
  }
  uint32_t crc = 0x12345678u;
  UpdateCrcBuffer(data.data(), 0, crc);
  UpdateCrcBuffer(data.data(), -1, crc);
  UpdateCrcBuffer(data.data(), INT32_MIN, crc);
  EXPECT_EQ(crc, 0x12345678u);
  EXPECT_EQ(0xFFFFFFFFu ^ 0xFFFFFFFFu, ZlibCrc(Bytes()));  // no bytes: complement of the start is 0
}

// Lengths around every width the buffer routine switches at (8-byte groups,
// the 128-bit fold, its four lanes), from an unaligned start.
TEST_F(CrcCrypt, BufferCrcMatchesZlibAtEveryShortLength) {
  Bytes data = SampleData(DataKind::Random, 301, 9);
  for (size_t length = 0; length <= 300; length++) {
    Bytes part(data.begin() + 1, data.begin() + 1 + (long)length);
    uint32_t crc = 0xFFFFFFFFu;
    UpdateCrcBuffer(data.data() + 1, (int32_t)length, crc);
    EXPECT_EQ(crc ^ 0xFFFFFFFFu, ZlibCrc(part)) << length;
  }
}

TEST_F(CrcCrypt, KeysOfTheEmptyPassword) {
  CryptKeys[0] = CryptKeys[1] = CryptKeys[2] = 7;
  InitKeys("", 0);
  EXPECT_EQ(Keys(), (std::vector<uint32_t>{0x12345678u, 0x23456789u, 0x34567890u}));
}

TEST_F(CrcCrypt, EmptyPasswordNeverPassesAndLeavesTheKeys) {
  uint8_t buffer[24] = {0};
  CryptKeys[0] = 1;
  CryptKeys[1] = 2;
  CryptKeys[2] = 3;
  EXPECT_FALSE(CheckPassword(buffer, 12, 0, 0, 0, "", 0));
  EXPECT_EQ(Keys(), (std::vector<uint32_t>{1, 2, 3}));
}

// A header whose check byte is 0xA5, with the CRC's top byte 0x3C and the time's high byte 0xA5.
TEST_F(CrcCrypt, CheckByteComesFromTheTimeWithFlagBit3AndFromTheCrcOtherwise) {
  Bytes header = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xA5};
  Bytes encrypted = Encrypt("secret", header);
  uint8_t buffer[24];
  memcpy(buffer + 12, encrypted.data(), 12);
  EXPECT_TRUE(CheckPassword(buffer, 12, 8, 0x3C000000u, 0xA512, "secret", 6));
  EXPECT_EQ(Bytes(buffer, buffer + 12), header);
  EXPECT_FALSE(CheckPassword(buffer, 12, 0, 0x3C000000u, 0xA512, "secret", 6));
  EXPECT_TRUE(CheckPassword(buffer, 12, 0, 0xA5000000u, 0x3C12, "secret", 6));
  EXPECT_FALSE(CheckPassword(buffer, 12, 8, 0xA5000000u, 0x3C12, "secret", 6));
  EXPECT_EQ(Bytes(buffer + 12, buffer + 24), encrypted) << "the header as read must stay";
}

TEST_F(CrcCrypt, KeysStandBehindTheHeaderAfterASuccessfulCheck) {
  std::string password(80, 'p');  // the longest password is used whole
  password[79] = 'z';
  Bytes plain = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x77};
  Bytes body = SampleData(DataKind::Text, 1000);
  plain.insert(plain.end(), body.begin(), body.end());
  Bytes encrypted = Encrypt(password, plain);
  uint8_t buffer[24];
  memcpy(buffer + 12, encrypted.data(), 12);
  ASSERT_TRUE(CheckPassword(buffer, 12, 0, 0x77000000u, 0, password.data(), 80));
  Bytes rest(encrypted.begin() + 12, encrypted.end());
  DecryptBuffer(rest.data(), 600);  // two blocks: the keys carry over
  DecryptBuffer(rest.data() + 600, (uint32_t)rest.size() - 600);
  EXPECT_EQ(rest, body);
  memcpy(buffer + 12, encrypted.data(), 12);
  EXPECT_FALSE(CheckPassword(buffer, 12, 0, 0x77000000u, 0, password.data(), 79));
}

TEST_F(CrcCrypt, DecryptBufferEqualsDecryptByteAndUpdateKeys) {
  Bytes data = SampleData(DataKind::Random, 3000, 8), slow = data;
  InitKeys("k", 1);
  for (uint8_t &b : slow) {
    b ^= DecryptByte();
    UpdateKeys(b);
  }
  std::vector<uint32_t> after = Keys();
  InitKeys("k", 1);
  DecryptBuffer(data.data(), (uint32_t)data.size());
  EXPECT_EQ(data, slow);
  EXPECT_EQ(Keys(), after);
}

}  // namespace
