// lzma_test.cpp -- LzmaDecode's results on members liblzma writes (whole, cut, damaged, refused) and its dictionary's
// cost; SolidDecode's on blocks of members liblzma's LZMA2 encoder writes.
#include <gtest/gtest.h>
#include <lzma.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "core_host.h"
#include "lzmadec.h"
#include "zipformat.h"
#include "test_support.h"

// AddressSanitizer reserves its address space up front and ends the process on
// a failed malloc: the dictionary test needs the system's own allocator.
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN
#endif
#endif

namespace {

// A method-14 member: the header declaring this dictionary, then liblzma's raw
// stream of data (64 KB dictionary), with or without the end marker.
Bytes LzmaMember(const Bytes &data, bool marker, uint32_t dictionary = 1 << 16) {
  lzma_options_lzma o;
  lzma_lzma_preset(&o, 6);
  o.dict_size = 1 << 16;
  o.ext_flags = marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes member(data.size() + data.size() / 2 + 4096);
  size_t at = 9;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), member.data(), &at, member.size()),
            LZMA_OK);
  member.resize(at);
  PutLE16(member.data(), 0x0210);
  PutLE16(member.data() + 2, 5);
  member[4] = (uint8_t)((o.pb * 5 + o.lp) * 9 + o.lc);
  PutLE32(member.data() + 5, dictionary);
  return member;
}

Bytes Changed(Bytes member, size_t at, uint8_t value) {
  member[at] = value;
  return member;
}

TEST(Lzma, ResultsOfWholeCutDamagedAndRefusedMembers) {
  const Bytes data = SampleData(DataKind::Text, 600000);
  const Bytes marked = LzmaMember(data, true), plain = LzmaMember(data, false);
  const size_t half = plain.size() / 2;
  // A buffer of just the member's size fills as the marker comes: 70,001 bytes
  // put the marker's position bits past the wrap.
  const size_t odd = 70001;
  const Bytes oddMarked = LzmaMember(Bytes(data.begin(), data.begin() + odd), true, 1 << 20);
  struct Case {
    const char *name;
    Bytes member;
    size_t compressed;        // CompressedLeft: the member's size as the directory gives it
    size_t available;         // the bytes the archive holds
    uint64_t size;            // the uncompressed size as the directory gives it
    uint32_t refusePiece;     // WriteOutput refuses this call (0: none)
    DecodeResult expected;
    size_t output;            // bytes of data written (a prefix of data), or one of these:
  };
  enum : size_t { SomePrefix = SIZE_MAX, Unchecked = SIZE_MAX - 1 };  // damage may change bytes before the fault
  const Case cases[] = {
      {"end marker", marked, marked.size(), marked.size(), data.size(), 0, DecodeResult::Done, data.size()},
      {"end marker as a member-sized buffer wraps", oddMarked, oddMarked.size(), oddMarked.size(), odd, 0,
       DecodeResult::Done, odd},
      {"no end marker", plain, plain.size(), plain.size(), data.size(), 0, DecodeResult::Done, data.size()},
      {"archive ends inside", plain, plain.size(), half, data.size(), 0, DecodeResult::ArchiveEnded, SomePrefix},
      {"member cut short", plain, half, half, data.size(), 0, DecodeResult::BadData, SomePrefix},
      {"size one byte short", marked, marked.size(), marked.size(), data.size() - 1, 0, DecodeResult::BadData,
       data.size() - 1},
      {"damaged in the middle", Changed(plain, half, (uint8_t)~plain[half]), plain.size(), plain.size(),
       data.size(), 0, DecodeResult::BadData, Unchecked},
      {"properties size 4", Changed(plain, 2, 4), plain.size(), plain.size(), data.size(), 0,
       DecodeResult::BadData, 0},
      {"lc/lp/pb byte 225", Changed(plain, 4, 225), plain.size(), plain.size(), data.size(), 0,
       DecodeResult::BadData, 0},
      {"range coder starts with 1", Changed(plain, 9, 1), plain.size(), plain.size(), data.size(), 0,
       DecodeResult::BadData, 0},
      // Pieces also end where the 64 KB dictionary wraps.
      {"second piece refused", plain, plain.size(), plain.size(), data.size(), 2, DecodeResult::OutputRefused,
       1 << 16},
  };
  for (const Case &c : cases) {
    Host.RefusePiece = c.refusePiece;
    uint32_t crc = HostLzmaDecode(c.member.data(), c.available, (int64_t)c.compressed, c.size);
    Host.RefusePiece = 0;
    EXPECT_EQ(Host.Result, c.expected) << c.name;
    ASSERT_LE(Host.Output.size(), data.size()) << c.name;
    if (c.output != Unchecked) {
      EXPECT_TRUE(std::equal(Host.Output.begin(), Host.Output.end(), data.begin())) << c.name;
      if (c.output == SomePrefix) EXPECT_LT(Host.Output.size(), data.size()) << c.name;
      else EXPECT_EQ(Host.Output.size(), c.output) << c.name;
    }
    for (uint32_t piece : Host.Pieces) EXPECT_LE(piece, (uint32_t)LzmaPieceSize) << c.name;
    EXPECT_EQ(crc, ZlibCrc(Host.Output)) << c.name;
    if (c.expected == DecodeResult::Done) {
      EXPECT_EQ(CompressedLeft, 0) << c.name;  // the whole member was used
    }
  }
}

