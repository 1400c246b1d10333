#!/usr/bin/env bash
# Assembles a payload of 80 MB of shared libraries from the machine (programs
# and libraries, like what a self-extractor ships), builds the LZMA benchmark in
# an optimised host tree (build/bench) and prints MB/s of LzmaDecode + EntryCrc
# against liblzma's raw decoder + crc32, with the ratio and the target.
#   bench/lzma.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/bench
mkdir -p "$out"
payload=$out/libs.bin
if [ ! -s "$payload" ]; then
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size +100k | LC_ALL=C sort |
    while IFS= read -r f; do cat "$f"; done | head -c 80000000 > "$payload" || true
  rm -f "$payload.lzma"
fi
cmake -S . -B "$out/tree" -Wno-dev -DCMAKE_BUILD_TYPE=Release -DSFX_TESTS=OFF >/dev/null
cmake --build "$out/tree" -j2 --target lzma_bench >/dev/null
"$out/tree/bench/lzma_bench" "$payload" "${1:-3}"
