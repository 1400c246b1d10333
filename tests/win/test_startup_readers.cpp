// test_startup_readers.cpp -- the configuration block and the archive directory
// read from crafted files standing in for the stub's own file.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "SFXDefs.h"
#include "SFXFileList.h"
#include "SFXProcsArchive.h"
#include "SFXProcsConfig.h"
#include "SFXVars.h"
#include "stub_test.h"

namespace {

// A configuration block: header, the four texts, filler, trailer.
struct Block {
  std::string title, folder, run, message;
  uint16_t options = 0;
  uint8_t mode = 0, reserved = 0;
  uint32_t style = 0;
  std::string filler;
  std::string Bytes() const {
    std::string texts = title + folder + run + message + filler;
    uint16_t trailerAt = (uint16_t)(CfgHeaderSize + texts.size());
    std::string out(trailerAt + CfgTrailerSize, '\0');
    EncodeConfigHeader({trailerAt, options, mode, (uint8_t)title.size(), (uint8_t)folder.size(),
                        (uint8_t)run.size(), (uint8_t)message.size(), style},
                       (uint8_t *)&out[0]);
    out[CfgReserved] = (char)reserved;
    out.replace(CfgHeaderSize, texts.size(), texts);
    EncodeConfigTrailer(trailerAt, (uint8_t *)&out[trailerAt]);
    return out;
  }
};

// Writes a stand-in for the stub's file: the image (left as a hole of zeros),
// then the given bytes, and opens it as ArchiveHandle.
class OwnFile : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    SfxSettings.Title = "Unzip to disk";
  }
  void TearDown() override {
    if (dialog_) DestroyWindow(dialog_);
    ScratchFolder::TearDown();
  }
  void Open(const std::string &behindImage) {
    MakeFile("own.exe", behindImage, ImageEndOffset());
    OpenArchive("own.exe");
  }
  // Bytes of a code page as UTF-8, as the system converts them.
  static std::string FromCodePage(UINT codePage, const char *bytes) {
    wchar_t wide[64];
    int n = MultiByteToWideChar(codePage, 0, bytes, -1, wide, 64);
    return Utf8(wide, n > 0 ? n - 1 : 0);
  }
  // Reads the block and the directory as the stub does and returns the list's rows.
  struct Row { std::string name, size; uint32_t entry; };
  std::vector<Row> ReadRows() {
    ReadConfiguration();
    list_ = CreateFileList(&dialog_);
    ReadArchiveDirectory();
    std::vector<Row> rows;
    int count = (int)SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
      LVITEMW item = {};
      item.mask = LVIF_PARAM;
      item.iItem = i;
      SendMessageW(list_, LVM_GETITEMW, 0, (LPARAM)&item);
      rows.push_back({CellText(list_, i, 0), CellText(list_, i, 1), (uint32_t)item.lParam});
    }
    return rows;
  }
  HWND dialog_ = nullptr, list_ = nullptr;
};

TEST_F(OwnFile, BlockFieldsAndTexts) {
  Block block;
  block.title = "My title";
  block.folder = "$W";
  block.run = "%SFXTEST_APP%\\setup.exe /quiet";
  block.options = 0x024C;
  block.mode = 2;
  block.reserved = 0x55;  // ignored: the question follows the run command directly
  block.filler = std::string("\xFFQF\n\1junk", 9);
  SetEnvironmentVariableA("SFXTEST_APP", "C:\\App");
  Open(block.Bytes() + "archive bytes");
  ReadConfiguration();
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  EXPECT_EQ(S(SfxSettings.Title), "My title");
  EXPECT_EQ(S(SfxSettings.TargetFolder), windows);
  EXPECT_EQ(S(SfxSettings.RunCommand), "C:\\App\\setup.exe /quiet");
  EXPECT_EQ(S(SfxSettings.StartMessage), "");
  EXPECT_EQ(SfxSettings.Options, 0x024C);
  EXPECT_EQ(SfxSettings.OverwriteMode, 2);
  EXPECT_EQ(SfxSettings.TrailerOffset, 18 + 8 + 2 + 30 + 9);
  EXPECT_EQ(ArchiveStart, ImageEndOffset() + block.Bytes().size());
}

TEST_F(OwnFile, EmptyTextsKeepTheDefaults) {
  Block block;
  block.style = 0x24;  // no question text: the style is never used
  Open(block.Bytes());
  ReadConfiguration();
  char current[MAX_PATH];
  EXPECT_EQ(S(SfxSettings.Title), "Unzip to disk");
  EXPECT_EQ(S(SfxSettings.TargetFolder), std::string(current, GetCurrentDirectoryA(MAX_PATH, current)));
  EXPECT_EQ(S(SfxSettings.RunCommand), "");
  EXPECT_EQ(ArchiveStart, ImageEndOffset() + 26);
}

