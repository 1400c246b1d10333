// inflate_bench.cpp -- decompression speed of Inflate + EntryCrc against zlib and libdeflate on one corpus.
//
// The corpus is deflated once with zlib (level 6, raw). Then, best of several
// rounds each: Inflate as the stub runs it (32 KB input refills, 32 KB window
// flushes, CRC-32 per flush), zlib's inflate into 32 KB output chunks with its
// crc32 per chunk, and libdeflate decompressing the whole buffer followed by its
// crc32; then UpdateCrcBuffer against zlib's crc32, 32 KB per call, on the
// corpus itself. Decoding speeds are in MB/s of decompressed output. Prints one
// table: each figure, its peer's, the ratio and the target.
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <vector>

#include "bench_support.h"
#include "core_host.h"
#include "crc32.h"

namespace {

std::vector<uint8_t> Deflate(const std::vector<uint8_t> &data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, data.size()));
  z.next_in = const_cast<uint8_t *>(data.data());
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) exit(3);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

uint32_t RunInflate(const std::vector<uint8_t> &stream) {
  Host.Pieces.clear();
  return HostInflate(stream.data(), stream.size(), (int64_t)stream.size());
}

uint32_t RunZlib(const std::vector<uint8_t> &stream) {
  static uint8_t chunk[32768];
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<uint8_t *>(stream.data());
  z.avail_in = (uInt)stream.size();
  uLong crc = crc32(0, nullptr, 0);
  int ret;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    ret = inflate(&z, Z_NO_FLUSH);
    crc = crc32(crc, chunk, (uInt)(sizeof chunk - z.avail_out));
  } while (ret == Z_OK);
  inflateEnd(&z);
  return (uint32_t)crc;
}

uint32_t RunLibdeflate(const std::vector<uint8_t> &stream, std::vector<uint8_t> &out) {
  static libdeflate_decompressor *d = libdeflate_alloc_decompressor();
  size_t actual = 0;
  if (libdeflate_deflate_decompress(d, stream.data(), stream.size(), out.data(), out.size(), &actual) != LIBDEFLATE_SUCCESS)
    exit(4);
  return libdeflate_crc32(0, out.data(), actual);
}

// Keeps a result alive so that the compiler cannot drop the work behind it.
volatile uint32_t Sunk;
void Sink(uint32_t v) { Sunk = v; }

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s corpus-file [rounds [inflate]]\n", argv[0]);
    return 2;
  }
  int rounds = argc > 2 ? atoi(argv[2]) : 5;
  std::vector<uint8_t> data = ReadAll(argv[1]);
  if (data.empty()) {
    fprintf(stderr, "%s: no data\n", argv[1]);
    return 2;
  }
  std::vector<uint8_t> stream = Deflate(data);
  std::vector<uint8_t> out(data.size());
  Host.KeepOutput = false;
  uint32_t expected = (uint32_t)crc32(0, data.data(), (uInt)data.size());
  if (RunInflate(stream) != expected || Host.OutputBytes != data.size() || RunZlib(stream) != expected ||
      RunLibdeflate(stream, out) != expected) {
    fprintf(stderr, "a decoder got the corpus wrong\n");
    return 1;
  }

  double mb = (double)data.size() / 1e6;
  if (argc > 3) {  // "inflate": only Inflate's rounds, for a profiler
    double t = 1e30;
    for (int r = 0; r < rounds; r++) t = Best(t, [&] { RunInflate(stream); });
    printf("Inflate + EntryCrc: %.0f MB/s\n", mb / t);
    return 0;
  }
  // Every round times each contender once, one after the other, so that the
  // machine's load at any moment weighs on all of them alike; each keeps its
  // best round.
  double tInflate = 1e30, tZlib = 1e30, tLibdeflate = 1e30, tCrc = 1e30, tZlibCrc = 1e30;
  for (int r = 0; r < rounds; r++) {
    tInflate = Best(tInflate, [&] { RunInflate(stream); });
    tZlib = Best(tZlib, [&] { RunZlib(stream); });
    tLibdeflate = Best(tLibdeflate, [&] { RunLibdeflate(stream, out); });
    tCrc = Best(tCrc, [&] {
      uint32_t crc = 0xFFFFFFFFu;
      for (size_t at = 0; at < data.size(); at += 32768)
        UpdateCrcBuffer(data.data() + at, (int32_t)(data.size() - at < 32768 ? data.size() - at : 32768), crc);
      Sink(crc);
    });
    tZlibCrc = Best(tZlibCrc, [&] {
      uLong crc = crc32(0, nullptr, 0);
      for (size_t at = 0; at < data.size(); at += 32768)
        crc = crc32(crc, data.data() + at, (uInt)(data.size() - at < 32768 ? data.size() - at : 32768));
      Sink((uint32_t)crc);
    });
  }

  printf("corpus: %.1f MB, deflated (zlib level 6) to %.1f MB, best of %d interleaved rounds\n", mb, stream.size() / 1e6,
         rounds);
  printf("%-36s %10s %10s %8s  %s\n", "figure", "sfxkit", "peer", "ratio", "target");
  printf("%-36s %10.0f %10.0f %7.2fx  >= 1.5x\n", "decoding MB/s vs zlib + crc32", mb / tInflate, mb / tZlib,
         tZlib / tInflate);
  printf("%-36s %10.0f %10.0f %7.2fx  >= 0.6x\n", "decoding MB/s vs libdeflate + crc32", mb / tInflate,
         mb / tLibdeflate, tLibdeflate / tInflate);
  printf("%-36s %10.2f %10.2f %7.2fx  >= 3 GB/s\n", "CRC-32 GB/s vs zlib crc32", mb / tCrc / 1000,
         mb / tZlibCrc / 1000, tZlibCrc / tCrc);
  return 0;
}
