// zipformat_test.cpp -- the file-format reader: directory records through short
// reads and buffer refills, where it stops on damaged input, the end-record
// search, the configuration block and the name rules.
#include <gtest/gtest.h>
#include <string.h>

#include <tuple>

#include "core_host.h"
#include "member.h"
#include "test_support.h"
#include "zipformat.h"

namespace {

// A central directory record with its name, extra field and comment.
Bytes CentralRecord(const std::string &name, size_t extra, size_t comment, uint32_t crc = 0) {
  Bytes r(EntrySize, 0);
  CompleteSignatures();
  memcpy(r.data(), CentralHeaderSignature, 4);
  PutLE32(&r[EntryCrc32], crc);
  PutLE16(&r[EntryNameLength], (uint16_t)name.size());
  PutLE16(&r[EntryExtraLength], (uint16_t)extra);
  PutLE16(&r[EntryCommentLength], (uint16_t)comment);
  r.insert(r.end(), name.begin(), name.end());
  for (size_t i = 0; i < extra + comment; i++) r.push_back((uint8_t)(i * 7));
  return r;
}

// Reads up to `count` records of `directory`; the names of those read.
std::vector<std::string> ReadRecords(const Bytes &directory, int count, uint32_t readLimit, bool *failed) {
  HostReset(directory.data(), directory.size());
  Host.ReadLimit = readLimit;
  DirectoryReader reader;
  OpenDirectoryReader(&reader);
  DirectoryRecord record;
  std::vector<std::string> names;
  *failed = false;
  for (int i = 0; i < count && !*failed; i++) {
    if (ReadDirectoryRecord(&reader, &record)) names.push_back(record.Name);
    else *failed = true;
  }
  CloseDirectoryReader(&reader);
  Host.ReadLimit = 0;
  return names;
}

}  // namespace

TEST(DirectoryReader, RecordsAcrossRefillsShortReadsAndLongSkips) {
  Bytes directory;
  std::vector<std::string> expected;
  for (int i = 0; i < 300; i++) {
    std::string name = "dir/file" + std::to_string(i) + ".txt";
    // Now and then an extra field and a comment as long as they get.
    Bytes r = CentralRecord(name, i % 50 == 3 ? 65535 : i % 5, i % 70 == 9 ? 65535 : 0, (uint32_t)i);
    directory.insert(directory.end(), r.begin(), r.end());
    expected.push_back(name);
  }
  for (uint32_t limit : {0u, 1u, 7u, 4096u}) {
    bool failed;
    EXPECT_EQ(ReadRecords(directory, 300, limit, &failed), expected) << "reads of at most " << limit;
    EXPECT_FALSE(failed);
  }
  // Without a limit, one read serves many records.
  bool failed;
  HostReset(directory.data(), directory.size());
  ReadRecords(directory, 40, 0, &failed);
  EXPECT_LE(Host.ReadCalls, 3u);
}

TEST(DirectoryReader, ExtraFieldIsHandedOutWholeOrNotAtAll) {
  Bytes directory = CentralRecord("a.txt", 9, 4);
  HostReset(directory.data(), directory.size());
  DirectoryReader reader;
  OpenDirectoryReader(&reader);
  DirectoryRecord record;
  ASSERT_TRUE(ReadDirectoryRecord(&reader, &record));
  ASSERT_EQ(record.ExtraLength, 9);
  EXPECT_EQ(record.Extra[1], 7);
  EXPECT_EQ(record.Offset, 0u);
  CloseDirectoryReader(&reader);

  // The archive ends inside the extra field of the last record: the record
  // stands, its extra field does not, and a further record is damage.
  directory.resize(EntrySize + 5 + 4);
  bool failed;
  EXPECT_EQ(ReadRecords(directory, 1, 0, &failed), std::vector<std::string>{"a.txt"});
  EXPECT_FALSE(failed);
  EXPECT_EQ(ReadRecords(directory, 2, 0, &failed).size(), 1u);
  EXPECT_TRUE(failed);
}

