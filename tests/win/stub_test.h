// stub_test.h -- what every Windows-side unit test shares: StubTest, the base
// fixture that puts the stub's process-wide state back to its start-up values
// before and after each test (so that tests pass in any order), a scratch folder,
// the file list on a window of its own, and a writer of small ZIP archives
// crafted byte by byte.
#ifndef SFXKIT_TESTS_WIN_STUB_TEST_H
#define SFXKIT_TESTS_WIN_STUB_TEST_H

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SFXDefs.h"
#include "SFXFileList.h"
#include "SFXMain.h"
#include "SFXProcsExtract.h"
#include "SFXVars.h"
#include "crc32.h"

inline std::string S(const SfxString &s) { return std::string(s.Text(), s.Length()); }

inline void Put16(std::string &out, uint32_t v) { out += (char)(v & 0xFF), out += (char)((v >> 8) & 0xFF); }
inline void Put32(std::string &out, uint32_t v) { Put16(out, v & 0xFFFF), Put16(out, v >> 16); }

// Every global of SFXVars back to what the process starts with, then start-up's
// own initialisation. A test that fails half-way (an open handle, a cancel flag,
// a list) thus cannot change the outcome of the next one.
inline void ResetStubState() {
  CloseFileHandle(ArchiveHandle);
  CloseFileHandle(OutputHandle);
  ReleaseMemory(EntryList.Items);
  EntryList = EntryArray();
  SfxSettings = SfxSettingsRecord();
  ModulePath.Release();
  OutputName.Release();
  Password.Release();
  TargetFile.Release();
  SystemImageList = nullptr;
  ArchiveStart = ArchiveBase = 0;
  CurrentEntry = MemberInfo();
  CompressedLeft = 0;
  EntryCrc = 0;
  CryptKeys[0] = CryptKeys[1] = CryptKeys[2] = 0;
  EntryEncrypted = false;
  if (MainWindow && IsWindow(MainWindow)) DestroyWindow(MainWindow);
  MainWindow = nullptr;
  CancelRequested = false;
  Extracting = false;
  RunOutcome = ExitDone;
  if (ComInitialized) CoUninitialize();
  ComInitialized = false;
  TemporaryFile.Release();
  PassedArguments = nullptr;
  CreatedPaths.Release();
  PrivateFolder.Release();
  CloseFileHandle(PrivateFolderHandle);
  ProgressDone = 0;
  ProgressShift = 0;
  LongestName = 0;
  InitializeModules();
  BuildCrcTable();
}

class StubTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetStubState(); }
  void TearDown() override { ResetStubState(); }
};

// A fresh folder below the temporary folder (root_), removed with everything in it.
class ScratchFolder : public StubTest {
 protected:
  void SetUp() override {
    StubTest::SetUp();
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "sfxscratch" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter++);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);  // left by an earlier run that was stopped: process IDs come round again
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
  }
  void TearDown() override {
    StubTest::TearDown();  // closes the handles first: open files cannot be deleted
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::string Path(const std::string &name) const { return root_ + "\\" + name; }
  // Writes data to root_\name, an empty file unless given, from offset `at`
  // (what lies before is a hole of zeros).
  void MakeFile(const std::string &name, const std::string &data = "", std::streamoff at = 0) {
    std::ofstream file(Path(name), std::ios::binary);
    ASSERT_TRUE(file.seekp(at).write(data.data(), (std::streamsize)data.size()));
  }
  // Opens root_\name as the stub's own file.
  void OpenArchive(const std::string &name) {
    ArchiveHandle = CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(ArchiveHandle, INVALID_HANDLE_VALUE);
  }
  std::string root_;
};

// The main dialog as far as the file list needs it: a popup (*dialog, for the
// caller to destroy) holding list IdFileList with the template's styles, set up
// as the stub does. Returns the list.
inline HWND CreateFileList(HWND *dialog) {
  InitCommonControls();
  *dialog = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"",
                              WS_CHILD | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER,
                              0, 0, 400, 300, *dialog, (HMENU)(INT_PTR)IdFileList, nullptr, nullptr);
  SetUpFileList(*dialog);
  return list;
}

inline std::string Utf8(const wchar_t *text, int length) {
  char utf8[1800];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8, nullptr, nullptr);
  return std::string(utf8, n > 0 ? n : 0);
}

// A list view cell's text, as UTF-8.
inline std::string CellText(HWND list, int row, int column) {
  wchar_t text[600];
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 600;
  return Utf8(text, (int)SendMessageW(list, LVM_GETITEMTEXTW, row, (LPARAM)&item));
}

