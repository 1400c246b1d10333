// inflate_test.cpp -- Inflate decodes valid streams exactly as zlib does, in the window's 32768-byte pieces.
#include <gtest/gtest.h>
#include <zlib.h>

#include "core_host.h"
#include "inflate.h"
#include "sfxcore.h"
#include "test_support.h"

namespace {

// Decodes stream with Inflate and checks it against the original data: same bytes,
// same CRC-32, the output in 32768-byte pieces with one shorter final piece, and
// the stream taken as complete.
void ExpectDecodes(const Bytes &stream, const Bytes &original, const std::string &what) {
  uint32_t crc = HostInflate(stream);
  EXPECT_EQ(Host.Result, DecodeResult::Done) << what;
  ASSERT_EQ(Host.Output.size(), original.size()) << what;
  ASSERT_TRUE(Host.Output == original) << what;
  EXPECT_EQ(crc, ZlibCrc(original)) << what;
  for (size_t i = 0; i < Host.Pieces.size(); i++) {
    if (i + 1 < Host.Pieces.size()) EXPECT_EQ(Host.Pieces[i], 32768u) << what;
    else EXPECT_TRUE(Host.Pieces[i] > 0 && Host.Pieces[i] <= 32768u) << what;
  }
  EXPECT_EQ(Host.Pieces.size(), (original.size() + 32767) / 32768) << what;
  EXPECT_EQ(Host.InputPos, stream.size()) << what << ": read past or short of the member";
}

struct Setting {
  int level, strategy, memLevel;
};

TEST(InflateZlib, EveryLevelStrategyAndMemLevelOnEveryKindAndLengthAroundTheWindow) {
  std::vector<Setting> settings;
  for (int level = 0; level <= 9; level++) settings.push_back({level, Z_DEFAULT_STRATEGY, 8});
  for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) settings.push_back({6, strategy, 8});
  for (int memLevel : {1, 9}) {
    settings.push_back({1, Z_DEFAULT_STRATEGY, memLevel});
    settings.push_back({9, Z_DEFAULT_STRATEGY, memLevel});
  }
  std::vector<size_t> lengths = {0, 1, 100, 32768};
  for (size_t k = 1; k <= 4; k++)
    for (int delta : {-1, 0, 1}) lengths.push_back(k * 32768 + delta);
  for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Random, DataKind::Repetitive}) {
    for (size_t length : lengths) {
      Bytes data = SampleData(kind, length, (uint32_t)length);
      for (const Setting &s : settings) {
        std::string what = std::string(DataKindName(kind)) + " length " + std::to_string(length) + " level " +
                           std::to_string(s.level) + " strategy " + std::to_string(s.strategy) + " memLevel " +
                           std::to_string(s.memLevel);
        ExpectDecodes(ZlibDeflate(data, s.level, s.strategy, s.memLevel), data, what);
      }
    }
  }
}

TEST(InflateZlib, LargeMixedMemberAcrossManyWindows) {
  Bytes data;
  for (uint32_t i = 0; i < 12; i++) {
    Bytes part = SampleData((DataKind)(i % 4), 50000 + 777 * i, i);
    data.insert(data.end(), part.begin(), part.end());
  }
  ExpectDecodes(ZlibDeflate(data, 6), data, "mixed");
  ExpectDecodes(ZlibDeflate(data, 1, Z_DEFAULT_STRATEGY, 1), data, "mixed, level 1, memLevel 1");
}

// Huffman-only codes of a run of one letter give the end of block a code of a
// bit or two, so the flush's empty stored block can start within the last
// bytes of the data, after the input has run out.
TEST(InflateZlib, SyncFlushThenFinish) {
  for (size_t length = 1; length <= 64; length++) {
    Bytes data = SampleData(DataKind::Repetitive, length), reference;
    Bytes stream = ZlibDeflate(data, 6, Z_HUFFMAN_ONLY, 8, Z_SYNC_FLUSH);
    ASSERT_TRUE(ZlibInflate(stream, reference));
    ExpectDecodes(stream, reference, "length " + std::to_string(length));
  }
}

TEST(InflateZlib, ShortReadsFromTheArchiveChangeNothing) {
  Bytes data = SampleData(DataKind::Text, 200000, 7);
  Bytes stream = ZlibDeflate(data, 9);
  for (uint32_t limit : {1u, 7u, 1000u, 32767u}) {
    Host.ReadLimit = limit;
    ExpectDecodes(stream, data, "read limit " + std::to_string(limit));
  }
  Host.ReadLimit = 0;
}

