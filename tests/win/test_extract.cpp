// test_extract.cpp -- the extraction engine without its prompts: member names that
// must not be written, the run command's split, file times, and whole members
// extracted by ExtractEntry from archives written here byte by byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>
#include <string>
#include <vector>

#include "SFXProcsExtract.h"
#include "SFXProcsRun.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "crc32.h"
#include "crypt.h"
#include "stub_test.h"

namespace {

// ---- run command ---------------------------------------------------------

struct RunCase {
  const char *command, *program, *parameters, *checkBox;
};

using RunCommand = StubTest;

TEST_F(RunCommand, SplitsProgramAndParameters) {
  const RunCase cases[] = {
      {"notepad.exe readme.txt", "notepad.exe", "readme.txt", "After unzip, run notepad.exe readme.txt"},
      {"setup.exe", "setup.exe", "", "After unzip, run setup.exe "},
      {"setup.exe /S", "setup.exe", "/S", "After unzip, run setup.exe S"},
      {"setup.exe  /S /v", "setup.exe", " /S /v", "After unzip, run setup.exe v"},
      {"C:\\Program Files\\a.exe x", "C:\\Program", "Files\\a.exe x", "After unzip, run Program a.exe x"},
      {"\"C:\\Program Files\\App\\setup.exe\" /quiet x", "C:\\Program Files\\App\\setup.exe", "/quiet x",
       "After unzip, run setup.exe quiet x"},
      {"\"C:\\My Apps\\run.exe\"", "C:\\My Apps\\run.exe", "", "After unzip, run run.exe "},
      {"\"a b.exe\"  two", "a b.exe", " two", "After unzip, run a b.exe  two"},
      {"\"unterminated path", "unterminated path", "", "After unzip, run unterminated path "},
  };
  for (const RunCase &c : cases) {
    SfxSettings.RunCommand = c.command;
    EXPECT_STREQ(RunCommandPart(1).Text(), c.program) << c.command;
    EXPECT_STREQ(RunCommandPart(2).Text(), c.parameters) << c.command;
    EXPECT_STREQ(RunText(STR_RUN_CHECKBOX).Text(), c.checkBox) << c.command;
  }
  SfxSettings.RunCommand = "setup.exe /S";
  EXPECT_STREQ(RunText(STR_CANNOT_RUN).Text(), "Cannot run setup.exe S");
}

// ---- files on disk ---------------------------------------------------------

using FileTimes = ScratchFolder;

std::string ReadWholeFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return file ? std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()) : "<missing>";
}

// The DOS date and time of the file's last write, read back as local time.
uint32_t LastWriteDos(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) return 0;
  FILETIME local;
  WORD date = 0, time = 0;
  FileTimeToLocalFileTime(&info.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  return ((uint32_t)date << 16) | time;
}

const uint32_t SomeDosTime = (uint32_t)(((2021 - 1980) << 9) | (7 << 5) | 14) << 16 | (13 << 11) | (37 << 5) | 21;

TEST_F(FileTimes, StampsTheLastWriteTimeAsLocalTime) {
  std::string path = Path("stamped.txt");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetFileDateTime(h, SomeDosTime);
  CloseHandle(h);
  EXPECT_EQ(LastWriteDos(path), SomeDosTime);
}

TEST_F(FileTimes, AnImpossibleDateLeavesTheFileAlone) {
  std::string path = Path("unchanged.txt");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t before = LastWriteDos(path);
  SetFileDateTime(h, (uint32_t)((2000 - 1980) << 9 | 13 << 5 | 40) << 16);  // month 13, day 40
  CloseHandle(h);
  EXPECT_EQ(LastWriteDos(path), before);
}

// ---- crafted archives -----------------------------------------------------

uint32_t Crc(const std::string &data) {
  uint32_t crc = 0xFFFFFFFFu;
  UpdateCrcBuffer((const uint8_t *)data.data(), (int32_t)data.size(), crc);
  return ~crc;
}

// Traditional encryption, with the decoder's own key schedule running on the plain text.
std::string Encrypt(const std::string &plain, const std::string &password, uint8_t checkByte) {
  InitKeys(password.c_str(), (uint32_t)password.size());
  std::string out = "0123456789a" + std::string(1, (char)checkByte) + plain;
  EncryptBuffer((uint8_t *)&out[0], (uint32_t)out.size());
  return out;
}

