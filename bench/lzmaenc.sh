#!/usr/bin/env bash
# The LZMA encoder against liblzma at preset 9e on the Windows payload (wine's PE
# files, as bench/payload.sh assembles them, about 180 MB): builds the benchmark
# in an optimised host tree (build/bench) and prints the size ratio ours/liblzma
# per member (each file alone, LZMA1) and solid (one LZMA2 stream flushed at
# each file's end), and the one-thread speed ratio, in one interleaved run.
#   bench/lzmaenc.sh [budget-bytes] [--no-solid]   (a budget takes the first files only)
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/bench/payload
mkdir -p "$out"
. bench/pe-files.sh
cmake -S . -B build/bench/tree -Wno-dev -DCMAKE_BUILD_TYPE=Release -DSFX_TESTS=OFF >/dev/null
cmake --build build/bench/tree -j2 --target lzmaenc_bench >/dev/null
grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ */cpu: /'
build/bench/tree/bench/lzmaenc_bench "$out/files" "${1:-0}" ${2:-}