// One member of a crafted archive. data is what follows the local header
// (encryption header included); the fields are written as they are.
struct ZipMember {
  ZipMember(std::string name = "", std::string data = "", uint16_t madeBy = 0x031E, uint16_t flags = 0)
      : name(name), data(data), madeBy(madeBy), flags(flags) {}
  std::string name, data;
  uint16_t madeBy;  // 0x031E: Unix host, version 3.0
  uint16_t flags;
  uint16_t method = 0;
  uint32_t dosTime = 0x21;   // time in the low half, date in the high half
  uint32_t crc = 0;
  uint32_t size = 0xFFFFFFFFu;  // uncompressed size; the default: data's size
  std::string localExtra;       // an extra field only the local header has
  bool localSizes = true;       // false: sizes only in the directory
};

// A whole archive: local headers with data, the directory (each record with an
// extra field and a comment a reader must skip), the end record and comment.
// Recorded offsets count from `base` bytes before the archive's first byte.
inline std::string ZipArchive(const std::vector<ZipMember> &members, const std::string &comment = "",
                              uint32_t base = 0) {
  std::string local, central;
  for (const ZipMember &m : members) {
    uint32_t size = m.size == 0xFFFFFFFFu ? (uint32_t)m.data.size() : m.size;
    uint32_t offset = base + (uint32_t)local.size();
    local += std::string("PK\3\4", 4);
    Put16(local, 10), Put16(local, m.flags), Put16(local, m.method), Put32(local, m.dosTime);
    Put32(local, (m.flags & 8) ? 0 : m.crc);  // with bit 3 a data descriptor would carry it
    Put32(local, m.localSizes ? (uint32_t)m.data.size() : 0), Put32(local, m.localSizes ? size : 0);
    Put16(local, (uint32_t)m.name.size()), Put16(local, (uint32_t)m.localExtra.size());
    local += m.name + m.localExtra + m.data;
    central += std::string("PK\1\2", 4);
    Put16(central, m.madeBy), Put16(central, 10), Put16(central, m.flags), Put16(central, m.method);
    Put32(central, m.dosTime), Put32(central, m.crc), Put32(central, (uint32_t)m.data.size()), Put32(central, size);
    Put16(central, (uint32_t)m.name.size()), Put16(central, 4), Put16(central, 3);
    Put16(central, 0), Put16(central, 0), Put32(central, 0), Put32(central, offset);
    central += m.name + std::string("\xFE\xCA\0\0", 4) + "abc";
  }
  std::string out = local + central + std::string("PK\5\6", 4);
  Put16(out, 0), Put16(out, 0), Put16(out, (uint32_t)members.size()), Put16(out, (uint32_t)members.size());
  Put32(out, (uint32_t)central.size()), Put32(out, base + (uint32_t)local.size());
  Put16(out, (uint32_t)comment.size());
  return out + comment;
}

// A member as the directory reader describes one without extra fields: the
// full-width sizes and offset are those of its fixed part.
inline MemberInfo Described(const ArchiveEntry &entry) {
  MemberInfo info = {};
  memcpy(info.Bytes, entry.Bytes, EntrySize);
  info.CompressedSize = Field32(entry, EntryCompressedSize);
  info.UncompressedSize = Field32(entry, EntryUncompressedSize);
  info.LocalHeaderOffset = Field32(entry, EntryLocalHeaderOffset);
  return info;
}

// The fixed part of every directory record of an archive from ZipArchive
// (without comment, offsets from its first byte), in directory order, each
// with the room up to the next local header (or the directory) as its DataLimit.
inline std::vector<MemberInfo> CentralRecords(const std::string &zip) {
  const uint8_t *end = (const uint8_t *)zip.data() + zip.size() - EndRecordSize;
  std::vector<MemberInfo> entries(GetLE16(end + EndTotalEntries));
  size_t at = GetLE32(end + EndDirectoryOffset);
  for (MemberInfo &e : entries) {
    memcpy(e.Bytes, zip.data() + at, EntrySize);
    e = Described(e);
    at += EntrySize + Field16(e, EntryNameLength) + Field16(e, EntryExtraLength) + Field16(e, EntryCommentLength);
  }
  for (size_t i = 0; i < entries.size(); i++)
    entries[i].DataLimit = i + 1 < entries.size() ? entries[i + 1].LocalHeaderOffset : GetLE32(end + EndDirectoryOffset);
  return entries;
}

#endif
