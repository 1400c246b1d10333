#!/usr/bin/env bash
# Assembles a corpus of about 32 MB from files every Debian machine has (package
# copyright texts, Perl modules, programs in /usr/bin), builds the benchmark in
# an optimised host tree (build/bench) and prints MB/s of Inflate + EntryCrc,
# zlib and libdeflate, and CRC-32 GB/s against zlib's crc32, with the ratios and the
# targets in one table.   bench/run.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/bench
mkdir -p "$out"
corpus=$out/corpus.bin
if [ ! -s "$corpus" ]; then
  take() {  # budget in bytes, then file paths on stdin: whole files, in order, until the budget is met
    local budget=$1 total=0 f size
    while IFS= read -r f; do
      [ -f "$f" ] && [ -r "$f" ] || continue
      size=$(stat -Lc %s "$f")
      cat "$f"
      total=$((total + size))
      [ "$total" -ge "$budget" ] && break
    done
  }
  {
    find /usr/share/doc -name copyright -type f 2>/dev/null | LC_ALL=C sort | take 8000000
    find /usr/share/perl /usr/share/perl5 /usr/lib/x86_64-linux-gnu/perl-base -name '*.pm' -type f 2>/dev/null |
      LC_ALL=C sort | take 8000000
    find /usr/bin -type f -size +20k 2>/dev/null | LC_ALL=C sort | take 16000000
  } > "$corpus"
fi
cmake -S . -B "$out/tree" -Wno-dev -DCMAKE_BUILD_TYPE=Release -DSFX_TESTS=OFF >/dev/null
cmake --build "$out/tree" -j2 --target inflate_bench >/dev/null
"$out/tree/bench/inflate_bench" "$corpus" "${1:-5}"
