#!/usr/bin/env bash
# Builds the libFuzzer target of the inflate decoder (clang, ASan+UBSan) into
# build/fuzz and runs it from the seed corpus for a bounded time, about a minute
# by default. Crashing inputs land in build/fuzz/ (crash-*): copy each into
# fuzz/regressions/, where the host tests replay it.
#   FUZZ_SECONDS=3600 fuzz/run.sh        fuzz for an hour
#   FUZZ_RUNS=100000 fuzz/run.sh         stop after that many inputs (or the time, whichever first)
#   FUZZ_JOBS=2 FUZZ_SECONDS=0 fuzz/run.sh  fuzz until stopped, on two cores
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Isrc/core -Itests/host src/core/*.cpp tests/host/core_host.cpp tests/host/test_support.cpp fuzz/inflate_fuzzer.cpp -lz \
  -o "$out/inflate_fuzzer"
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-1}
args=(-max_len=65536 -timeout=10 -rss_limit_mb=1024 -artifact_prefix="$out/" -print_final_stats=1)
[ "$seconds" != 0 ] && args+=(-max_total_time="$seconds")
[ -n "${FUZZ_RUNS:-}" ] && args+=(-runs="$FUZZ_RUNS")
[ "$jobs" != 1 ] && args+=(-jobs="$jobs" -workers="$jobs")
regressions=()
[ -d fuzz/regressions ] && regressions=(fuzz/regressions)
# New inputs go to the working corpus in build/fuzz; the seeds in the repository stay as they are.
"$out/inflate_fuzzer" "${args[@]}" "$out/corpus" fuzz/corpus "${regressions[@]}"
