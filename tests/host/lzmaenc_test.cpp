// lzmaenc_test.cpp -- the LZMA encoder: its LZMA1 and LZMA2 output decoded by
// liblzma and by the core, the same bytes whatever the pieces, member ends that
// sync the output, the memory it states, the settings it refuses.
#include <gtest/gtest.h>

#include "lzma_support.h"
#include "test_support.h"

namespace {

LzmaEncoderSettings Settings(uint32_t dict, uint8_t lc = 3, uint8_t lp = 0, uint8_t pb = 2, uint32_t nice = 273) {
  LzmaEncoderSettings s;
  s.DictSize = dict;
  s.Lc = lc, s.Lp = lp, s.Pb = pb, s.NiceLen = nice;
  return s;
}

TEST(LzmaEncoder, OutputDecodesToTheInputWhateverThePieces) {
  Bytes mixed = SampleData(DataKind::Binary, 90000, 3);
  Bytes text = SampleData(DataKind::Text, 50000);
  mixed.insert(mixed.end(), text.begin(), text.end());
  struct Case {
    const char *name;
    Bytes data;
    LzmaEncoderSettings settings;
    size_t piece;
    std::vector<size_t> flushes;  // LZMA2 member ends
  };
  const Case cases[] = {
      {"empty", {}, Settings(4096), 1, {}},
      {"one byte", {'x'}, Settings(4096), 1, {1}},
      {"runs", SampleData(DataKind::Repetitive, 300000), Settings(1 << 20), 65536, {}},
      {"random", SampleData(DataKind::Random, 100000), Settings(1 << 17), 777, {50000}},
      {"text in odd pieces", text, Settings(1 << 16), 7, {10, 9000, 9001}},
      {"far beyond the dictionary (window moves)", mixed, Settings(4096), 4097, {70000}},
      {"lc 0, lp 4, pb 0, nice 8", mixed, Settings(1 << 16, 0, 4, 0, 8), 100000, {}},
      {"lc 4, pb 4", text, Settings(1 << 16, 4, 0, 4, 32), 3, {}},
  };
  for (const Case &c : cases) {
    for (LzmaFormat format : {LzmaFormat::Lzma1, LzmaFormat::Lzma2}) {
      SCOPED_TRACE(std::string(c.name) + (format == LzmaFormat::Lzma1 ? " / LZMA1" : " / LZMA2"));
      std::vector<size_t> flushes = format == LzmaFormat::Lzma2 ? c.flushes : std::vector<size_t>{}, flushedAt;
      Bytes out = EncodeOwn(c.data, c.settings, format, c.piece, flushes, &flushedAt);
      Bytes decoded;
      EXPECT_TRUE(DecodeLiblzma(out, c.settings, format, decoded));
      EXPECT_EQ(decoded, c.data);
      if (format == LzmaFormat::Lzma1) {
        EXPECT_TRUE(DecodeCore(out, c.settings, c.data));
      }
      // The same bytes twice, and from the whole input at once.
      EXPECT_EQ(EncodeOwn(c.data, c.settings, format, c.piece, flushes), out);
      EXPECT_EQ(EncodeOwn(c.data, c.settings, format, c.data.size() + 1, flushes), out);
      for (size_t i = 0; i < flushes.size(); i++) {
        EXPECT_TRUE(DecodeLiblzma(Bytes(out.begin(), out.begin() + (long)flushedAt[i]), c.settings, format, decoded, false));
        EXPECT_EQ(decoded, Bytes(c.data.begin(), c.data.begin() + (long)flushes[i])) << "member end " << i;
      }
    }
  }
}

TEST(LzmaEncoder, StatesItsMemoryAndRefusesSettingsOutOfRange) {
  // About 10.5 times the dictionary: the binary tree (8x), the window, the hash heads.
  EXPECT_LT(LzmaEncoderMemory(Settings(64u << 20)), 11ull * (64u << 20));
  EXPECT_LT(LzmaEncoderMemory(Settings(4096)), 2000000u);
  for (const LzmaEncoderSettings &s : {Settings(4095), Settings(4096, 3, 2), Settings(4096, 3, 0, 5),
                                       Settings(4096, 3, 0, 2, 7), Settings(4096, 3, 0, 2, 274)})
    EXPECT_EQ(LzmaEncoderCreate(s, LzmaFormat::Lzma1, nullptr, nullptr), nullptr);
}

}  // namespace
