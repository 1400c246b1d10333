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

namespace {

// ---- run command ---------------------------------------------------------

struct RunCase {
  const char *command, *program, *parameters, *checkBox;
};

TEST(RunCommand, SplitsProgramAndParameters) {
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
    EXPECT_STREQ(RunCheckBoxText().Text(), c.checkBox) << c.command;
  }
  SfxSettings.RunCommand = "setup.exe /S";
  EXPECT_STREQ(RunErrorText().Text(), "Cannot run setup.exe S");
}

TEST(RunCommand, NothingConfiguredStartsNothing) {
  SfxSettings.RunCommand = "definitely-not-a-program-here.exe";
  SfxSettings.RunLength = 0;
  EXPECT_EQ(RunAfterUnzip(), 0);
}

// ---- files on disk ---------------------------------------------------------

// A fresh folder under the temporary folder, removed with its files at the end.
class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "sfxextract" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter_++);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    for (const std::string &file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(path_.c_str());
  }
  std::string File(const char *name) {
    files_.push_back(path_ + "\\" + name);
    return files_.back();
  }

 private:
  static int counter_;
  std::string path_;
  std::vector<std::string> files_;
};
int TempFolder::counter_ = 0;

std::string ReadWholeFile(const std::string &path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data(GetFileSize(h, nullptr), '\0');
  DWORD read = 0;
  if (!data.empty()) ReadFile(h, &data[0], (DWORD)data.size(), &read, nullptr);
  CloseHandle(h);
  return data;
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

TEST(SetFileDateTime, StampsTheLastWriteTimeAsLocalTime) {
  TempFolder folder;
  std::string path = folder.File("stamped.txt");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetFileDateTime(h, SomeDosTime);
  CloseHandle(h);
  EXPECT_EQ(LastWriteDos(path), SomeDosTime);
}

TEST(SetFileDateTime, AnImpossibleDateLeavesTheFileAlone) {
  TempFolder folder;
  std::string path = folder.File("unchanged.txt");
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

void Put16(std::string &out, uint32_t v) { out += (char)v, out += (char)(v >> 8); }
void Put32(std::string &out, uint32_t v) { Put16(out, v & 0xFFFF), Put16(out, v >> 16); }

// One member as the archive holds it, and what it must extract to.
struct Member {
  std::string plain;         // expected output
  std::string data;          // bytes behind the local header (encryption header included)
  uint16_t method = 0;
  uint16_t flags = 0;
  std::string localExtra;    // an extra field only the local header has
  std::string password;      // encrypts the member when not empty
};

// Traditional encryption, with the decoder's own key schedule running on the plain text.
std::string Encrypt(const std::string &plain, const std::string &password, uint8_t checkByte) {
  InitKeys(password.c_str(), (uint32_t)password.size());
  std::string header = "0123456789a";
  header += (char)checkByte;
  std::string out;
  for (char c : header + plain) {
    uint8_t p = (uint8_t)c;
    out += (char)(p ^ DecryptByte());
    UpdateKeys(p);
  }
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

// What lies before the archive in a real stub's file.
const std::string ImageStandIn = "stub image stand-in";

// Writes a local header and the data of each member into a file of its own and
// returns the central records (signature completed) in member order.
std::vector<MemberInfo> WriteArchive(const std::string &path, std::vector<Member> &members) {
  std::string file = ImageStandIn;  // the recorded offsets count from ArchiveBase
  std::vector<MemberInfo> entries;
  for (Member &m : members) {
    uint32_t crc = Crc(m.plain);
    uint16_t dosTime = (uint16_t)SomeDosTime;
    std::string data = m.data;
    if (!m.password.empty()) {
      m.flags |= 1;
      uint8_t check = (m.flags & 8) ? (uint8_t)(dosTime >> 8) : (uint8_t)(crc >> 24);
      data = Encrypt(m.data, m.password, check);
    }
    MemberInfo e = {};
    memcpy(e.Bytes, "PK\1\2", 4);
    PutLE16(e.Bytes + EntryFlags, m.flags);
    PutLE16(e.Bytes + EntryMethod, m.method);
    PutLE16(e.Bytes + EntryDosTime, dosTime);
    PutLE16(e.Bytes + EntryDosDate, (uint16_t)(SomeDosTime >> 16));
    PutLE32(e.Bytes + EntryCrc32, crc);
    PutLE32(e.Bytes + EntryCompressedSize, (uint32_t)data.size());
    PutLE32(e.Bytes + EntryUncompressedSize, (uint32_t)m.plain.size());
    PutLE32(e.Bytes + EntryLocalHeaderOffset, (uint32_t)(file.size() - ImageStandIn.size()));
    entries.push_back(e);
    std::string name = "stored-name.bin";
    file += "PK\3\4";
    Put16(file, 20), Put16(file, m.flags), Put16(file, m.method), Put32(file, SomeDosTime);
    Put32(file, (m.flags & 8) ? 0 : crc), Put32(file, 0), Put32(file, 0);
    Put16(file, (uint32_t)name.size()), Put16(file, (uint32_t)m.localExtra.size());
    file += name + m.localExtra + data;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(h, file.data(), (DWORD)file.size(), &written, nullptr);
  CloseHandle(h);
  return entries;
}

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (char &c : s) c = (char)((x = x * 1103515245u + 12345u) >> 16);
  return s;
}

class ExtractEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildCrcTable();
    memcpy(LocalHeaderSignature, "PK\3\4", 4);
    memcpy(CentralHeaderSignature, "PK\1\2", 4);
    CancelRequested = false;
    Password = "";
    archive_ = folder_.File("archive.bin");
  }
  void TearDown() override { CloseFileHandle(ArchiveHandle); }

  // Extracts every member to out<i>.bin and checks content, time and result.
  void ExtractAll(std::vector<Member> members) {
    std::vector<MemberInfo> entries = WriteArchive(archive_, members);
    ArchiveHandle = CreateFileA(archive_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ArchiveBase = (uint32_t)ImageStandIn.size();
    for (size_t i = 0; i < members.size(); i++) {
      std::string out = folder_.File(("out" + std::to_string(i) + ".bin").c_str());
      bool passwordFailed = true;
      EXPECT_TRUE(ExtractEntry(nullptr, out.c_str(), entries[i], passwordFailed)) << "member " << i;
      EXPECT_FALSE(passwordFailed);
      EXPECT_EQ(OutputHandle, INVALID_HANDLE_VALUE);
      EXPECT_TRUE(ReadWholeFile(out) == members[i].plain) << "member " << i;
      EXPECT_EQ(LastWriteDos(out), SomeDosTime) << "member " << i;
    }
  }

  TempFolder folder_;
  std::string archive_;
};

TEST_F(ExtractEntryTest, StoredMembersOfEverySize) {
  std::vector<Member> members;
  for (size_t size : {0, 1, 32767, 32768, 32769, 200000}) {
    Member m;
    m.plain = m.data = Pattern(size);
    members.push_back(m);
  }
  ExtractAll(members);
}

TEST_F(ExtractEntryTest, DeflatedMemberGoesThroughInflate) {
  Member m;
  m.plain = Pattern(100000);
  m.data = DeflateStoredBlocks(m.plain);
  m.method = 8;
  ExtractAll({m});
}

TEST_F(ExtractEntryTest, DataIsFoundThroughTheLocalHeadersOwnLengths) {
  Member m;
  m.plain = m.data = "behind a local extra field the directory does not know";
  m.localExtra = std::string(300, 'x');
  ExtractAll({m});
}

TEST_F(ExtractEntryTest, RememberedPasswordOpensEncryptedMembersWithoutAPrompt) {
  Password = "secret";
  Member stored, deflated, streamed;
  stored.plain = stored.data = Pattern(40000);
  stored.password = "secret";
  deflated.plain = Pattern(5000);
  deflated.data = DeflateStoredBlocks(deflated.plain);
  deflated.method = 8;
  deflated.password = "secret";
  streamed.plain = streamed.data = "sizes in a data descriptor: the time's high byte checks the password";
  streamed.flags = 8;
  streamed.password = "secret";
  ExtractAll({stored, deflated, streamed});
  EXPECT_STREQ(Password.Text(), "secret");
}

TEST_F(ExtractEntryTest, CancelBeforeTheFileIsCreatedCreatesNothing) {
  Member m;
  m.plain = m.data = "never written";
  std::vector<Member> members = {m};
  std::vector<MemberInfo> entries = WriteArchive(archive_, members);
  ArchiveHandle = CreateFileA(archive_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ArchiveBase = (uint32_t)ImageStandIn.size();
  CancelRequested = true;
  std::string out = folder_.File("cancelled.bin");
  bool passwordFailed = true;
  EXPECT_FALSE(ExtractEntry(nullptr, out.c_str(), entries[0], passwordFailed));
  EXPECT_FALSE(passwordFailed);
  EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
  CancelRequested = false;
}

}  // namespace
