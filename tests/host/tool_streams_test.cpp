// tool_streams_test.cpp -- members written by 7z, Info-ZIP zip and Python's zlib decode (and decrypt) to their originals.
#include <gtest/gtest.h>

#include <string.h>

#include <map>

#include "core_host.h"
#include "crc32.h"
#include "crypt.h"
#include "inflate.h"
#include "test_support.h"

namespace {

// CheckPassword on the encryption header of m's data, with these flags.
bool CheckHeader(const ZipMember &m, uint16_t flags, const std::string &password) {
  uint8_t header[24];
  memcpy(header + 12, m.Data.data(), 12);
  return CheckPassword(header, 12, flags, m.Crc, m.DosTime, password.data(), (uint32_t)password.size());
}

class ToolStreams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    BuildCrcTable();
    BuildFixedTables();
  }
  void SetUp() override {
    Host.ReadLimit = 0;
    files_ = {{"text.txt", SampleData(DataKind::Text, 300000, 21)},
              {"binary.bin", SampleData(DataKind::Binary, 140000, 22)},
              {"random.bin", SampleData(DataKind::Random, 70000, 23)},
              {"repetitive.txt", SampleData(DataKind::Repetitive, 400000, 24)},
              {"exact.txt", SampleData(DataKind::Text, 65536, 25)},
              {"empty.txt", Bytes()}};
    for (const auto &f : files_) WriteFile(dir_.Path(f.first), f.second);
  }

  // Decodes (and, with a password, decrypts) one member and compares it with the file it came from.
  void ExpectMember(const ZipMember &m, const std::string &password, const std::string &what) {
    SCOPED_TRACE(what + ": " + m.Name);
    const Bytes &original = files_.at(m.Name);
    const uint8_t *data = m.Data.data();
    size_t size = m.Data.size();
    bool encrypted = (m.Flags & 1) != 0;
    ASSERT_EQ(encrypted, !password.empty());
    if (encrypted) {
      ASSERT_GE(size, 12u);
      ASSERT_TRUE(CheckHeader(m, m.Flags, password));
      data += 12;
      size -= 12;
    }
    Bytes output;
    uint32_t crc;
    if (m.Method == 8) {
      crc = HostInflate(data, size, (int64_t)size, encrypted);
      output = Host.Output;
    } else {
      ASSERT_EQ(m.Method, 0);
      output.assign(data, data + size);
      if (encrypted) DecryptBuffer(output.data(), (uint32_t)output.size());
      crc = 0xFFFFFFFFu;
      UpdateCrcBuffer(output.data(), (int32_t)output.size(), crc);
      crc ^= 0xFFFFFFFFu;
    }
    EXPECT_TRUE(output == original);
    EXPECT_EQ(crc, m.Crc);
  }

  void ExpectArchive(const std::string &command, const std::string &zip, const std::string &password,
                     size_t expectedMembers) {
    ASSERT_TRUE(RunShell("cd '" + dir_.Path("") + "' && " + command)) << command;
    std::vector<ZipMember> members = ReadZip(dir_.Path(zip));
    ASSERT_EQ(members.size(), expectedMembers) << command;
    for (const ZipMember &m : members) ExpectMember(m, password, command);
  }

  TempDir dir_;
  std::map<std::string, Bytes> files_;
  const std::string names_ = "text.txt binary.bin random.bin repetitive.txt exact.txt empty.txt";
};

TEST_F(ToolStreams, SevenZipDeflateFastestAndUltra) {
  ExpectArchive("7z a -tzip -mm=Deflate -mx1 mx1.zip " + names_, "mx1.zip", "", 6);
  ExpectArchive("7z a -tzip -mm=Deflate -mx9 mx9.zip " + names_, "mx9.zip", "", 6);
}

TEST_F(ToolStreams, InfoZipEveryLevel) {
  for (int level : {1, 6, 9}) {
    std::string zip = "zip" + std::to_string(level) + ".zip";
    ExpectArchive("zip -q -" + std::to_string(level) + " " + zip + " " + names_, zip, "", 6);
  }
}

TEST_F(ToolStreams, PythonZlibStreams) {
  for (const auto &f : files_) {
    for (int level : {0, 1, 9}) {
      std::string out = f.first + ".deflate";
      ASSERT_TRUE(RunShell("cd '" + dir_.Path("") + "' && python3 -c \"import sys,zlib; c=zlib.compressobj(" +
                      std::to_string(level) + ", zlib.DEFLATED, -15); d=open(sys.argv[1],'rb').read(); "
                      "open(sys.argv[2],'wb').write(c.compress(d)+c.flush())\" " + f.first + " " + out));
      HostInflate(ReadFile(dir_.Path(out)));
      EXPECT_TRUE(Host.Output == f.second) << f.first << " level " << level;
    }
  }
}

TEST_F(ToolStreams, InfoZipPasswordDeflatedAndStored) {
  ExpectArchive("zip -q -P 'pass word' enc.zip " + names_, "enc.zip", "pass word", 6);
  ExpectArchive("zip -q -0 -P x stored.zip " + names_, "stored.zip", "x", 6);
  // Many short refills: each block is decrypted as it arrives, the keys running on.
  Host.ReadLimit = 777;
  ExpectArchive("zip -q -P 'pass word' enc2.zip " + names_, "enc2.zip", "pass word", 6);
  Host.ReadLimit = 0;
}

TEST_F(ToolStreams, SevenZipZipCrypto) {
  ExpectArchive("7z a -tzip -mm=Deflate -mx5 -mem=ZipCrypto -p7zsecret enc7.zip " + names_, "enc7.zip", "7zsecret", 6);
  ExpectArchive("7z a -tzip -mm=Copy -mem=ZipCrypto -p7zsecret store7.zip " + names_, "store7.zip", "7zsecret", 6);
}

// zip writing from standard input cannot know the CRC before the data: Flags bit 3,
// and the check byte is the high byte of the DOS time.
TEST_F(ToolStreams, StreamedArchiveChecksAgainstTheTime) {
  ASSERT_TRUE(RunShell("cd '" + dir_.Path("") + "' && zip -q -P streamed - - < text.txt | cat > streamed.zip"));
  std::vector<ZipMember> members = ReadZip(dir_.Path("streamed.zip"));
  ASSERT_EQ(members.size(), 1u);
  ZipMember m = members[0];
  ASSERT_TRUE(m.Flags & 8);
  m.Name = "text.txt";
  ExpectMember(m, "streamed", "streamed");
  // The CRC's top byte is not what this header is checked against.
  if ((uint8_t)(m.Crc >> 24) != (uint8_t)(m.DosTime >> 8)) {
    EXPECT_FALSE(CheckHeader(m, 0, "streamed"));
  }
}

TEST_F(ToolStreams, WrongPasswordsRarelyPass) {
  ASSERT_TRUE(RunShell("cd '" + dir_.Path("") + "' && zip -q -P right wrong.zip text.txt"));
  ZipMember m = ReadZip(dir_.Path("wrong.zip"))[0];
  int passed = 0;
  for (int i = 0; i < 100; i++) passed += CheckHeader(m, m.Flags, "wrong" + std::to_string(i));
  EXPECT_LE(passed, 8);  // one in 256 on average
}

}  // namespace