TEST_F(OwnFile, CountedStringOfLengthZeroReadsNothing) {
  Open("abcdef");
  SetFilePointer(ArchiveHandle, (LONG)ImageEndOffset(), nullptr, FILE_BEGIN);
  SfxString text("kept");
  ReadCountedString(text, 0);
  EXPECT_EQ(S(text), "kept");
  ReadCountedString(text, 3);
  ReadCountedString(text, 2);
  EXPECT_EQ(S(text), "de");
}

// The block starts where the image's last section ends, found through the
// section table whose place the optional header's size gives: 240 bytes for
// this 64-bit image, where a fixed 224 would read the wrong entries.
TEST(ImageEnd, MatchesTheSectionsOfTheFileOnDisk) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> head(4096);
  DWORD read = 0;
  ReadFile(h, head.data(), (DWORD)head.size(), &read, nullptr);
  CloseHandle(h);
  uint32_t fileHeader = GetLE32(&head[0x3C]) + 4;
  EXPECT_EQ(GetLE16(&head[fileHeader + 16]), 240);
  uint32_t table = fileHeader + 20 + 240, end = 0;
  for (uint32_t i = 0; i < GetLE16(&head[fileHeader + 2]); i++) {
    uint32_t e = GetLE32(&head[table + 40 * i + 0x14]) + GetLE32(&head[table + 40 * i + 0x10]);
    if (e > end) end = e;
  }
  EXPECT_GT(end, 0u);
  EXPECT_EQ(ImageEndOffset(), end);
}

TEST_F(OwnFile, DirectoryRowsInOrderWithoutFolders) {
  Open(Block().Bytes() + ZipArchive({{"dir/", ""}, {"dir/sub/file.txt", "hello"},
                                     {"a.bin", std::string(70000, 'x')}, {"empty", ""}, {"dir/sub/", ""}}));
  std::vector<Row> rows = ReadRows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "dir\\sub\\file.txt");
  EXPECT_EQ(rows[0].size, "5");
  EXPECT_EQ(rows[1].name, "a.bin");
  EXPECT_EQ(rows[1].size, "70000");
  EXPECT_EQ(rows[2].name, "empty");
  EXPECT_EQ(rows[2].size, "0");
  ASSERT_EQ(EntryList.Count, 3u);
  for (uint32_t i = 0; i < 3; i++) EXPECT_EQ(rows[i].entry, i);
  EXPECT_EQ(Field16(EntryList.Items[1], EntryNameLength), 5);
  EXPECT_EQ(ArchiveBase, ArchiveStart);  // offsets count from the archive itself
  EXPECT_EQ(Field32(EntryList.Items[1], EntryLocalHeaderOffset), 34u + 30 + 16 + 5);
}

TEST_F(OwnFile, OffsetsAdjustedToTheWholeFile) {
  std::string block = Block().Bytes();
  Open(block + ZipArchive({{"one.txt", "1"}, {"two.txt", "22"}}, "", ImageEndOffset() + (uint32_t)block.size()));
  std::vector<Row> rows = ReadRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(ArchiveBase, 0u);
  EXPECT_EQ(rows[1].name, "two.txt");
}

TEST_F(OwnFile, ArchiveBaseWrapsAround) {
  // Offsets recorded 0x100 too high for where the archive lies: the base wraps
  // below zero, and the directory is still found in front of the end record.
  std::string block = Block().Bytes();
  uint32_t start = ImageEndOffset() + (uint32_t)block.size();
  Open(block + ZipArchive({{"x", "y"}}, "", start + 0x100));
  ReadRows();
  EXPECT_EQ((uint32_t)ArchiveBase, 0u - 0x100u);  // the seek takes the position modulo 2^32
  EXPECT_EQ(EntryList.Count, 1u);
}

