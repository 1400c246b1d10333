// bench_support.h -- what the benchmarks share: the clock, reading a whole file, best-of-rounds timing.
#ifndef SFXKIT_BENCH_SUPPORT_H
#define SFXKIT_BENCH_SUPPORT_H
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <vector>

inline double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The whole file; empty when it cannot be read.
inline std::vector<uint8_t> ReadAll(const char *path) {
  std::vector<uint8_t> data;
  FILE *f = fopen(path, "rb");
  if (!f) return data;
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
  fclose(f);
  return data;
}

// The smaller of best and the seconds one call of f takes.
template <typename F>
double Best(double best, F f) {
  double start = Now();
  f();
  double t = Now() - start;
  return t < best ? t : best;
}
#endif
