// huffman_test.cpp -- the shapes of the decoding tables BuildHuffmanTable makes, and what it reports.
#include <gtest/gtest.h>

#include <vector>

#include "huffman.h"
#include "inflate.h"
#include "test_support.h"

namespace {

struct Built {
  int result = -1;
  HuffmanEntry *list = nullptr;
  HuffmanEntry *table = nullptr;
  int bits = 0;
  ~Built() { FreeHuffmanTables(list); }
  int Tables() const {
    int n = 0;
    for (HuffmanEntry *t = list; t; t = t[-1].SubTable) n++;
    return n;
  }
};

const uint16_t kBase[31] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0};
const uint8_t kExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};

void Build(Built &b, const std::vector<uint16_t> &lengths, unsigned s, int bits) {
  b.bits = bits;
  b.result = BuildHuffmanTable(lengths.data(), (unsigned)lengths.size(), s, kBase, kExtra, &b.list, &b.table, &b.bits);
}

std::vector<uint16_t> FixedLiteralLengths() {
  std::vector<uint16_t> l(288);
  for (unsigned i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

// A complete set with lengths 1..15, the end-of-block code one of the two 15-bit codes.
std::vector<uint16_t> DeepLengths() {
  std::vector<uint16_t> l;
  for (uint16_t len = 1; len <= 15; len++) l.push_back(len);
  l.push_back(15);
  l.resize(257, 0);
  std::swap(l[15], l[256]);
  return l;
}

// Follows the bits of pattern (first bit lowest) through the multi-level tables
// as the decoder does; *used receives the bits the code took.
const HuffmanEntry *Walk(const Built &b, uint32_t pattern, unsigned *used) {
  const HuffmanEntry *t = b.table + (pattern & ((1u << b.bits) - 1));
  *used = 0;
  while (t->Op > 16 && t->Op != 99) {
    *used += (unsigned)t->Bits;
    t = t->SubTable + ((pattern >> *used) & ((1u << (t->Op - 16)) - 1));
  }
  *used += (unsigned)t->Bits;
  return t;
}

TEST(HuffmanTable, AllLengthsZeroBuildNothing) {
  Built b;
  Build(b, std::vector<uint16_t>(30, 0), 0, 6);
  EXPECT_EQ(b.result, HuffmanComplete);
  EXPECT_EQ(b.table, nullptr);
  EXPECT_EQ(b.list, nullptr);
  EXPECT_EQ(b.bits, 0);
}

TEST(HuffmanTable, SingleOneBitCodeIsComplete) {
  Built b;
  Build(b, {1}, 0, 6);
  EXPECT_EQ(b.result, HuffmanComplete);
  EXPECT_EQ(b.bits, 1);
  EXPECT_EQ(b.Tables(), 1);
  EXPECT_EQ(b.table[0].Op, 0);
  EXPECT_EQ(b.table[0].Base, 3);
  EXPECT_EQ(b.table[0].Bits, 1);
  EXPECT_EQ(b.table[1].Op, 99);
}

TEST(HuffmanTable, FixedLiteralLengthCodeShape) {
  Built b;
  Build(b, FixedLiteralLengths(), 257, 7);
  EXPECT_EQ(b.result, HuffmanComplete);
  EXPECT_EQ(b.bits, 7);
  EXPECT_EQ(b.Tables(), 105);
  int direct = 0, oneBit = 0, twoBits = 0;
  for (int i = 0; i < 128; i++) {
    const HuffmanEntry &e = b.table[i];
    if (e.Op == 17) oneBit++;
    else if (e.Op == 18) twoBits++;
    else direct++;
    if (e.Op > 16) {
      EXPECT_EQ(e.Bits, 7);
    }
  }
  EXPECT_EQ(direct, 24);
  EXPECT_EQ(oneBit, 76);
  EXPECT_EQ(twoBits, 28);
  // Code 0000000 (first bits 0) is the end of block; 286 and 287 are invalid.
  EXPECT_EQ(b.table[0].Op, 15);
  EXPECT_EQ(b.table[0].Base, 256);
}

TEST(HuffmanTable, BuiltFixedTablesMatchTheShapes) {
  BuildFixedTables();
  ASSERT_NE(FixedLiteralTable, nullptr);
  ASSERT_NE(FixedDistanceTable, nullptr);
  // Seven-bit code 0000001 (bit-reversed index 64) is length code 257.
  EXPECT_EQ(FixedLiteralTable[64].Op, 0);
  EXPECT_EQ(FixedLiteralTable[64].Base, 3);
  for (int i = 0; i < 32; i++) {
    if (i == 15 || i == 31) {
      EXPECT_EQ(FixedDistanceTable[i].Op, 99) << i;
    } else {
      EXPECT_LE(FixedDistanceTable[i].Op, 13) << i;
    }
    EXPECT_EQ(FixedDistanceTable[i].Bits, 5);
  }
}

TEST(HuffmanTable, FixedDistanceCodeIsOneIncompleteFiveBitTable) {
  Built b;
  b.bits = 5;
  std::vector<uint16_t> lengths(30, 5);
  static const uint16_t base[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  static const uint8_t extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  b.result = BuildHuffmanTable(lengths.data(), 30, 0, base, extra, &b.list, &b.table, &b.bits);
  EXPECT_EQ(b.result, HuffmanIncomplete);
  EXPECT_EQ(b.bits, 5);
  EXPECT_EQ(b.Tables(), 1);
  EXPECT_EQ(b.table[15].Op, 99);
  EXPECT_EQ(b.table[31].Op, 99);
  EXPECT_EQ(b.table[0].Base, 1);       // code 00000
  EXPECT_EQ(b.table[16].Base, 2);      // code 00001, bit-reversed
  EXPECT_EQ(b.table[23].Base, 24577);  // code 11101
}

TEST(HuffmanTable, EndOfBlockAndLiteralOps) {
  Built lit;
  std::vector<uint16_t> l(257, 0);
  l['a'] = l['b'] = l['c'] = l[256] = 2;
  Build(lit, l, 257, 9);
  EXPECT_EQ(lit.result, HuffmanComplete);
  for (int i = 0; i < 4; i++) EXPECT_EQ(lit.table[i].Op, lit.table[i].Base == 256 ? 15 : 16);

  Built codes;
  l.assign(19, 0);
  l[0] = l[16] = l[17] = l[18] = 2;
  Build(codes, l, 19, 7);
  for (int i = 0; i < 4; i++) EXPECT_EQ(codes.table[i].Op, 16);
}

TEST(HuffmanTable, OverSubscribedAllocatesNothing) {
  Built b;
  Build(b, {1, 1, 1}, 0, 6);
  EXPECT_EQ(b.result, HuffmanOversubscribed);
  EXPECT_EQ(b.list, nullptr);
}

TEST(HuffmanTable, EndOfBlockCodeEndsTheFirstLevelTable) {
  // Shortest code (value 256) 10 bits, longer ones 11: the first level stops at 10.
  std::vector<uint16_t> l(257, 11);
  l[256] = 10;
  Built b;
  Build(b, l, 257, 9);
  EXPECT_EQ(b.bits, 10);
  EXPECT_EQ(b.table[0].Op, 15);
}

TEST(HuffmanTable, ShortCodesAboveTheLookupBitsGetOneMoreBit) {
  std::vector<uint16_t> l(257, 11);
  l[0] = 10;  // the end-of-block code is longer than the shortest one
  Built b;
  Build(b, l, 257, 9);
  EXPECT_EQ(b.bits, 11);
  Built few;
  std::vector<uint16_t> f(256, 11);
  f[0] = 10;  // no end-of-block value at all
  Build(few, f, 257, 9);
  EXPECT_EQ(few.bits, 11);
}

TEST(HuffmanTable, EveryCodeOfAComplexSetDecodes) {
  // Every code of a complete set with lengths 1..15, walked through the tables.
  std::vector<uint16_t> l = DeepLengths();
  Built b;
  Build(b, l, 257, 9);
  ASSERT_EQ(b.result, HuffmanComplete);
  std::vector<uint32_t> codes = CanonicalCodes(std::vector<unsigned>(l.begin(), l.end()));
  for (unsigned v = 0; v < l.size(); v++) {
    if (!l[v]) continue;
    uint32_t reversed = 0;
    for (unsigned i = 0; i < l[v]; i++) reversed |= ((codes[v] >> (l[v] - 1 - i)) & 1) << i;
    unsigned used;
    const HuffmanEntry *t = Walk(b, reversed, &used);
    EXPECT_EQ(used, l[v]) << v;
    EXPECT_EQ(t->Base, v < 257 ? v : 0) << v;
  }
}

// The entry the one-probe table should hold for pattern p: the code at its
// bottom followed through the multi-level tables, packed when it fits.
uint32_t ExpectedFastEntry(const Built &b, unsigned p, unsigned fastBits) {
  unsigned used;
  const HuffmanEntry *t = Walk(b, p, &used);
  if (used > fastBits || t->Op == 15 || t->Op > 16) return 0;
  return (uint32_t)t->Base << 16 | used << 8 | (used + (unsigned)t->Op);
}

TEST(HuffmanTable, OneProbeTableAgreesWithTheMultiLevelTables) {
  // Sets with codes shorter and longer than the one-probe table, one with a
  // single one-bit code (its dummy code included); the table starts as garbage,
  // so an entry the builder leaves unwritten shows.
  std::vector<std::vector<uint16_t>> sets = {FixedLiteralLengths(), {1}, DeepLengths()};
  std::vector<uint16_t> wide(286, 9);  // 2 x 8 + 284 x 9 bits (incomplete, every pattern still covered)
  wide[0] = wide[1] = 8;
  sets.push_back(wide);
  for (unsigned fastBits : {8u, 10u}) {
    for (const auto &lengths : sets) {
      std::vector<uint32_t> fast(1u << fastBits, 0xDEADBEEFu);
      Built b;
      b.bits = 9;
      b.result = BuildHuffmanTable(lengths.data(), (unsigned)lengths.size(), lengths.size() > 30 ? 257 : 0, kBase,
                                   kExtra, &b.list, &b.table, &b.bits, fast.data(), fastBits);
      ASSERT_NE(b.table, nullptr);
      for (unsigned p = 0; p < fast.size(); p++)
        ASSERT_EQ(fast[p], ExpectedFastEntry(b, p, fastBits)) << lengths.size() << " lengths, pattern " << p;
    }
  }
}

}  // namespace
