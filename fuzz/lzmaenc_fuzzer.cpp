// lzmaenc_fuzzer.cpp -- libFuzzer target: the LZMA encoder (lzmaenc.h) on
// arbitrary and structured inputs, its output decoded by liblzma and by the core.
//
// An input is 8 bytes of settings, then the payload:
//   [0] bit 0: LZMA2 (else LZMA1); bits 1-2: how the payload becomes the data
//       (as it is; repeated with a change per copy; a small LZ program of
//       literals and copies; each byte run out), so that long and far matches,
//       data past the dictionary and window moves all come up
//   [1] lc and lp (lc + lp <= 4)   [2] pb (low bits), dictionary 4 KiB << (bits 4-6)
//   [3] nice length                [4] match-finder depth
//   [5..6] piece size less 1       [7] LZMA2: a member ends every this many KiB (0: none)
// The output must decode to the data with liblzma's raw decoder (LZMA1 with its
// end marker, LZMA2 with the dictionary) and, for LZMA1, with the core's
// LzmaDecode as the stub runs it; for LZMA2 the output at each member end must
// decode to exactly the data so far. Fed in other pieces the encoder must give
// the same bytes.
#include <stdio.h>
#include <stdlib.h>

#include "lzma_support.h"
#include "sfxcore.h"

namespace {

void Fail(const char *what) {
  fprintf(stderr, "lzmaenc fuzzer: %s\n", what);
  abort();
}

enum : size_t { MaxData = 1 << 17 };

Bytes MakeData(unsigned mode, const uint8_t *p, size_t n) {
  Bytes out;
  if (mode == 0) return Bytes(p, p + n);
  if (mode == 1) {  // copies, each with one byte changed
    const size_t copies = 2 + (n ? p[0] % 15 : 0);
    for (size_t copy = 0; copy < copies && out.size() + n <= MaxData; copy++) {
      size_t at = out.size();
      out.insert(out.end(), p, p + n);
      if (n) out[at + (copy * 7919) % n] ^= (uint8_t)(copy + 1);
    }
    return out;
  }
  if (mode == 2) {  // ops: < 0x80 a literal run of that many bytes; else a copy of len, distance (2 bytes)
    for (size_t i = 0; i < n && out.size() < MaxData;) {
      uint8_t op = p[i++];
      if (op < 0x80) {
        size_t take = (size_t)op + 1 < n - i ? (size_t)op + 1 : n - i;
        out.insert(out.end(), p + i, p + i + take);
        i += take;
      } else if (i + 2 <= n && !out.empty()) {
        size_t len = 2 + (size_t)(op & 0x7F) * 3, dist = 1 + ((p[i] | p[i + 1] << 8) % out.size());
        i += 2;
        for (size_t k = 0; k < len && out.size() < MaxData; k++) out.push_back(out[out.size() - dist]);
      }
    }
    return out;
  }
  for (size_t i = 0; i < n && out.size() < MaxData; i++) out.insert(out.end(), 1 + (p[i] & 63) * (p[i] >> 6), p[i]);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size) {
  if (size < 8) return 0;
  const LzmaFormat format = input[0] & 1 ? LzmaFormat::Lzma2 : LzmaFormat::Lzma1;
  LzmaEncoderSettings s;
  s.Lc = (uint8_t)(input[1] % 5);
  s.Lp = (uint8_t)(input[1] / 5 % (5 - s.Lc));
  s.Pb = (uint8_t)(input[2] % 5);
  s.DictSize = 4096u << ((input[2] >> 4) & 7);
  s.NiceLen = input[3] >= 200 ? 273 : 8 + input[3];
  s.Depth = input[4] >= 240 ? 512 : 1 + input[4] % 48;
  const size_t piece = 1 + (input[5] | input[6] << 8);
  std::vector<size_t> flushes;
  const Bytes data = MakeData((input[0] >> 1) & 3, input + 8, size - 8);
  if (format == LzmaFormat::Lzma2 && input[7])
    for (size_t at = 0; at <= data.size(); at += (size_t)input[7] * 1024 / 8 + 1) flushes.push_back(at);

  std::vector<size_t> flushedAt;
  const Bytes out = EncodeOwn(data, s, format, piece, flushes, &flushedAt);
  if (out.empty()) Fail("the encoder refused valid settings");
  Bytes decoded;
  if (!DecodeLiblzma(out, s, format, decoded)) Fail("liblzma refuses the stream");
  if (decoded != data) Fail("liblzma decodes other data");
  if (format == LzmaFormat::Lzma1 && !DecodeCore(out, s, data)) Fail("the core's decoder disagrees");
  for (size_t i = 0; i < flushes.size(); i++) {
    Bytes prefix(out.begin(), out.begin() + (long)flushedAt[i]);
    if (!DecodeLiblzma(prefix, s, format, decoded, false)) Fail("the stream up to a member end is refused");
    if (decoded != Bytes(data.begin(), data.begin() + (long)flushes[i])) Fail("a member end does not sync the output");
  }
  if (EncodeOwn(data, s, format, piece % 7 ? piece * 3 + 1 : data.size() + 1, flushes) != out)
    Fail("other pieces give other bytes");
  return 0;
}
