#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) into build/fuzz and runs each
# from its seed corpus for a bounded time, by default 45 seconds each (20 for the
# resource fuzzer, whose inputs are few and small):
#   inflate_fuzzer  the inflate decoder against zlib's raw inflate
#   lzma_fuzzer     the LZMA decoder against liblzma's raw LZMA1 decoder
#   lzmaenc_fuzzer  the LZMA encoder, its LZMA1 and LZMA2 output decoded by liblzma
#                   and (LZMA1) by the core's decoder (20 seconds: each input is slow)
#   reader_fuzzer   the file-format reader on arbitrary bytes behind a stub image
#   resource_fuzzer a stub image's headers and resources read, rewritten, read back
# Crashing inputs land in build/fuzz/ (crash-*): copy each into the target's
# regression folder (fuzz/regressions, fuzz/lzma-regressions, fuzz/lzmaenc-regressions,
# fuzz/reader-regressions, fuzz/resource-regressions), which the host tests replay.
#   FUZZ_SECONDS=3600 fuzz/run.sh        fuzz each target for an hour
#   FUZZ_TARGETS=reader_fuzzer fuzz/run.sh   only that target
#   FUZZ_RUNS=100000 fuzz/run.sh         stop after that many inputs (or the time, whichever first)
#   FUZZ_JOBS=2 FUZZ_SECONDS=0 fuzz/run.sh  fuzz until stopped, on two cores
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/fuzz
mkdir -p "$out"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -Isrc/core -Isrc/cipher)
# The core with the host's AES primitives (libgcrypt), as every program links it.
core=(src/core/*.cpp src/cipher/cipher_gcrypt.cpp -lgcrypt)
reader=(src/sfxmake/{cli,codepages,config,coreglue,files,platform,sfxfile,utf8,workers,ziparchive}.cpp)
clang++ "${flags[@]}" -Itests/host "${core[@]}" tests/host/core_host.cpp tests/host/test_support.cpp \
  fuzz/inflate_fuzzer.cpp -lz -o "$out/inflate_fuzzer"
clang++ "${flags[@]}" -Itests/host "${core[@]}" tests/host/core_host.cpp tests/host/test_support.cpp \
  fuzz/lzma_fuzzer.cpp -lz -llzma -o "$out/lzma_fuzzer"
clang++ "${flags[@]}" -Itests/host "${core[@]}" tests/host/core_host.cpp tests/host/lzma_support.cpp \
  fuzz/lzmaenc_fuzzer.cpp -lz -llzma -o "$out/lzmaenc_fuzzer"
clang++ "${flags[@]}" -Isrc/sfxmake "${core[@]}" "${reader[@]}" fuzz/reader_fuzzer.cpp -o "$out/reader_fuzzer"
clang++ "${flags[@]}" -Isrc/sfxmake "${core[@]}" "${reader[@]}" src/sfxmake/{publisher,resources}.cpp \
  fuzz/resource_fuzzer.cpp -o "$out/resource_fuzzer"

jobs=${FUZZ_JOBS:-1}
args=(-max_len=65536 -timeout=10 -rss_limit_mb=1024 -artifact_prefix="$out/" -print_final_stats=1)
[ -n "${FUZZ_RUNS:-}" ] && args+=(-runs="$FUZZ_RUNS")
[ "$jobs" != 1 ] && args+=(-jobs="$jobs" -workers="$jobs")
# target, seed folder, regression folder, seconds unless FUZZ_SECONDS is set.
# New inputs go to a working corpus in build/fuzz; the seeds in the repository
# stay as they are.
fuzz() {
  local seeds=("$2") seconds=${FUZZ_SECONDS:-$4} limit=()
  [ -d "$3" ] && seeds+=("$3")
  [ "$seconds" != 0 ] && limit=(-max_total_time="$seconds")
  mkdir -p "$out/$1-corpus"
  # libFuzzer's progress lines go to a log: the suite's output keeps the final
  # figures, or the finding with its stack when there is one.
  echo "fuzz: $1 (log: $out/$1.log)"
  if "$out/$1" "${args[@]}" "${limit[@]}" "$out/$1-corpus" "${seeds[@]}" >"$out/$1.log" 2>&1; then
    grep -E '^(stat::|Done )' "$out/$1.log"
  else
    tail -n 80 "$out/$1.log"
    return 1
  fi
}
for target in ${FUZZ_TARGETS:-inflate_fuzzer lzma_fuzzer lzmaenc_fuzzer reader_fuzzer resource_fuzzer}; do
  case $target in
    inflate_fuzzer) fuzz inflate_fuzzer fuzz/corpus fuzz/regressions 45 ;;
    lzma_fuzzer) fuzz lzma_fuzzer fuzz/lzma-corpus fuzz/lzma-regressions 45 ;;
    lzmaenc_fuzzer) fuzz lzmaenc_fuzzer fuzz/lzmaenc-corpus fuzz/lzmaenc-regressions 20 ;;
    reader_fuzzer) fuzz reader_fuzzer fuzz/reader-corpus fuzz/reader-regressions 45 ;;
    resource_fuzzer) fuzz resource_fuzzer fuzz/resource-corpus fuzz/resource-regressions 20 ;;
    *) echo "fuzz: no target $target" >&2; exit 2 ;;
  esac
done