TEST(DirectoryReader, DamagedRecordsStopTheWalk) {
  Bytes good = CentralRecord("ok", 0, 0);
  auto stopsAtSecond = [&](Bytes second) {
    Bytes directory = good;
    directory.insert(directory.end(), second.begin(), second.end());
    bool failed;
    size_t read = ReadRecords(directory, 2, 0, &failed).size();
    return failed && read == 1;
  };
  Bytes wrong = CentralRecord("x", 0, 0);
  wrong[0] = 'Q';
  EXPECT_TRUE(stopsAtSecond(wrong));
  Bytes unnamed = CentralRecord("", 0, 0);
  EXPECT_TRUE(stopsAtSecond(unnamed));
  EXPECT_TRUE(stopsAtSecond(CentralRecord(std::string(521, 'n'), 0, 0)));
  EXPECT_FALSE(stopsAtSecond(CentralRecord(std::string(520, 'n'), 0, 0)));
  Bytes cut = CentralRecord("name", 0, 0);
  cut.resize(EntrySize + 2);  // the archive ends inside the name
  EXPECT_TRUE(stopsAtSecond(cut));
}

TEST(EndRecord, WindowSearchAndDirectoryPlace) {
  EXPECT_EQ(EndRecordWindowSize(1000, 978), 0u);   // 22 bytes leave no room
  EXPECT_EQ(EndRecordWindowSize(1000, 977), 23u);
  EXPECT_EQ(EndRecordWindowSize(200000, 0), 65558u);
  EXPECT_EQ(EndRecordWindowSize(10, 20), 0u);
  CompleteSignatures();
  Bytes window(100, 0);
  memcpy(&window[10], EndRecordSignature, 4);
  memcpy(&window[40], EndRecordSignature, 4);
  memcpy(&window[90], EndRecordSignature, 4);  // too close to the end to hold a record
  EXPECT_EQ(FindEndSignature(window.data(), 100), 10);
  EXPECT_EQ(FindEndSignature(window.data() + 11, 89), 29);
  EXPECT_EQ(FindEndSignature(window.data() + 41, 59), -1);

  EndRecord r = {0, 0, 1, 1, 100, 50, 0};
  uint32_t base;
  uint64_t start;
  ASSERT_TRUE(LocateDirectory(1000, r, &base, &start));
  EXPECT_EQ(base, 850u);
  EXPECT_EQ(start, 900u);
  r.DirectoryOffset = 2000;  // offsets that count from elsewhere wrap as 32-bit positions do
  ASSERT_TRUE(LocateDirectory(1000, r, &base, &start));
  EXPECT_EQ(base, (uint32_t)(1000 - 2100));
  r.DirectorySize = 1001;
  EXPECT_FALSE(LocateDirectory(1000, r, &base, &start));
  r = {0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(LocateDirectory(1000, r, &base, &start));
}

TEST(ConfigBlock, HeaderAndTrailerRoundTripAndAnswers) {
  ConfigHeader h = {40, 0x024C, ModeAsk, 3, 4, 5, 6, 0x24}, back;
  uint8_t bytes[CfgHeaderSize], trailer[CfgTrailerSize];
  EncodeConfigHeader(h, bytes);
  ASSERT_TRUE(DecodeConfigHeader(bytes, &back));
  auto fields = [](const ConfigHeader &c) {
    return std::make_tuple(c.TrailerOffset, c.Options, c.OverwriteMode, c.TitleLength, c.FolderLength, c.RunLength,
                           c.MessageLength, c.MessageStyle);
  };
  EXPECT_EQ(fields(h), fields(back));
  EXPECT_EQ(bytes[CfgReserved], 0);
  bytes[3] = 2;
  EXPECT_FALSE(DecodeConfigHeader(bytes, &back));
  EncodeConfigTrailer(40, trailer);
  EXPECT_TRUE(IsConfigTrailer(trailer));
  EXPECT_EQ(GetLE32(trailer + 4), 40u);
  for (int answer = 1; answer <= 11; answer++)
    EXPECT_EQ(StartAnswerDeclines(answer), answer == 2 || answer == 3 || answer == 7 || answer == 8) << answer;
}

TEST(ImageLayout, HeadersRunningPastTheBytesAreRefused) {
  Bytes image(0x400, 0);
  image[0] = 'M', image[1] = 'Z';
  PutLE32(&image[PeDosOffset], 0x80);
  memcpy(&image[0x80], "PE\0\0", 4);
  PutLE16(&image[0x84 + PeFileSectionCount], 2);
  PutLE16(&image[0x84 + PeFileOptionalSize], 240);
  uint8_t *table = &image[0x84 + PeFileHeaderSize + 240];
  PutLE32(table + PeSectionRawPointer, 0x400), PutLE32(table + PeSectionRawSize, 0x1000);
  PutLE32(table + 40 + PeSectionRawPointer, 0x200), PutLE32(table + 40 + PeSectionRawSize, 0x200);
  ImageLayout layout;
  ASSERT_TRUE(ReadImageLayout(image.data(), image.size(), &layout));
  EXPECT_EQ(layout.End, 0x1400u);
  EXPECT_FALSE(ReadImageLayout(image.data(), 0x84 + PeFileHeaderSize + 240 + 79, &layout));
  PutLE32(&image[PeDosOffset], 0x3F0);
  EXPECT_FALSE(ReadImageLayout(image.data(), image.size(), &layout));
}

TEST(NameRules, WhatLeavesTheFolderOrNamesADevice) {
  auto refusal = [](const std::string &name) { return RefuseName(name.data(), (uint32_t)name.size()); };
  for (const char *name : {"\\windows\\win.ini", "/etc/x", "C:\\x.txt", "c:x.txt", "a\\b.txt:stream", "..",
                           "..\\evil.txt", "a\\..\\..\\evil.txt", "a\\..", "a/. ./b", "a\\...\\b", "...", ""})
    EXPECT_EQ(refusal(name), NameLeavesFolder) << name;
  for (const char *name : {"CON", "con.txt", "dir\\Nul", "PRN.tar.gz", "aux\\file.txt", "aux .x.y", "NUL .txt",
                           "COM1", "lpt9.log", "conin$.x", "a\\CONOUT$", "COM\xC2\xB9.txt", "LPT\xC2\xB2", "COM\xC2\xB3"})
    EXPECT_EQ(refusal(name), NameIsDevice) << name;
  for (const char *name : {"readme.txt", "dir\\sub\\file.bin", "..hidden", "a..b\\c", "x..", "...name",
                           "console.txt", "COM10", "COM0", "LPT0.txt", "LPT", "nul2", ".\\x", "a\\.\\b",
                           "auxiliary\\prn_notes.txt", "com\xC2\xB4", "COM\xB9"})
    EXPECT_EQ(refusal(name), NameAccepted) << name;
  char name[] = "a/b/c/";
  SeparatorsToBackslashes(name, 6);
  EXPECT_STREQ(name, "a\\b\\c\\");
  EXPECT_TRUE(IsFolderName(name, 6));
  EXPECT_FALSE(IsFolderName(name, 5));
}

TEST(Signatures, CompletingThemAgainChangesNothing) {
  CompleteSignatures();
  CompleteSignatures();
  EXPECT_EQ(memcmp(LocalHeaderSignature, "PK\3\4", 4), 0);
  EXPECT_EQ(memcmp(CentralHeaderSignature, "PK\1\2", 4), 0);
  EXPECT_EQ(memcmp(EndRecordSignature, "PK\5\6", 4), 0);
}

// The stored copy and inflate report how a member ended; a refused write stops both.
TEST(DecodeResults, StoredCopyAndInflateReportTheirEnd) {
  Bytes data = SampleData(DataKind::Binary, 100000);
  HostReset(data.data(), data.size());
  CompressedLeft = (int64_t)data.size();
  EntryEncrypted = false;
  EXPECT_EQ(CopyStored(), DecodeResult::Done);
  EXPECT_EQ(Host.Output, data);

  HostReset(data.data(), 70000);  // the archive ends inside the third block
  CompressedLeft = (int64_t)data.size();
  EXPECT_EQ(CopyStored(), DecodeResult::ArchiveEnded);
  EXPECT_EQ(Host.OutputBytes, 65536u);  // a block the archive cannot fill is not written

  Host.RefusePiece = 2;
  HostReset(data.data(), data.size());
  CompressedLeft = (int64_t)data.size();
  EXPECT_EQ(CopyStored(), DecodeResult::OutputRefused);
  EXPECT_EQ(Host.Pieces.size(), 1u);
  Bytes stream = ZlibDeflate(data, 6);
  HostInflate(stream);
  EXPECT_EQ(Host.Result, DecodeResult::OutputRefused);
  EXPECT_EQ(Host.Pieces.size(), 1u);
  Host.RefusePiece = 0;

  HostInflate(stream);
  EXPECT_EQ(Host.Result, DecodeResult::Done);
  HostInflate(stream.data(), stream.size() / 2, (int64_t)stream.size());
  EXPECT_EQ(Host.Result, DecodeResult::ArchiveEnded);
  HostInflate(Bytes{0x01, 0x05, 0x00, 0x00, 0x00});  // a stored block whose length lacks its complement
  EXPECT_EQ(Host.Result, DecodeResult::BadData);
}