// Deflate data in stored blocks, which is enough to drive Inflate through ExtractEntry.
std::string DeflateStoredBlocks(const std::string &plain) {
  std::string out;
  size_t at = 0;
  do {
    size_t n = plain.size() - at < 65535 ? plain.size() - at : 65535;
    out += (char)(at + n == plain.size() ? 1 : 0);
    Put16(out, (uint32_t)n);
    Put16(out, (uint32_t)~n & 0xFFFF);
    out += plain.substr(at, n);
    at += n;
  } while (at < plain.size());
  return out;
}

// One member as the archive holds it (data before encryption), and what it must
// extract to: plain as it is, or with method 8 in deflate's stored blocks.
struct Member : ZipMember {
  Member(const std::string &plain, uint16_t method = 0, const std::string &password = "")
      : ZipMember("", method == 8 ? DeflateStoredBlocks(plain) : plain), plain(plain), password(password) {
    this->method = method;
  }
  std::string plain;         // expected output
  std::string password;      // encrypts the member when not empty
};

// What lies before the archive in a real stub's file.
const std::string ImageStandIn = "stub image stand-in";

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (char &c : s) c = (char)((x = x * 1103515245u + 12345u) >> 16);
  return s;
}

class ExtractEntryTest : public ScratchFolder {
 protected:
  // Writes the image stand-in and an archive of the members behind it, opens it as
  // the stub's own file and returns the members' directory records. The local
  // headers leave the sizes to the directory.
  std::vector<MemberInfo> OpenArchiveOf(const std::vector<Member> &members) {
    std::vector<ZipMember> zip;
    for (const Member &m : members) {
      ZipMember z = m;
      z.name = "stored-name.bin";
      z.dosTime = SomeDosTime;
      z.crc = Crc(m.plain);
      z.size = (uint32_t)m.plain.size();
      z.localSizes = false;
      if (!m.password.empty()) {
        z.flags |= 1;
        z.data = Encrypt(m.data, m.password, (z.flags & 8) ? (uint8_t)(SomeDosTime >> 8) : (uint8_t)(z.crc >> 24));
      }
      zip.push_back(z);
    }
    std::string archive = ZipArchive(zip);
    MakeFile("archive.bin", ImageStandIn + archive);
    OpenArchive("archive.bin");
    ArchiveBase = (uint32_t)ImageStandIn.size();  // the recorded offsets count from there
    return CentralRecords(archive);
  }

  // Extracts every member to out<i>.bin and checks content, time and result.
  void ExtractAll(std::vector<Member> members) {
    std::vector<MemberInfo> entries = OpenArchiveOf(members);
    for (size_t i = 0; i < members.size(); i++) {
      std::string out = Path("out" + std::to_string(i) + ".bin");
      bool passwordFailed = true;
      EXPECT_TRUE(ExtractEntry(nullptr, out.c_str(), entries[i], passwordFailed)) << "member " << i;
      EXPECT_FALSE(passwordFailed);
      EXPECT_EQ(OutputHandle, INVALID_HANDLE_VALUE);
      EXPECT_TRUE(ReadWholeFile(out) == members[i].plain) << "member " << i;
      EXPECT_EQ(LastWriteDos(out), SomeDosTime) << "member " << i;
    }
  }
};

TEST_F(ExtractEntryTest, StoredMembersOfEverySize) {
  std::vector<Member> members;
  for (size_t size : {0, 1, 32767, 32768, 32769, 200000}) members.emplace_back(Pattern(size));
  ExtractAll(members);
}

TEST_F(ExtractEntryTest, DeflatedMemberGoesThroughInflate) {
  ExtractAll({Member(Pattern(100000), 8)});
}

TEST_F(ExtractEntryTest, DataIsFoundThroughTheLocalHeadersOwnLengths) {
  Member m("behind a local extra field the directory does not know");
  m.localExtra = std::string(300, 'x');
  ExtractAll({m});
}

TEST_F(ExtractEntryTest, RememberedPasswordOpensEncryptedMembersWithoutAPrompt) {
  Password = "secret";
  Member streamed("sizes in a data descriptor: the time's high byte checks the password", 0, "secret");
  streamed.flags = 8;
  ExtractAll({Member(Pattern(40000), 0, "secret"), Member(Pattern(5000), 8, "secret"), streamed});
  EXPECT_STREQ(Password.Text(), "secret");
}

TEST_F(ExtractEntryTest, CancelBeforeTheFileIsCreatedCreatesNothing) {
  std::vector<MemberInfo> entries = OpenArchiveOf({Member("never written")});
  CancelRequested = true;
  std::string out = Path("cancelled.bin");
  bool passwordFailed = true;
  EXPECT_FALSE(ExtractEntry(nullptr, out.c_str(), entries[0], passwordFailed));
  EXPECT_FALSE(passwordFailed);
  EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