// Names become UTF-8 by their host: OEM for MS-DOS, OS/2 and NTFS as version 5.0
// tools wrote it; ANSI otherwise (a Unix name that is not UTF-8 too).
TEST_F(OwnFile, OemNamesFromDosHostsOnly) {
  ZipMember dos{"u\x81.txt", "", 0x0014};
  ZipMember os2{"o\x81.txt", "", 0x0614};
  ZipMember ntfs50{"n\x81.txt", "", 0x0B32};
  ZipMember ntfs20{"m\x81.txt", "", 0x0B14};
  ZipMember unix{"x\x81.txt", "", 0x0314};
  Open(Block().Bytes() + ZipArchive({dos, os2, ntfs50, ntfs20, unix}));
  std::vector<Row> rows = ReadRows();
  ASSERT_EQ(rows.size(), 5u);
  ASSERT_NE(FromCodePage(CP_OEMCP, "\x81"), FromCodePage(CP_ACP, "\x81")) << "the code pages must differ";
  EXPECT_EQ(rows[0].name, "u" + FromCodePage(CP_OEMCP, "\x81") + ".txt");
  EXPECT_EQ(rows[1].name, "o" + FromCodePage(CP_OEMCP, "\x81") + ".txt");
  EXPECT_EQ(rows[2].name, "n" + FromCodePage(CP_OEMCP, "\x81") + ".txt");
  EXPECT_EQ(rows[3].name, "m" + FromCodePage(CP_ACP, "\x81") + ".txt");
  EXPECT_EQ(rows[4].name, "x" + FromCodePage(CP_ACP, "\x81") + ".txt");
}

// A name flagged as UTF-8 stays UTF-8 when it is valid; so does a valid one from
// a Unix host without the flag; anything else falls back to its host's rule.
TEST_F(OwnFile, Utf8NamesStayUtf8) {
  ZipMember cafe{"caf\xC3\xA9/na\xC3\xAFve.txt", "", 0x0314, 0x0800};
  ZipMember omega{"\xCE\xA9mega.txt", "", 0x0314, 0x0800};       // no ANSI equivalent: still itself
  ZipMember omegaDos{"\xCE\xA9.txt", "", 0x0014, 0x0800};         // the flag wins over the host
  ZipMember invalid{"bad\xC3(.txt", "", 0x0314, 0x0800};          // not UTF-8: ANSI
  ZipMember unflagged{"caf\xC3\xA9.txt", "", 0x0314, 0};           // Unix, valid UTF-8: UTF-8
  ZipMember euro{"\xE2\x82\xAC.txt", "", 0x0314, 0x0800};
  Open(Block().Bytes() + ZipArchive({cafe, omega, omegaDos, invalid, unflagged, euro}));
  std::vector<Row> rows = ReadRows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].name, "caf\xC3\xA9\\na\xC3\xAFve.txt");
  EXPECT_EQ(rows[1].name, "\xCE\xA9mega.txt");
  EXPECT_EQ(rows[2].name, "\xCE\xA9.txt");
  EXPECT_EQ(rows[3].name, "bad" + FromCodePage(CP_ACP, "\xC3") + "(.txt");
  EXPECT_EQ(rows[4].name, "caf\xC3\xA9.txt");
  EXPECT_EQ(rows[5].name, "\xE2\x82\xAC.txt");
}

TEST_F(OwnFile, LongestNameAccepted) {
  std::string name = std::string(516, 'n') + ".txt";
  Open(Block().Bytes() + ZipArchive({{name, "z"}}));
  std::vector<Row> rows = ReadRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, name);
}

TEST_F(OwnFile, OnlyFoldersGiveAnEmptyList) {
  Open(Block().Bytes() + ZipArchive({{"a/", ""}, {"a/b/", ""}}));
  EXPECT_EQ(ReadRows().size(), 0u);
  EXPECT_EQ(EntryList.Count, 0u);
}

TEST_F(OwnFile, EndRecordSignatureInTheCommentDoesNotCount) {
  std::string zip = ZipArchive({{"a", "1"}}, std::string("see PK\5\6 here", 14));
  Open(Block().Bytes() + zip);
  ReadConfiguration();
  EXPECT_EQ(FindEndRecord(), ArchiveStart + zip.size() - 14 - 22);
}

TEST_F(OwnFile, EndRecordSignatureInTheLastMemberWins) {
  std::string zip = ZipArchive({{"a", "1"}, {"b", std::string("xxPK\5\6", 6) + std::string(30, 'y')}});
  Open(Block().Bytes() + zip);
  ReadConfiguration();
  EXPECT_EQ(FindEndRecord(), ArchiveStart + 32 + 30 + 1 + 2);
}

TEST_F(OwnFile, EndRecordBehindTheLongestComment) {
  std::string zip = ZipArchive({{"a", "1"}}, std::string(65535, 'c'));
  Open(Block().Bytes() + zip);
  std::vector<Row> rows = ReadRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, "a");
}

}  // namespace