// With the address space capped at 256 MB more than the process uses, a 4 KB
// member declaring a 4 GB dictionary must still decode, and a 1 GB member
// declaring 1 GB gets NoMemory instead of ending the process.
TEST(Lzma, DictionaryIsNoLargerThanTheMemberAndAFailedOneIsReported) {
#ifdef UNDER_ASAN
  GTEST_SKIP() << "not under AddressSanitizer";
#endif
  const Bytes data = SampleData(DataKind::Binary, 4096);
  const Bytes small = LzmaMember(data, true, 0xFFFFFFFFu), large = LzmaMember(data, true, 1u << 30);
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
  long pages = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  ASSERT_TRUE(f && fscanf(f, "%ld", &pages) == 1);
  fclose(f);
  rlimit capped = saved;
  capped.rlim_cur = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (256u << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
  HostLzmaDecode(small.data(), small.size(), (int64_t)small.size(), data.size());
  const DecodeResult smallResult = Host.Result;
  const bool smallWhole = Host.Output == data;
  HostLzmaDecode(large.data(), large.size(), (int64_t)large.size(), 1u << 30);
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_TRUE(smallResult == DecodeResult::Done && smallWhole);
  EXPECT_EQ(Host.Result, DecodeResult::NoMemory);
  EXPECT_TRUE(Host.Output.empty());
}

// A solid block as sfxmake writes it: each member's byte (the opening flag on
// the first, the dictionary code), then what liblzma's LZMA2 encoder gives up
// to a sync flush at the member's end.
std::vector<Bytes> SolidBlock(const std::vector<Bytes> &members, uint8_t dictionaryCode = 16) {
  lzma_options_lzma o;
  lzma_lzma_preset(&o, 6);
  o.dict_size = 1u << 16;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_encoder(&z, filters), LZMA_OK);
  std::vector<Bytes> block;
  for (const Bytes &data : members) {
    Bytes out(data.size() + data.size() / 2 + 4096);
    out[0] = (uint8_t)(dictionaryCode | (block.empty() ? SolidOpensBlock : 0));
    z.next_in = data.data(), z.avail_in = data.size();
    z.next_out = out.data() + 1, z.avail_out = out.size() - 1;
    EXPECT_EQ(lzma_code(&z, LZMA_SYNC_FLUSH), LZMA_STREAM_END);
    out.resize(out.size() - z.avail_out);
    block.push_back(out);
  }
  lzma_end(&z);
  return block;
}

// Every member of a block decodes in order with one dictionary (16: 64 KiB, so
// that the later members reach across its wrap); a damaged, missing or
// misplaced member fails, and every later one of its block with it, writing
// nothing, until a member opens a new block.
TEST(Solid, MembersDecodeInOrderAndAFaultSpoilsTheRestOfTheBlock) {
  const Bytes text = SampleData(DataKind::Text, 150000), binary = SampleData(DataKind::Binary, 90000);
  const std::vector<Bytes> data = {Bytes(), text, Bytes(), binary, Bytes(text.begin(), text.begin() + 7000),
                                   SampleData(DataKind::Random, 70000), Bytes(1, 'x')};
  const std::vector<Bytes> block = SolidBlock(data), second = SolidBlock({text, binary});
  auto flipped = [&](size_t member) {
    std::vector<Bytes> b = block;
    b[member][b[member].size() / 2] ^= 0x20;
    return b;
  };
  std::vector<Bytes> unopened = block, badCode = block;
  unopened[0][0] &= (uint8_t)~SolidOpensBlock;
  badCode[0][0] = SolidOpensBlock | 41;
  std::vector<Bytes> withNext = block;
  withNext.insert(withNext.end(), second.begin(), second.end());
  struct Case {
    const char *name;
    std::vector<Bytes> members;
    std::vector<size_t> order;  // which of data each member holds
    size_t firstFailed;         // members from here fail (SIZE_MAX: none)
    size_t sound = SIZE_MAX;    // from here on they decode again (a new block)
  };
  const Case cases[] = {
      {"whole block", block, {0, 1, 2, 3, 4, 5, 6}, SIZE_MAX},
      {"flipped byte in the middle member", flipped(3), {0, 1, 2, 3, 4, 5, 6}, 3},
      {"member left out", {block[0], block[2], block[3], block[4]}, {0, 2, 3, 4}, 2},
      {"first member does not open the block", unopened, {0, 1, 2, 3}, 0},
      {"dictionary code 41", badCode, {0, 1}, 0},
      {"a damaged block, then a new one", [&] { auto b = flipped(1); b.insert(b.end(), second.begin(), second.end()); return b; }(),
       {0, 1, 2, 3, 4, 5, 6, 1, 3}, 1, 7},
      {"two blocks", withNext, {0, 1, 2, 3, 4, 5, 6, 1, 3}, SIZE_MAX},
  };
  for (const Case &c : cases) {
    SolidRelease();
    for (size_t i = 0; i < c.order.size(); i++) {
      const Bytes &want = data[c.order[i]];
      uint32_t crc = HostSolidDecode(c.members[i].data(), c.members[i].size(), want.size());
      bool sound = Host.Result == DecodeResult::Done && Host.Output == want && crc == ZlibCrc(want);
      bool failing = i >= c.firstFailed && i < c.sound;
      // The caller's CRC check is what reports a member damaged into other bytes.
      if (Host.Result == DecodeResult::Done && crc != ZlibCrc(want)) SolidMemberFailed();
      EXPECT_EQ(sound, !failing) << c.name << ": member " << i;
      if (failing && i > c.firstFailed) {
        EXPECT_TRUE(Host.Output.empty()) << c.name << ": member " << i;
      }
      if (sound) {
        EXPECT_EQ(CompressedLeft, 0) << c.name << ": member " << i;
      }
    }
  }
  SolidRelease();
}

}  // namespace
