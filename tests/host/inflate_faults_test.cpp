// inflate_faults_test.cpp -- streams that break RFC 1951 stop where the fault is: earlier output is written, nothing after.
#include <gtest/gtest.h>

#include <algorithm>

#include "core_host.h"
#include "inflate.h"
#include "test_support.h"

namespace {

std::string Decode(const Bytes &stream) {
  HostInflate(stream);
  return std::string(Host.Output.begin(), Host.Output.end());
}

// A first block that produces "ok" and is not the last, so every test also shows
// that what came before the fault is kept.
void WriteGoodBlock(BitWriter &w) {
  w.Header(0, 1);
  w.FixedLiteral('o');
  w.FixedLiteral('k');
  w.FixedLiteral(256);
}

// The good block, then the header of a block of this type that is not the last.
void StartBlock(BitWriter &w, unsigned type) {
  WriteGoodBlock(w);
  w.Header(0, type);
}

// Ends a stream after a fault with a block the decoder must never reach.
Bytes FinishWithTrap(BitWriter &w) {
  w.Header(1, 1);
  for (char c : std::string("TRAP")) w.FixedLiteral((uint8_t)c);
  w.FixedLiteral(256);
  return w.Finish();
}

TEST(InflateFaults, FixedLiteralCodes286And287AreInvalid) {
  for (unsigned code : {286u, 287u}) {
    BitWriter w;
    StartBlock(w, 1);
    w.FixedLiteral('a');
    w.FixedLiteral(code);
    w.FixedLiteral('b');
    w.FixedLiteral(256);
    EXPECT_EQ(Decode(FinishWithTrap(w)), "oka") << code;
  }
}

TEST(InflateFaults, FixedDistanceCodes30And31AreInvalid) {
  for (unsigned code : {30u, 31u}) {
    BitWriter w;
    StartBlock(w, 1);
    w.FixedLiteral('a');
    w.FixedLiteral('b');
    w.FixedLiteral(257);
    w.FixedDistance(code);
    w.Bits(0, 13);
    w.FixedLiteral(256);
    EXPECT_EQ(Decode(FinishWithTrap(w)), "okab") << code;
  }
}

TEST(InflateFaults, StoredLengthWithoutItsComplement) {
  BitWriter w;
  StartBlock(w, 0);
  w.AlignToByte();
  w.Bits(3, 16);
  w.Bits(0xFFFF, 16);
  w.Byte('x');
  w.Byte('y');
  w.Byte('z');
  EXPECT_EQ(Decode(FinishWithTrap(w)), "ok");
}

TEST(InflateFaults, DistanceBeforeTheFirstOutputByte) {
  BitWriter w;
  StartBlock(w, 1);
  w.FixedLiteral('a');
  w.FixedLiteral(257);
  w.FixedDistance(2);  // distance 3 reaches exactly the first byte: fine
  w.FixedLiteral(257);
  w.FixedDistance(5);  // distance 7 > 6 bytes so far
  w.Bits(0, 1);
  w.FixedLiteral(256);
  EXPECT_EQ(Decode(FinishWithTrap(w)), "okaoka");
}

// Dynamic blocks whose header is wrong in one way; nothing of them is written.
TEST(InflateFaults, BadDynamicCodeSets) {
  const struct {
    const char *what;
    size_t literalCount;
    std::vector<unsigned> coded;  // the literal/length symbols with a code, all of codeLength bits
    unsigned codeLength;
    std::vector<unsigned> distance;  // the distance lengths, padded with zeros to distanceCount
    size_t distanceCount;
  } cases[] = {
      {"over-subscribed literal/length set", 257, {'a', 'b', 'c', 256}, 1, {1}, 1},
      {"incomplete literal/length set", 257, {'a', 'b', 256}, 2, {1}, 1},
      {"over-subscribed distance set", 257, {'a', 256}, 1, {1, 1, 1}, 3},
      {"incomplete distance set", 257, {'a', 256}, 1, {2, 2, 2}, 3},
      {"no end-of-block code", 257, {'a', 'b'}, 1, {1}, 1},
      {"287 literal/length lengths", 287, {'a', 256}, 1, {1}, 1},
      {"31 distance lengths", 257, {'a', 256}, 1, {1}, 31},
  };
  for (const auto &h : cases) {
    std::vector<unsigned> literal(h.literalCount, 0), distance = h.distance;
    for (unsigned symbol : h.coded) literal[symbol] = h.codeLength;
    distance.resize(h.distanceCount, 0);
    BitWriter w;
    WriteGoodBlock(w);
    std::vector<uint32_t> lc, dc;
    WriteDynamicHeader(w, false, literal, distance, lc, dc);
    w.Code(lc['a'], literal['a']);
    w.Code(lc[256], literal[256]);
    EXPECT_EQ(Decode(FinishWithTrap(w)), "ok") << h.what;
  }
}

// The good block, then a dynamic block of 257 literal/length and 1 distance
// lengths whose code-length code, written by hand (hclen 19 lengths of 3 bits
// in their order), gives the symbols `coded` codes of `length` bits.
void StartCodeLengths(BitWriter &w, const std::vector<unsigned> &coded, unsigned length) {
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  StartBlock(w, 2);
  w.Bits(0, 10);
  w.Bits(19 - 4, 4);
  for (uint8_t symbol : order) w.Bits(std::count(coded.begin(), coded.end(), symbol) ? length : 0, 3);
}

TEST(InflateFaults, RepeatRunningPastTheLengths) {
  BitWriter w;
  StartCodeLengths(w, {1, 18}, 1);  // "0" = length 1, "1" = run of zeros
  w.Code(1, 1);
  w.Bits(127, 7);  // 138 zeros
  w.Code(1, 1);
  w.Bits(127, 7);  // 276: past 258
  EXPECT_EQ(Decode(FinishWithTrap(w)), "ok");
}

TEST(InflateFaults, InvalidCodeLengthSymbol) {
  BitWriter w;
  StartCodeLengths(w, {8}, 1);  // a single one-bit code: "1" is unassigned
  w.Code(0, 1);
  w.Code(1, 1);
  EXPECT_EQ(Decode(FinishWithTrap(w)), "ok");
}

TEST(InflateFaults, IncompleteOrEmptyCodeLengthCode) {
  for (int variant = 0; variant < 2; variant++) {
    BitWriter w;
    StartCodeLengths(w, variant == 0 ? std::vector<unsigned>{8, 0, 1} : std::vector<unsigned>{}, 2);  // incomplete, empty
    w.Bits(0, 32);
    EXPECT_EQ(Decode(FinishWithTrap(w)), "ok") << variant;
  }
}

// A dynamic block "A" or "B", then length 3 with a one-bit distance code: the
// distance set is given by distanceLength (0: no distance codes; 1: one code).
std::string DecodeOneBitDistance(unsigned distanceLength, char literal, unsigned distanceCode) {
  std::vector<unsigned> lit(258, 0), dist(1, distanceLength);
  lit['A'] = lit['B'] = lit[256] = lit[257] = 2;
  std::vector<uint32_t> lc, dc;
  BitWriter w;
  WriteGoodBlock(w);
  WriteDynamicHeader(w, false, lit, dist, lc, dc);
  w.Code(lc[(uint8_t)literal], 2);
  w.Code(lc[257], 2);
  w.Code(distanceCode, 1);
  w.Code(lc[256], 2);
  return Decode(FinishWithTrap(w));
}

TEST(InflateFaults, UnassignedDistanceCodeOfTheSingleCodeSet) {
  EXPECT_EQ(DecodeOneBitDistance(1, 'A', 1), "okA");
  EXPECT_EQ(DecodeOneBitDistance(1, 'A', 0), "okAAAATRAP") << "the assigned code decodes, and so does the rest";
}

TEST(InflateFaults, LengthCodeInABlockWithoutDistanceCodes) {
  EXPECT_EQ(DecodeOneBitDistance(0, 'B', 0), "okB");
}

TEST(InflateFaults, DataEndingBeforeTheLastBlockStopsWithAPrefix) {
  Bytes data = SampleData(DataKind::Text, 70000, 9);
  for (int level : {0, 1, 6}) {
    Bytes stream = ZlibDeflate(data, level);
    for (size_t cut : {(size_t)1, (size_t)2, stream.size() / 3, stream.size() - 1}) {
      Bytes part(stream.begin(), stream.begin() + (long)cut);
      HostInflate(part);
      ASSERT_LE(Host.Output.size(), data.size());
      EXPECT_TRUE(std::equal(Host.Output.begin(), Host.Output.end(), data.begin())) << level << " " << cut;
      // The last byte may hold nothing but the end-of-block code: all data is out by then.
      if (cut < stream.size() - 1) {
        EXPECT_LT(Host.Output.size(), data.size()) << level << " " << cut;
      }
    }
  }
}

TEST(InflateFaults, EndlessOneBitsAfterAFixedBlockTerminate) {
  // Non-last fixed block header, then nothing: one-bits decode as literal/length
  // codes until a consumed bit lies past the end.
  BitWriter w;
  w.Header(0, 1);
  HostInflate(w.Finish());
  EXPECT_TRUE(Host.Output.empty());
}

TEST(InflateFaults, ReservedBlockTypeIsAnEmptyBlock) {
  BitWriter w;
  w.Header(0, 3);
  w.Header(1, 1);
  w.FixedLiteral('z');
  w.FixedLiteral(256);
  EXPECT_EQ(Decode(w.Finish()), "z");
}

}  // namespace