TEST(InflateInput, ReadsInPiecesOfAtMost32768AndNeverPastTheMember) {
  Bytes data = SampleData(DataKind::Random, 100000, 3);
  Bytes stream = ZlibDeflate(data, 0);
  Bytes archive = stream;
  archive.insert(archive.end(), 5000, 0xAA);  // the next member's bytes must stay unread
  HostInflate(archive.data(), archive.size(), (int64_t)stream.size());
  EXPECT_TRUE(Host.Output == data);
  EXPECT_EQ(Host.InputPos, stream.size());
  EXPECT_EQ(Host.LargestRequest, 32768u);
  EXPECT_EQ(CompressedLeft, 0);
}

TEST(InflateInput, CompressedLeftZeroOrNegativeWritesNothingAndReadsNothing) {
  Bytes stream = ZlibDeflate(SampleData(DataKind::Text, 1000), 6);
  for (int64_t left : {(int64_t)0, (int64_t)-5}) {
    HostInflate(stream.data(), stream.size(), left);
    EXPECT_TRUE(Host.Output.empty());
    EXPECT_TRUE(Host.Pieces.empty());
    EXPECT_EQ(Host.ReadCalls, 0u);
    EXPECT_EQ(EntryCrc, 0xFFFFFFFFu);
  }
}

TEST(InflateInput, LastCodeEndingInTheLastByteDecodesCompletely) {
  // Fixed block "a" + end of block: 3 + 8 + 7 = 18 bits, so the table lookups
  // of the last codes reach past the data and see one-bits.
  for (unsigned literal = 0; literal < 256; literal += 15) {
    BitWriter w;
    w.Header(1, 1);
    w.FixedLiteral(literal);
    w.FixedLiteral(256);
    Bytes stream = w.Finish();
    Bytes expected{(uint8_t)literal};
    ExpectDecodes(stream, expected, "literal " + std::to_string(literal));
  }
}

TEST(InflateInput, ArchiveEndingEarlyEndsTheMemberThere) {
  Bytes data = SampleData(DataKind::Text, 100000, 5);
  Bytes stream = ZlibDeflate(data, 6);
  // The archive holds fewer bytes than CompressedLeft says: output is a prefix.
  Bytes cut(stream.begin(), stream.begin() + stream.size() / 2);
  HostInflate(cut.data(), cut.size(), (int64_t)stream.size());
  ASSERT_LT(Host.Output.size(), data.size());
  EXPECT_TRUE(std::equal(Host.Output.begin(), Host.Output.end(), data.begin()));
  EXPECT_GT(Host.Output.size(), 0u);
}

TEST(InflateEdge, StoredBlockOfLengthZeroThenMoreBlocks) {
  BitWriter w;
  w.Stored(false, Bytes());
  w.Header(1, 1);
  for (char c : std::string("abc")) w.FixedLiteral((uint8_t)c);
  w.FixedLiteral(256);
  Bytes stream = w.Finish(), reference;
  ASSERT_TRUE(ZlibInflate(stream, reference));
  ExpectDecodes(stream, reference, "LEN 0");
  EXPECT_EQ(std::string(Host.Output.begin(), Host.Output.end()), "abc");
}

// Every bit offset of the boundary; the short stored blocks start within the
// last bytes of the data, once the input has run out.
TEST(InflateEdge, StoredBlockAfterCompressedBlockStartsAtTheNextByte) {
  for (std::string text : {"stored bytes after a compressed block", "0", ""}) {
    for (unsigned literals = 1; literals <= 9; literals++) {
      BitWriter w;
      w.Header(0, 1);
      for (unsigned i = 0; i < literals; i++) w.FixedLiteral('a');
      w.FixedLiteral(256);
      w.Stored(true, Bytes(text.begin(), text.end()));
      Bytes stream = w.Finish(), reference;
      ASSERT_TRUE(ZlibInflate(stream, reference));
      ExpectDecodes(stream, reference, std::to_string(literals) + " literals, then \"" + text + "\"");
      EXPECT_EQ(std::string(Host.Output.begin() + literals, Host.Output.end()), text);
    }
  }
}

TEST(InflateEdge, DistanceOneLength258RepeatsTheLastByte) {
  BitWriter w;
  w.Header(1, 1);
  w.FixedLiteral('q');
  w.FixedLiteral(285);  // length 258
  w.FixedDistance(0);   // distance 1
  w.FixedLiteral('a');
  w.FixedLiteral('b');
  w.FixedLiteral('c');
  w.FixedLiteral(258);  // length 4
  w.FixedDistance(2);   // distance 3: "abca"
  w.FixedLiteral(256);
  Bytes stream = w.Finish(), expected(259, 'q');
  for (char c : std::string("abcabca")) expected.push_back((uint8_t)c);
  ExpectDecodes(stream, expected, "distance 1 length 258");
}

