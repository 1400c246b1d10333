// lzmaenc_bench.cpp -- the LZMA encoder against liblzma at preset 9e: size and one-thread speed.
//
// The files below a folder (in name order, as sfxmake packs them; up to a
// budget of bytes when one is given) are encoded
// twice, by the core's encoder (lzmaenc.h, at sfxmake's settings) and by
// liblzma's raw encoder at preset 9e, interleaved in one run:
//  * per member: each file alone as raw LZMA1 with the end marker, the
//    dictionary cut to the file as sfxmake does (64 MiB at most, 4 KiB at least);
//  * solid: all files as one LZMA2 stream (64 MiB dictionary, or the total when
//    smaller), flushed at each file's end (FlushMember; LZMA_SYNC_FLUSH).
// Prints bytes and seconds of both, and the ratios ours/liblzma of the size
// (target <= 1.01) and liblzma's time / ours (target >= 1.0). Every output of
// ours is decoded by liblzma and compared first.
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "lzma_support.h"

namespace {

LzmaEncoderSettings OwnSettings(uint64_t size) {
  LzmaEncoderSettings s;
  s.DictSize = (uint32_t)std::max<uint64_t>(LzmaMinDictionary, std::min<uint64_t>(64u << 20, size));
  // Settings to try without a rebuild: LZMAENC_NICE, LZMAENC_DEPTH.
  if (const char *v = getenv("LZMAENC_NICE")) s.NiceLen = (uint32_t)atoi(v);
  if (const char *v = getenv("LZMAENC_DEPTH")) s.Depth = (uint32_t)atoi(v);
  return s;
}

// liblzma at 9e with the dictionary of s: the whole output, with LZMA_SYNC_FLUSH at each offset of flushes.
Bytes EncodeLiblzma(const Bytes &data, const LzmaEncoderSettings &s, LzmaFormat format,
                    const std::vector<size_t> &flushes) {
  lzma_options_lzma o;
  lzma_lzma_preset(&o, 9 | LZMA_PRESET_EXTREME);
  o.dict_size = s.DictSize;
  lzma_filter filters[2] = {{format == LzmaFormat::Lzma1 ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA2, &o},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&z, filters) != LZMA_OK) exit(3);
  Bytes out;
  uint8_t piece[1 << 16];
  size_t at = 0;
  for (size_t i = 0; i <= flushes.size(); i++) {
    size_t end = i < flushes.size() ? flushes[i] : data.size();
    z.next_in = data.data() + at;
    z.avail_in = end - at;
    lzma_action action = i < flushes.size() ? LZMA_SYNC_FLUSH : LZMA_FINISH;
    lzma_ret ret;
    do {
      z.next_out = piece;
      z.avail_out = sizeof piece;
      ret = lzma_code(&z, action);
      out.insert(out.end(), piece, piece + (sizeof piece - z.avail_out));
    } while (ret == LZMA_OK);
    if (ret != LZMA_STREAM_END) exit(3);
    at = end;
  }
  lzma_end(&z);
  return out;
}

struct Tally {
  uint64_t Ours = 0, Theirs = 0;
  double OurTime = 0, TheirTime = 0;
  double Worst = 0;  // the largest size ratio of one member
  std::string WorstName;
};

// Encodes data both ways (timed), checks ours, adds to t.
void Measure(const Bytes &data, const LzmaEncoderSettings &s, LzmaFormat format, const std::vector<size_t> &flushes,
             const std::string &name, Tally &t) {
  Bytes ours, theirs;
  t.OurTime += Best(1e30, [&] { ours = EncodeOwn(data, s, format, 1 << 20, flushes); });
  t.TheirTime += Best(1e30, [&] { theirs = EncodeLiblzma(data, s, format, flushes); });
  Bytes decoded;
  if (!DecodeLiblzma(ours, s, format, decoded) || decoded != data) {
    fprintf(stderr, "%s: our output does not decode to the input\n", name.c_str());
    exit(1);
  }
  t.Ours += ours.size();
  t.Theirs += theirs.size();
  double ratio = (double)ours.size() / (double)theirs.size();
  if (theirs.size() > 1000 && ratio > t.Worst) t.Worst = ratio, t.WorstName = name;
}

void Row(const char *what, const Tally &t) {
  printf("%-28s %12llu %12llu %8.4f  %8.1f %8.1f %7.2fx\n", what, (unsigned long long)t.Ours,
         (unsigned long long)t.Theirs, (double)t.Ours / (double)t.Theirs, t.OurTime, t.TheirTime,
         t.TheirTime / t.OurTime);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s folder [budget-bytes [--no-solid]]\n", argv[0]);
    return 2;
  }
  uint64_t budget = argc > 2 ? strtoull(argv[2], nullptr, 10) : 0, taken = 0;
  bool solid = !(argc > 3 && std::string(argv[3]) == "--no-solid");
  std::vector<std::filesystem::path> paths;
  for (const auto &e : std::filesystem::recursive_directory_iterator(argv[1]))
    if (e.is_regular_file()) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  Tally members, all;
  Bytes joined;
  std::vector<size_t> ends;
  size_t files = 0;
  for (const auto &p : paths) {
    if (budget && taken >= budget) break;
    Bytes data = ReadAll(p.c_str());
    if (data.empty()) continue;
    taken += data.size();
    files++;
    Measure(data, OwnSettings(data.size()), LzmaFormat::Lzma1, {}, p.filename().string(), members);
    if (!solid) continue;
    joined.insert(joined.end(), data.begin(), data.end());
    ends.push_back(joined.size());
  }
  if (solid) {
    ends.pop_back();  // the last member ends with the stream
    Measure(joined, OwnSettings(joined.size()), LzmaFormat::Lzma2, ends, "solid", all);
  }
  printf("%zu files, %.1f MB; ours: the core's encoder (nice %u, depth %u); peer: liblzma %s preset 9e; one thread\n",
         files, taken / 1e6, OwnSettings(0).NiceLen, OwnSettings(0).Depth, lzma_version_string());
  printf("%-28s %12s %12s %8s  %8s %8s %8s\n", "what", "ours B", "liblzma B", "size", "ours s", "peer s", "speed");
  Row("per member (LZMA1)", members);
  if (solid) Row("solid (LZMA2, member flushes)", all);
  printf("largest ratio of one member: %.4f (%s); targets: size <= 1.01, speed >= 1.0x\n", members.Worst,
         members.WorstName.c_str());
  return 0;
}
