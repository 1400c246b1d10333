// zipformat_test.cpp -- the file-format reader: directory records through short
// reads and buffer refills, where it stops on damaged input, the end-record
// search, the ZIP64 end record and field, the configuration block and the name rules.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>

#include <functional>
#include <tuple>

#include "core_host.h"
#include "crc32.h"
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

// The tail of an archive behind `archiveStart` bytes of something else: a
// directory of `entries` records, then, with `zip64`, a ZIP64 end record (with
// `extensible` bytes of extensible data) and its locator, then the end record
// and `trailing` bytes. Offsets count from `base` (the archive start or 0).
struct Tail {
  Bytes File;
  uint64_t Zip64At = 0, EndAt = 0, DirectoryAt = 0;
};
Tail ArchiveTail(uint64_t archiveStart, uint64_t base, uint32_t entries, bool zip64, uint32_t extensible = 0,
                 bool saturate = true, size_t trailing = 0) {
  CompleteSignatures();
  Tail t;
  t.File.assign(archiveStart + 40, 'd');  // stands in for member data
  t.DirectoryAt = t.File.size();
  for (uint32_t i = 0; i < entries; i++) {
    Bytes r = CentralRecord("m" + std::to_string(i), 0, 0);
    t.File.insert(t.File.end(), r.begin(), r.end());
  }
  uint64_t size = t.File.size() - t.DirectoryAt;
  if (zip64) {
    t.Zip64At = t.File.size();
    Bytes z(Zip64EndSize + extensible, 'x');
    memcpy(z.data(), Zip64EndSignature, 4);
    PutLE64(&z[Zip64EndLength], Zip64EndSize - Zip64EndLeadSize + extensible);
    PutLE32(&z[Zip64EndThisDisk], 0), PutLE32(&z[Zip64EndDirectoryDisk], 0);
    PutLE64(&z[Zip64EndDiskEntries], entries), PutLE64(&z[Zip64EndTotalEntries], entries);
    PutLE64(&z[Zip64EndDirectorySize], size), PutLE64(&z[Zip64EndDirectoryOffset], t.DirectoryAt - base);
    Bytes l(Zip64LocatorSize, 0);
    memcpy(l.data(), Zip64LocatorSignature, 4);
    PutLE64(&l[Zip64LocatorEndOffset], t.Zip64At - base);
    PutLE32(&l[Zip64LocatorDisks], 1);
    t.File.insert(t.File.end(), z.begin(), z.end());
    t.File.insert(t.File.end(), l.begin(), l.end());
  }
  t.EndAt = t.File.size();
  Bytes e(EndRecordSize, 0);
  memcpy(e.data(), EndRecordSignature, 4);
  PutLE16(&e[EndDiskEntries], zip64 && saturate ? 0xFFFF : (uint16_t)entries);
  PutLE16(&e[EndTotalEntries], zip64 && saturate ? 0xFFFF : (uint16_t)entries);
  PutLE32(&e[EndDirectorySize], zip64 && saturate ? 0xFFFFFFFF : (uint32_t)size);
  PutLE32(&e[EndDirectoryOffset], zip64 && saturate ? 0xFFFFFFFF : (uint32_t)(t.DirectoryAt - base));
  t.File.insert(t.File.end(), e.begin(), e.end());
  t.File.insert(t.File.end(), trailing, 'T');
  return t;
}

bool ReadFromBytes(void *context, uint64_t at, uint8_t *bytes, uint32_t count) {
  const Bytes &file = *(const Bytes *)context;
  if (at > file.size() || file.size() - at < count) return false;
  memcpy(bytes, file.data() + at, count);
  return true;
}

// What ReadZip64EndRecord and LocateDirectory make of a tail: the end record as
// completed, where the directory ends, the base and the directory's start.
struct Located {
  bool Read = false, Placed = false;
  EndRecord End = {};
  uint64_t DirectoryEnd = 0, Base = 0, DirectoryStart = 0;
};
Located Locate(Tail &t, uint64_t archiveStart) {
  Located l;
  DecodeEndRecord(&t.File[t.EndAt], &l.End);
  l.Read = ReadZip64EndRecord(ReadFromBytes, &t.File, t.EndAt, archiveStart, &l.End, &l.DirectoryEnd);
  if (l.Read) l.Placed = LocateDirectory(l.DirectoryEnd, l.End, &l.Base, &l.DirectoryStart);
  return l;
}

