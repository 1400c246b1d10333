// inflate_bench.cpp -- decompression speed of Inflate + EntryCrc against zlib and libdeflate on one corpus.
//
// The corpus is deflated once with zlib (level 6, raw). Then, best of several
// rounds each: Inflate as the stub runs it (32 KB input refills, 32 KB window
// flushes, CRC-32 per flush), zlib's inflate into 32 KB output chunks with its
// crc32 per chunk, and libdeflate decompressing the whole buffer followed by its
// crc32. Speeds are in MB/s of decompressed output.
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <zlib.h>

#include <vector>

#include "core_host.h"
#include "crc32.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

std::vector<uint8_t> ReadAll(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) {
    perror(path);
    exit(2);
  }
  std::vector<uint8_t> data;
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
  fclose(f);
  return data;
}

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

template <typename F>
double BestSeconds(int rounds, F f) {
  double best = 1e30;
  for (int i = 0; i < rounds; i++) {
    double start = Now();
    f();
    double t = Now() - start;
    if (t < best) best = t;
  }
  return best;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s corpus-file [rounds [inflate]]\n", argv[0]);
    return 2;
  }
  int rounds = argc > 2 ? atoi(argv[2]) : 5;
  std::vector<uint8_t> data = ReadAll(argv[1]);
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
    double t = BestSeconds(rounds, [&] { RunInflate(stream); });
    printf("Inflate + EntryCrc: %.0f MB/s\n", mb / t);
    return 0;
  }
  double tInflate = BestSeconds(rounds, [&] { RunInflate(stream); });
  double tZlib = BestSeconds(rounds, [&] { RunZlib(stream); });
  double tLibdeflate = BestSeconds(rounds, [&] { RunLibdeflate(stream, out); });
  double tCrc = BestSeconds(rounds, [&] {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t at = 0; at < data.size(); at += 32768)
      UpdateCrcBuffer(data.data() + at, (int32_t)(data.size() - at < 32768 ? data.size() - at : 32768), crc);
    if (crc == 0x12345678u) puts("");
  });

  printf("corpus: %.1f MB, deflated (zlib level 6) to %.1f MB, best of %d rounds\n", mb, stream.size() / 1e6, rounds);
  printf("%-28s %9s %12s %14s\n", "decoder", "MB/s", "vs zlib", "vs libdeflate");
  auto row = [&](const char *name, double t) {
    printf("%-28s %9.0f %11.2fx %13.2fx\n", name, mb / t, tZlib / t, tLibdeflate / t);
  };
  row("Inflate + EntryCrc", tInflate);
  row("zlib inflate + crc32", tZlib);
  row("libdeflate + crc32", tLibdeflate);
  printf("(of which UpdateCrcBuffer alone: %.0f MB/s)\n", mb / tCrc);
  return 0;
}
