#!/usr/bin/env bash
# What a publisher compares: the size of one payload of Windows programs and
# libraries (wine's PE files from this machine, about 180 MB) packed by
# `sfxmake build` (LZMA, deflate and --solid) beside 7-Zip's ZIP with LZMA members, 7-Zip's
# deflate, Info-ZIP's zip -9 and a solid 7z archive (7z a -t7z -mx9), with the
# ratios sfxmake-LZMA / 7-Zip-LZMA and sfxmake --solid / 7z, and the default
# build's wall time against 7-Zip's LZMA ZIP (sfxmake compresses on every core;
# the shortest of five turns each);
# the time the 64-bit stub takes under wine to unpack the LZMA, --solid and
# deflate builds; and the peak memory (max RSS) of `sfxmake build` of a 2 GB file
# beside a 2 MB one, for LZMA and deflate.
#   bench/payload.sh
# Everything is made under build/bench/payload; the programs come from the
# current build/host sfxmake and dist/ stub.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/bench/payload
sfxmake=build/host/src/sfxmake/sfxmake
[ -x "$sfxmake" ] && [ -f dist/sfxstub64.exe ] || scripts/build >/dev/null
mkdir -p "$out"

. bench/pe-files.sh
payload=$(du -sb "$out/files" | cut -f1)
count=$(find "$out/files" -type f | wc -l)

secs() { local start=$(date +%s%N); "$@" >/dev/null 2>&1; echo $((($(date +%s%N) - start) / 1000000)); }
size() { stat -c %s "$1"; }
mb() { awk -v b="$1" 'BEGIN { printf "%.2f", b / 1000000 }'; }

rm -f "$out"/*.zip "$out"/*.exe "$out"/*.7z
abs=$(readlink -f "$out")
declare -A took
# The default build and 7-Zip's LZMA ZIP take turns, five times each: each
# keeps its shortest time, so that a neighbour's load on a shared machine
# weighs on neither alone (one turn's time moves by up to 40 % there).
for turn in 1 2 3 4 5; do
  t=$(secs "$sfxmake" build -q --method lzma -o "$out/lzma.exe" "$out/files")
  took[lzma]=$(( ${took[lzma]:-$t} < t ? ${took[lzma]:-$t} : t ))
  rm -f "$out/7z-lzma.zip"
  t=$(cd "$out/files" && secs 7z a -tzip -mm=LZMA -mx9 "$abs/7z-lzma.zip" .)
  took[7zlzma]=$(( ${took[7zlzma]:-$t} < t ? ${took[7zlzma]:-$t} : t ))
done
took[deflate]=$(secs "$sfxmake" build -q --method deflate -o "$out/deflate.exe" "$out/files")
took[solid]=$(secs "$sfxmake" build -q --solid -o "$out/solid.exe" "$out/files")
took[7z]=$(cd "$out/files" && secs 7z a -t7z -mx9 "$abs/7z-solid.7z" .)
took[7zdeflate]=$(cd "$out/files" && secs 7z a -tzip -mx9 "$abs/7z-deflate.zip" .)
took[zip9]=$(cd "$out/files" && secs zip -9 -r -q "$abs/zip9.zip" .)

echo "payload: $count files, $(mb "$payload") MB (wine's PE files); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), $(nproc) cores"
printf '%-40s %8s %10s\n' "what" "MB" "build s"
row() { printf '%-40s %8s %10.1f\n' "$1" "$(mb "$(size "$2")")" "$(awk -v ms="$3" 'BEGIN { print ms / 1000 }')"; }
row "sfxmake build --method lzma (.exe)" "$out/lzma.exe" "${took[lzma]}"
row "sfxmake build --method deflate (.exe)" "$out/deflate.exe" "${took[deflate]}"
row "sfxmake build --solid (.exe)" "$out/solid.exe" "${took[solid]}"
row "7z a -t7z -mx9 (solid 7z)" "$out/7z-solid.7z" "${took[7z]}"
row "7z a -tzip -mm=LZMA -mx9" "$out/7z-lzma.zip" "${took[7zlzma]}"
row "7z a -tzip -mx9" "$out/7z-deflate.zip" "${took[7zdeflate]}"
row "zip -9" "$out/zip9.zip" "${took[zip9]}"
awk -v a="$(size "$out/lzma.exe")" -v b="$(size "$out/7z-lzma.zip")" \
  'BEGIN { printf "ratio sfxmake-lzma / 7z-lzma: %.4f (target <= 1.01; the .exe includes the stub)\n", a / b }'
awk -v a="$(size "$out/solid.exe")" -v b="$(size "$out/7z-solid.7z")" \
  'BEGIN { printf "ratio sfxmake --solid / 7z -t7z -mx9: %.4f (target <= 1.03; the .exe includes the stub)\n", a / b }'
awk -v a="${took[lzma]}" -v b="${took[7zlzma]}" \
  'BEGIN { printf "build time sfxmake-lzma / 7z-lzma: %.3f (target <= 1.0, same machine, same run)\n", a / b }'

# Unpacking under wine, in automatic mode into an empty folder: only where the
# stub reads LZMA members (sfxmake test decodes as the stub does).
. tests/wine-env.sh
win() { echo "Z:$(readlink -f "$1" | tr / '\\')"; }
unpack() {  # program
  local run=$out/run.exe t
  "$sfxmake" build -q --stub dist/sfxstub64.exe --auto --overwrite overwrite --no-done-message -o "$run" "$1"
  rm -rf "$out/unpacked" && mkdir -p "$out/unpacked" && sync
  t=$(secs timeout 600 "$SFX_WINE" "$run" /s /d "$(win "$out")\\unpacked")
  if diff -r "$out/files" "$out/unpacked" >/dev/null; then awk -v ms="$t" 'BEGIN { printf "%.2f", ms / 1000 }'; else echo "failed"; fi
  rm -rf "$out/unpacked" "$run"
}
for method in deflate lzma solid; do
  if "$sfxmake" test -q "$out/$method.exe" >/dev/null 2>&1; then
    echo "unpack under wine, $method build: $(unpack "$out/$method.exe") s"
  else
    echo "unpack under wine, $method build: n/a (this build's stub does not read $method members)"
  fi
done

# Peak memory of building one big file against one small one (sparse files of zeros).
mkdir -p "$out/mem/big" "$out/mem/small"
truncate -s 2000000000 "$out/mem/big/file.bin"
truncate -s 2000000 "$out/mem/small/file.bin"
rss() { /usr/bin/time -f %M "$sfxmake" build -q --method "$1" -o "$out/mem/out.exe" "$out/mem/$2" 2>&1 >/dev/null | tail -1; }
dictionary=$(xz --format=raw --lzma1=preset=9e,dict=64MiB -vv -c </dev/null 2>&1 >/dev/null |
  sed -n 's/.* \([0-9]*\) MiB of memory is required.*/\1/p' | head -1)
for method in deflate lzma; do
  small=$(rss "$method" small) big=$(rss "$method" big)
  allowance=$([ "$method" = lzma ] && echo "${dictionary:-0}" || echo 0)
  awk -v m="$method" -v s="$small" -v b="$big" -v d="$allowance" 'BEGIN {
    printf "peak RSS of sfxmake build --method %s: 2 GB file %.1f MB, 2 MB file %.1f MB (target <= 1.1 x 2 MB + encoder dictionary %d MiB = %.1f MB)\n",
      m, b / 1024, s / 1024, d, (1.1 * s / 1024) + d * 1.048576 }'
done
rm -rf "$out/mem"