// Reads up to `count` records of `directory`, handing each to `use` while the
// reader still holds it; the names of those read.
std::vector<std::string> ReadRecords(const Bytes &directory, int count, uint32_t readLimit, bool *failed,
                                     const std::function<void(const DirectoryRecord &)> &use = nullptr) {
  HostReset(directory.data(), directory.size());
  Host.ReadLimit = readLimit;
  DirectoryReader reader;
  OpenDirectoryReader(&reader, EndRecord{0, 0, 0, 0, directory.size(), 0, 0}, false);
  DirectoryRecord record;
  std::vector<std::string> names;
  *failed = false;
  for (int i = 0; i < count && !*failed; i++) {
    if (ReadDirectoryRecord(&reader, &record)) names.push_back(record.Name);
    else *failed = true;
    if (!*failed && use) use(record);
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
  ReadRecords(directory, 40, 0, &failed);
  EXPECT_LE(Host.ReadCalls, 3u);
}

TEST(DirectoryReader, ExtraFieldIsHandedOutWholeOrNotAtAll) {
  Bytes directory = CentralRecord("a.txt", 9, 4);
  bool failed;
  EXPECT_EQ(ReadRecords(directory, 1, 0, &failed, [](const DirectoryRecord &record) {
              ASSERT_EQ(record.ExtraLength, 9);
              EXPECT_EQ(record.Extra[1], 7);
              EXPECT_EQ(record.Offset, 0u);
            }).size(), 1u);

  // The archive ends inside the extra field of the last record: the record
  // stands, its extra field does not, and a further record is damage.
  directory.resize(EntrySize + 5 + 4);
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

namespace {
// Reads a whole directory of records (name, local header offset, compressed
// size) as the stub and sfxmake do: what the walk ended with and how many members it gave.
std::pair<DirectoryStep, uint64_t> ReadDirectory(const std::vector<std::tuple<std::string, uint64_t, uint32_t>> &records,
                                                 uint64_t count, bool zip64, int64_t sizeChange = 0,
                                                 uint64_t directoryOffset = 1u << 30) {
  Bytes directory;
  for (const auto &[name, offset, compressed] : records) {
    Bytes r = CentralRecord(name, 0, 0);
    PutLE32(&r[EntryLocalHeaderOffset], (uint32_t)offset);
    PutLE32(&r[EntryCompressedSize], compressed);
    directory.insert(directory.end(), r.begin(), r.end());
  }
  HostReset(directory.data(), directory.size());
  DirectoryReader reader;
  OpenDirectoryReader(&reader, EndRecord{0, 0, count, count, directory.size() + sizeChange, directoryOffset, 0}, zip64);
  DirectoryRecord record;
  MemberInfo member;
  DirectoryStep step;
  uint64_t members = 0;
  while ((step = ReadDirectoryMember(&reader, &record, &member)) == DirectoryStep::Member) members++;
  CloseDirectoryReader(&reader);
  return {step, members};
}

std::vector<std::tuple<std::string, uint64_t, uint32_t>> Apart(uint32_t count) {
  std::vector<std::tuple<std::string, uint64_t, uint32_t>> records;
  for (uint32_t i = 0; i < count; i++) records.emplace_back("f" + std::to_string(i), 100 * i, 50);
  return records;
}
}  // namespace

// Records are read until the directory's size is used up; the end record's
// count must then agree, modulo 65,536 only where a 16-bit count may have wrapped.
TEST(DirectoryWalk, RecordsFillTheSizeAndAgreeWithTheCount) {
  struct Case {
    const char *what;
    uint32_t records;
    uint64_t count;
    bool zip64;
    int64_t sizeChange;
    DirectoryStep step;
  } cases[] = {
      {"agree", 3, 3, false, 0, DirectoryStep::End},
      {"the count says fewer", 3, 1, false, 0, DirectoryStep::BadCount},
      {"the count says more", 3, 4, false, 0, DirectoryStep::BadCount},
      {"a wrapped 16-bit count", 65539, 3, false, 0, DirectoryStep::End},
      {"a ZIP64 count never wraps", 65539, 3, true, 0, DirectoryStep::BadCount},
      {"65,536 records counted as 0", 65536, 0, false, 0, DirectoryStep::End},
      {"the last record runs past the size", 3, 3, false, -1, DirectoryStep::BadCount},
      {"the size leaves bytes that are no record", 3, 3, false, 10, DirectoryStep::BadRecord},
  };
  for (const Case &c : cases) {
    auto [step, members] = ReadDirectory(Apart(c.records), c.count, c.zip64, c.sizeChange);
    EXPECT_EQ(step, c.step) << c.what;
    if (c.step == DirectoryStep::End) {
      EXPECT_EQ(members, c.records) << c.what;
    }
  }
}

// A member's local header, name and data may share no byte with another's or the directory.
TEST(DirectoryWalk, MembersSharingBytesAreDamage) {
  using Records = std::vector<std::tuple<std::string, uint64_t, uint32_t>>;
  // "a": header 30 + name 1 + data 69 = 100 bytes, exactly up to the next member.
  EXPECT_EQ(ReadDirectory({{"a", 0, 69}, {"b", 100, 10}}, 2, false).first, DirectoryStep::End);
  // Listed out of order, still apart.
  EXPECT_EQ(ReadDirectory({{"b", 100, 10}, {"a", 0, 69}}, 2, false).first, DirectoryStep::End);
  const Records overlapping[] = {
      {{"a", 0, 70}, {"b", 100, 10}},                          // one byte into the next header
      {{"a", 0, 1000}, {"b", 0, 1000}, {"c", 0, 1000}},        // one stream listed three times
      {{"b", 100, 10}, {"a", 0, 0xFFFFFFF0u}},                 // data past everything
  };
  for (const Records &r : overlapping) EXPECT_EQ(ReadDirectory(r, r.size(), false).first, DirectoryStep::Overlap);
  // The last member's data reaching into the directory.
  EXPECT_EQ(ReadDirectory({{"a", 0, 69}}, 1, false, 0, 100).first, DirectoryStep::End);
  EXPECT_EQ(ReadDirectory({{"a", 0, 69}}, 1, false, 0, 99).first, DirectoryStep::Overlap);
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
  uint64_t base, start;
  ASSERT_TRUE(LocateDirectory(1000, r, &base, &start));
  EXPECT_EQ(base, 850u);
  EXPECT_EQ(start, 900u);
  r.DirectoryOffset = 2000;  // offsets that count from elsewhere wrap as positions do
  ASSERT_TRUE(LocateDirectory(1000, r, &base, &start));
  EXPECT_EQ(base + 2000, 900u);
  r.DirectorySize = 1001;
  EXPECT_FALSE(LocateDirectory(1000, r, &base, &start));
  r = {0, 0, 5, 5, 0, 0, 0};  // an empty directory, whatever the count says
  EXPECT_FALSE(LocateDirectory(1000, r, &base, &start));
}

TEST(Zip64EndRecord, LocatorAndRecordDecode) {
  Tail t = ArchiveTail(0, 0, 3, true);
  uint64_t recorded;
  ASSERT_TRUE(DecodeZip64Locator(&t.File[t.EndAt - Zip64LocatorSize], &recorded));
  EXPECT_EQ(recorded, t.Zip64At);
  EXPECT_FALSE(DecodeZip64Locator(&t.File[t.Zip64At], &recorded));
  EndRecord r;
  ASSERT_TRUE(DecodeZip64EndRecord(&t.File[t.Zip64At], &r));
  EXPECT_EQ(r.TotalEntries, 3u);
  EXPECT_EQ(r.DiskEntries, 3u);
  EXPECT_EQ(r.DirectoryOffset, t.DirectoryAt);
  EXPECT_EQ(r.DirectorySize, t.Zip64At - t.DirectoryAt);
  PutLE64(&t.File[t.Zip64At + Zip64EndLength], 43);  // too short for the fields it must hold
  EXPECT_FALSE(DecodeZip64EndRecord(&t.File[t.Zip64At], &r));
  // Values past 32 bits come through whole.
  PutLE64(&t.File[t.Zip64At + Zip64EndLength], 44);
  PutLE64(&t.File[t.Zip64At + Zip64EndDirectoryOffset], 0x123456789ull);
  PutLE64(&t.File[t.Zip64At + Zip64EndTotalEntries], 70000);
  ASSERT_TRUE(DecodeZip64EndRecord(&t.File[t.Zip64At], &r));
  EXPECT_EQ(r.DirectoryOffset, 0x123456789ull);
  EXPECT_EQ(r.TotalEntries, 70000u);
}

TEST(Zip64EndRecord, FoundFromEitherBaseWithOrWithoutExtensibleData) {
  const uint64_t start = 1000;
  for (uint32_t extensible : {0u, 16u})
    for (uint64_t base : {start, (uint64_t)0})
      for (size_t trailing : {(size_t)0, (size_t)300}) {
        SCOPED_TRACE(testing::Message() << "extensible " << extensible << ", base " << base << ", trailing " << trailing);
        Tail t = ArchiveTail(start, base, 5, true, extensible, true, trailing);
        Located l = Locate(t, start);
        ASSERT_TRUE(l.Read);
        EXPECT_EQ(l.DirectoryEnd, t.Zip64At);
        EXPECT_EQ(l.End.TotalEntries, 5u);
        ASSERT_TRUE(l.Placed);
        EXPECT_EQ(l.Base, base);
        EXPECT_EQ(l.DirectoryStart, t.DirectoryAt);
      }
  // A streaming writer's layout: a locator although every field fits.
  Tail t = ArchiveTail(start, start, 2, true, 0, false);
  Located l = Locate(t, start);
  ASSERT_TRUE(l.Read && l.Placed);
  EXPECT_EQ(l.DirectoryEnd, t.Zip64At);
  EXPECT_EQ(l.DirectoryStart, t.DirectoryAt);
  EXPECT_EQ(l.Base, start);
}

TEST(Zip64EndRecord, WithoutOneTheEndRecordStands) {
  // No locator: the end record as it is, 0xFFFF members included (an archive
  // of exactly 65535 members needs no ZIP64).
  Tail t = ArchiveTail(200, 200, 4, false);
  PutLE16(&t.File[t.EndAt + EndTotalEntries], 0xFFFF);
  Located l = Locate(t, 200);
  ASSERT_TRUE(l.Read);
  EXPECT_EQ(l.DirectoryEnd, t.EndAt);
  EXPECT_EQ(l.End.TotalEntries, 0xFFFFu);
  // A locator before the archive's start is none of its own.
  t = ArchiveTail(0, 0, 1, true);
  l = Locate(t, t.EndAt - Zip64LocatorSize + 1);
  EXPECT_TRUE(l.Read);
  EXPECT_EQ(l.DirectoryEnd, t.EndAt);
  // A locator pointing nowhere: the fields that fit still serve; markers cannot.
  t = ArchiveTail(100, 100, 2, true, 0, false);
  t.File[t.Zip64At] = 'Q';
  l = Locate(t, 100);
  ASSERT_TRUE(l.Read && l.Placed);
  EXPECT_EQ(l.DirectoryEnd, t.EndAt);
  EXPECT_EQ(l.Base + l.End.DirectoryOffset, t.DirectoryAt + (t.EndAt - t.Zip64At));  // as the 32-bit record has it
  t = ArchiveTail(100, 100, 2, true);
  t.File[t.Zip64At] = 'Q';
  EXPECT_FALSE(Locate(t, 100).Read);
  // A record claiming more extensible data than stands before the locator is refused.
  t = ArchiveTail(100, 100, 2, true);
  PutLE64(&t.File[t.Zip64At + Zip64EndLength], 45);
  EXPECT_FALSE(Locate(t, 100).Read);
}

TEST(Zip64Field, SaturatedFieldsTakeTheirValuesInOrder) {
  auto record = [](uint32_t uncompressed, uint32_t compressed, uint32_t offset, const Bytes &extra) {
    Bytes r = CentralRecord("big.bin", 0, 0);
    PutLE32(&r[EntryUncompressedSize], uncompressed);
    PutLE32(&r[EntryCompressedSize], compressed);
    PutLE32(&r[EntryLocalHeaderOffset], offset);
    PutLE16(&r[EntryExtraLength], (uint16_t)extra.size());
    r.insert(r.end(), extra.begin(), extra.end());
    return r;
  };
  auto describe = [](const Bytes &r, MemberInfo *info) {
    bool failed, whole = false;
    ReadRecords(r, 1, 0, &failed, [&](const DirectoryRecord &record) { whole = DescribeMember(record, info); });
    return whole;
  };
  // An extended timestamp first, then the ZIP64 field with all three values.
  Bytes extra = {0x55, 0x54, 5, 0, 1, 0, 0, 0, 0x60, 1, 0, 24, 0};
  for (uint64_t v : {0x100000000ull, 0x2FFFFFFFFull, 0x500000000ull})
    for (int i = 0; i < 8; i++) extra.push_back((uint8_t)(v >> (8 * i)));
  MemberInfo info;
  ASSERT_TRUE(describe(record(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, extra), &info));
  EXPECT_EQ(info.UncompressedSize, 0x100000000ull);
  EXPECT_EQ(info.CompressedSize, 0x2FFFFFFFFull);
  EXPECT_EQ(info.LocalHeaderOffset, 0x500000000ull);
  EXPECT_NE(info.ModifiedUtc, 0u);
  // Only the offset saturated: the field's first value is the offset.
  ASSERT_TRUE(describe(record(10, 20, 0xFFFFFFFF, extra), &info));
  EXPECT_EQ(info.UncompressedSize, 10u);
  EXPECT_EQ(info.CompressedSize, 20u);
  EXPECT_EQ(info.LocalHeaderOffset, 0x100000000ull);
  // Without ZIP64 the fixed part gives the values.
  ASSERT_TRUE(describe(record(10, 20, 30, {}), &info));
  EXPECT_EQ(info.LocalHeaderOffset, 30u);
  // A marker without its value: damaged, the marker stays.
  EXPECT_FALSE(describe(record(0xFFFFFFFF, 20, 30, {}), &info));
  EXPECT_EQ(info.UncompressedSize, 0xFFFFFFFFu);
  Bytes shortField = {1, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(describe(record(0xFFFFFFFF, 0xFFFFFFFF, 30, shortField), &info));
  EXPECT_EQ(info.UncompressedSize, 0x0807060504030201ull);
  EXPECT_EQ(info.CompressedSize, 0xFFFFFFFFu);
  // A local header's field holds the two sizes.
  const bool sizes[Zip64ValueCount] = {true, true, false};
  int32_t places[Zip64ValueCount];
  Bytes local = {1, 0, 16, 0};
  local.insert(local.end(), extra.begin() + 13, extra.begin() + 29);
  ASSERT_TRUE(FindZip64Values(local.data(), (uint32_t)local.size(), sizes, places));
  EXPECT_EQ(places[Zip64Uncompressed], 4);
  EXPECT_EQ(places[Zip64Compressed], 12);
  EXPECT_EQ(places[Zip64LocalHeaderOffset], -1);
}

// The strength sizes the salt the readers take in front of the data: only a
// field of a known version and strength, whole, makes a member AES.
TEST(AesField, OnlyAWholeFieldOfKnownVersionAndStrengthCounts) {
  struct Case {
    Bytes extra;
    uint8_t version, strength;
    uint16_t method;
  } cases[] = {
      {{0x01, 0x99, 7, 0, 2, 0, 'A', 'E', 3, 8, 0}, 2, 3, 8},
      {{0x55, 0x54, 1, 0, 0, 0x01, 0x99, 7, 0, 1, 0, 'A', 'E', 1, 0, 0}, 1, 1, 0},  // behind another field
      {{0x01, 0x99, 7, 0, 3, 0, 'A', 'E', 3, 8, 0}, 0, 0, 0},                        // version 3
      {{0x01, 0x99, 7, 0, 2, 0, 'A', 'E', 4, 8, 0}, 0, 0, 0},                        // strength 4
      {{0x01, 0x99, 7, 0, 2, 0, 'A', 'E', 0, 8, 0}, 0, 0, 0},                        // strength 0
      {{0x01, 0x99, 7, 0, 2, 0, 'A', 'X', 3, 8, 0}, 0, 0, 0},                        // another vendor
      {{0x01, 0x99, 6, 0, 2, 0, 'A', 'E', 3, 8}, 0, 0, 0},                           // too short a field
      {{0x01, 0x99, 7, 0, 2, 0, 'A', 'E', 3, 8}, 0, 0, 0},                           // cut off by the end
  };
  for (const Case &c : cases) {
    AesInfo aes = ExtraFieldAes(c.extra.data(), (uint32_t)c.extra.size());
    EXPECT_EQ(std::make_tuple(aes.Version, aes.Strength, aes.Method), std::make_tuple(c.version, c.strength, c.method))
        << testing::PrintToString(c.extra);
  }
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
  EXPECT_EQ(memcmp(bytes, "QF\0\1", 4), 0);
  EXPECT_EQ(GetLE16(bytes + CfgTrailerOffset), 40);
  EXPECT_EQ(bytes[CfgReserved], 0);
  bytes[3] = 2;
  EXPECT_FALSE(DecodeConfigHeader(bytes, &back));
  EncodeConfigTrailer(40, trailer);
  EXPECT_TRUE(IsConfigTrailer(trailer));
  EXPECT_EQ(memcmp(trailer, "QF\n\1", 4), 0);
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
  // A Unicode Path field counts only while its CRC-32 is that of the stored
  // name: a tool that renamed the member without updating the field left it stale.
  BuildCrcTable();
  auto unicodePath = [](const std::string &stored, const std::string &crcOf) {
    std::string real = "gr\xC3\xBC\xC3\x9F""e.txt";
    Bytes extra(9);
    PutLE16(&extra[0], 0x7075), PutLE16(&extra[2], (uint16_t)(5 + real.size())), extra[4] = 1;
    PutLE32(&extra[5], (uint32_t)crc32(0, (const Bytef *)crcOf.data(), (uInt)crcOf.size()));
    extra.insert(extra.end(), real.begin(), real.end());
    const char *utf8 = nullptr;
    uint32_t length = 0;
    bool found = ExtraFieldUnicodePath(extra.data(), (uint32_t)extra.size(), stored.data(), (uint32_t)stored.size(), &utf8, &length);
    return found ? std::string(utf8, length) : std::string();
  };
  EXPECT_EQ(unicodePath("n0.dat", "n0.dat"), "gr\xC3\xBC\xC3\x9F""e.txt");
  EXPECT_EQ(unicodePath("n0.dat", "old-name.dat"), "");

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
  EXPECT_EQ(memcmp(Zip64EndSignature, "PK\6\6", 4), 0);
  EXPECT_EQ(memcmp(Zip64LocatorSignature, "PK\6\7", 4), 0);
}

// The stored copy and inflate report how a member ended; a refused write stops both.
TEST(DecodeResults, StoredCopyAndInflateReportTheirEnd) {
  Bytes data = SampleData(DataKind::Binary, 100000);
  auto copyStored = [&](size_t available) {  // the member is all of data; the archive holds `available` bytes
    HostReset(data.data(), available);
    CompressedLeft = (int64_t)data.size();
    EntryEncrypted = false;
    return CopyStored();
  };
  EXPECT_EQ(copyStored(data.size()), DecodeResult::Done);
  EXPECT_EQ(Host.Output, data);

  EXPECT_EQ(copyStored(70000), DecodeResult::ArchiveEnded);  // the archive ends inside the third block
  EXPECT_EQ(Host.OutputBytes, 65536u);  // a block the archive cannot fill is not written

  Host.RefusePiece = 2;
  EXPECT_EQ(copyStored(data.size()), DecodeResult::OutputRefused);
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