// Stored blocks that fill the window past its end, then back-references that reach
// over the flush into the window's previous content.
TEST(InflateEdge, BackReferenceAcrossTheWindowEnd) {
  Bytes random = SampleData(DataKind::Random, 32768 + 100, 11);
  BitWriter w;
  for (size_t start = 0; start < random.size(); start += 30000) {
    size_t n = std::min<size_t>(30000, random.size() - start);
    w.Stored(false, Bytes(random.begin() + (long)start, random.begin() + (long)(start + n)));
  }
  w.Header(1, 1);
  w.FixedLiteral(285);  // 258 bytes from distance 200: 100 from the window's end, 158 from its start
  w.FixedDistance(15);  // distance 193 + 7 extra
  w.Bits(7, 6);
  w.FixedLiteral(285);  // and one from 32768 back: the same slot
  w.FixedDistance(29);
  w.Bits(8191, 13);
  w.FixedLiteral(256);
  Bytes stream = w.Finish(), reference;
  ASSERT_TRUE(ZlibInflate(stream, reference));
  ASSERT_EQ(reference.size(), random.size() + 516);
  ExpectDecodes(stream, reference, "across the window's end");
}

TEST(InflateEdge, Exactly32768BytesAreOneFlushInsideTheBlock) {
  for (DataKind kind : {DataKind::Text, DataKind::Repetitive, DataKind::Random}) {
    Bytes data = SampleData(kind, 32768);
    for (int level : {0, 1, 9}) {
      HostInflate(ZlibDeflate(data, level));
      ASSERT_EQ(Host.Pieces, std::vector<uint32_t>{32768u});
      EXPECT_TRUE(Host.Output == data);
    }
  }
}

TEST(InflateEdge, EmptyMemberLeavesTheCrcAtItsStart) {
  HostInflate(ZlibDeflate(Bytes(), 6));
  EXPECT_TRUE(Host.Pieces.empty());
  EXPECT_EQ(EntryCrc, 0xFFFFFFFFu);
}

TEST(InflateEdge, DynamicBlockWithoutDistanceCodesDecodesLiterals) {
  std::vector<unsigned> lit(257, 0), dist(1, 0);
  lit['A'] = lit['B'] = lit['C'] = lit[256] = 2;
  std::vector<uint32_t> lc, dc;
  BitWriter w;
  WriteDynamicHeader(w, true, lit, dist, lc, dc);
  std::string text = "ABBACCAB";
  for (char c : text) w.Code(lc[(uint8_t)c], 2);
  w.Code(lc[256], 2);
  Bytes stream = w.Finish(), reference;
  ASSERT_TRUE(ZlibInflate(stream, reference));
  ExpectDecodes(stream, reference, "no distance codes");
  EXPECT_EQ(std::string(Host.Output.begin(), Host.Output.end()), text);
}

TEST(InflateEdge, DynamicBlockWithOneDistanceCodeOfOneBit) {
  std::vector<unsigned> lit(258, 0), dist(1, 1);
  lit['A'] = lit['B'] = lit[256] = 2;
  lit[257] = 2;  // length 3
  std::vector<uint32_t> lc, dc;
  BitWriter w;
  WriteDynamicHeader(w, true, lit, dist, lc, dc);
  w.Code(lc['A'], 2);
  w.Code(lc['B'], 2);
  w.Code(lc[257], 2);
  w.Code(dc[0], 1);  // distance 1
  w.Code(lc[256], 2);
  Bytes stream = w.Finish(), reference;
  ASSERT_TRUE(ZlibInflate(stream, reference));
  ExpectDecodes(stream, reference, "one distance code");
  EXPECT_EQ(std::string(Host.Output.begin(), Host.Output.end()), "ABBBB");
}

TEST(InflateEdge, TablesOfOneMemberDoNotLeakIntoTheNext) {
  Bytes a = SampleData(DataKind::Text, 70000, 1), b = SampleData(DataKind::Binary, 50000, 2);
  ExpectDecodes(ZlibDeflate(a, 9), a, "first");
  ExpectDecodes(ZlibDeflate(b, 9), b, "second");
  ExpectDecodes(ZlibDeflate(a, 9), a, "first again");
}

}  // namespace
