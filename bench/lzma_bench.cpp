// lzma_bench.cpp -- decompression speed of LzmaDecode + EntryCrc against liblzma on one payload.
//
// The payload is compressed once with liblzma (raw LZMA1, preset 6, end
// marker), cached beside it as <payload>.lzma. Then, best of several
// interleaved rounds each: LzmaDecode as the stub runs it (64 KB input
// refills, output pieces of LzmaPieceSize with the CRC-32 per piece) and
// liblzma's raw decoder into pieces of the same size with zlib's crc32 per
// piece. Speeds are MB/s of decompressed output; prints both and the ratio.
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "core_host.h"
#include "lzmadec.h"

namespace {

using Bytes = std::vector<uint8_t>;
const uint32_t Dictionary = 8 << 20;  // preset 6's

lzma_options_lzma Options(uint64_t size) {
  lzma_options_lzma o;
  lzma_lzma_preset(&o, 6);
  o.dict_size = Dictionary;
  o.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  o.ext_size_low = (uint32_t)size;
  o.ext_size_high = (uint32_t)(size >> 32);
  return o;
}

// The member as a ZIP holds it: version, properties size, properties, raw stream.
Bytes Compress(const Bytes &data) {
  lzma_options_lzma o = Options(data.size());
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(data.size() + data.size() / 2 + 4096);
  size_t at = 9;
  if (lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &at, out.size()) != LZMA_OK)
    exit(3);
  out.resize(at);
  PutLE16(out.data(), 0x0210);
  PutLE16(out.data() + 2, 5);
  out[4] = (uint8_t)((o.pb * 5 + o.lp) * 9 + o.lc);
  PutLE32(out.data() + 5, o.dict_size);
  return out;
}

uint32_t RunOurs(const Bytes &member, uint64_t size) {
  return HostLzmaDecode(member.data(), member.size(), (int64_t)member.size(), size);
}

uint32_t RunLiblzma(const Bytes &member, uint64_t size) {
  static uint8_t piece[LzmaPieceSize];
  lzma_options_lzma o = Options(size);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&z, filters) != LZMA_OK) exit(4);
  z.next_in = member.data() + 9;
  z.avail_in = member.size() - 9;
  uLong crc = crc32(0, nullptr, 0);
  lzma_ret ret;
  do {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    ret = lzma_code(&z, LZMA_FINISH);
    crc = crc32(crc, piece, (uInt)(sizeof piece - z.avail_out));
  } while (ret == LZMA_OK);
  lzma_end(&z);
  return ret == LZMA_STREAM_END ? (uint32_t)crc : 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s payload-file [rounds]\n", argv[0]);
    return 2;
  }
  int rounds = argc > 2 ? atoi(argv[2]) : 3;
  Bytes data = ReadAll(argv[1]);
  if (data.empty()) {
    fprintf(stderr, "%s: no data\n", argv[1]);
    return 2;
  }
  std::string cached = std::string(argv[1]) + ".lzma";
  Host.KeepOutput = false;
  uint32_t expected = (uint32_t)crc32(0, data.data(), (uInt)data.size());
  Bytes member = ReadAll(cached.c_str());
  if (RunOurs(member, data.size()) != expected) {  // no cache yet, or one of other data
    member = Compress(data);
    FILE *f = fopen(cached.c_str(), "wb");
    if (f) fwrite(member.data(), 1, member.size(), f), fclose(f);
  }
  if (RunOurs(member, data.size()) != expected || Host.Result != DecodeResult::Done ||
      RunLiblzma(member, data.size()) != expected) {
    fprintf(stderr, "a decoder got the payload wrong\n");
    return 1;
  }
  double tOurs = 1e30, tLiblzma = 1e30;
  for (int r = 0; r < rounds; r++) {
    tOurs = Best(tOurs, [&] { RunOurs(member, data.size()); });
    tLiblzma = Best(tLiblzma, [&] { RunLiblzma(member, data.size()); });
  }
  double mb = (double)data.size() / 1e6;
  printf("payload: %.1f MB, LZMA (liblzma preset 6) to %.1f MB, best of %d interleaved rounds\n", mb,
         member.size() / 1e6, rounds);
  printf("%-36s %10s %10s %8s  %s\n", "figure", "sfxkit", "peer", "ratio", "target");
  printf("%-36s %10.0f %10.0f %7.2fx  >= 0.9x\n", "LZMA decoding MB/s vs liblzma", mb / tOurs, mb / tLiblzma,
         tLiblzma / tOurs);
  return 0;
}
