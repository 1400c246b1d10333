#!/usr/bin/env bash
# The 64-bit stub under wine unpacking the benchmark tree (bench/tree.sh) from
# a program whose members are AES-256 encrypted against one whose members are
# not: both built by the current sfxmake from the same folder, so that the
# compressed data is the same and only the encryption differs. A second row does
# the same for one member of 64 MB (the tree's files end to end), which leaves
# out the key derivation every member pays, and a third the tree with LZMA, the
# method a folder gets by default. Two more rows give the floor for any reader,
# natively: 7-Zip's own ratio on the tree, and the key derivation alone.
#   bench/aes.sh [rounds]      (best of `rounds`, default 3, the two interleaved)
# Shares build/bench/wine (the tree, the wine prefix) with bench/wine.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
out=build/bench/wine
[ -x dist/sfxmake ] && [ -f dist/sfxstub64.exe ] || scripts/build >/dev/null
mkdir -p "$out"
. bench/tree.sh
if [ ! -d "$out/aes-src" ]; then
  mkdir -p "$out/aes-src.part" && unzip -q "$out/tree.zip" -d "$out/aes-src.part" && mv "$out/aes-src.part" "$out/aes-src"
fi
if [ ! -d "$out/aes-one" ]; then
  mkdir -p "$out/aes-one.part"
  (tar -cf - -C "$out/aes-src" . 2>/dev/null || true) | head -c 64000000 >"$out/aes-one.part/member.tar"  # tar stops at the cut
  mv "$out/aes-one.part" "$out/aes-one"
fi

unset SFX_WINE_SESSION  # a session of the caller's is not reused: this one has its own prefix
export WINEPREFIX=$PWD/$out/prefix
. tests/wine-env.sh
# No window manager in the private X server: unmanaged windows spare wine's wait for one (see bench/wine.sh).
"$SFX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
sfx() { dist/sfxmake build -q --stub dist/sfxstub64.exe --auto --overwrite overwrite --no-done-message "$@"; }
# Programs named INPUT-METHOD: the tree and the member deflated, and the tree as
# a folder is built by default, with LZMA.
for build in src-deflate one-deflate src-lzma; do
  sfx -o "$out/plain-$build.exe" --method "${build#*-}" "$out/aes-${build%-*}"
  sfx -o "$out/aes-$build.exe" --method "${build#*-}" --password bench-pass "$out/aes-${build%-*}"
done
win() { echo "Z:$(readlink -f "$1" | tr / '\\')"; }
ms() { echo $(($(date +%s%N) / 1000000)); }

unpack() {  # program, folder: wall time in ms of one unpack into the empty folder
  local start end rc=0
  rm -rf "$2" && mkdir -p "$2" && sync
  start=$(ms)
  "$SFX_WINE" "$1" /p bench-pass /d "$(win "$2")" >/dev/null 2>&1 || rc=$?
  end=$(ms)
  [ $rc = 0 ] || { echo "bench: $1 failed with exit code $rc" >&2; exit 1; }
  echo $((end - start))
}
best() { printf '%s\n' "$@" | sort -n | head -1; }

# Best times, AES-256 and none, of the programs BUILD (INPUT-METHOD), best of `rounds` interleaved.
measure() {
  local aes=() plain=() round
  for ((round = 0; round < rounds; round++)); do
    plain+=("$(unpack "$out/plain-$1.exe" "$out/plain-out")")
    aes+=("$(unpack "$out/aes-$1.exe" "$out/aes-out")")
  done
  # Against each other, not the source: names differing only in case share one file on Windows.
  diff -r -q "$out/plain-out" "$out/aes-out" >/dev/null || { echo "bench: the two programs unpacked different trees" >&2; exit 1; }
  rm -rf "$out/plain-out" "$out/aes-out"
  echo "$(best "${aes[@]}") $(best "${plain[@]}")"
}
read -r ta tp <<<"$(measure src-deflate)"
read -r oa op <<<"$(measure one-deflate)"
read -r la lp <<<"$(measure src-lzma)"

# The floor for any reader, natively: 7-Zip testing the tree zipped by itself
# with and without AES-256, and the key derivation alone (OpenSSL's PBKDF2, by
# way of Python) once for every file, added to the unencrypted unpack under wine.
if [ ! -s "$out/7z-aes.zip" ]; then
  (cd "$out/aes-src" && 7z a -tzip -bd -bso0 ../7z-plain.zip . && 7z a -tzip -bd -bso0 -mem=AES256 -pbench-pass ../7z-aes.part.zip .)
  mv "$out/7z-aes.part.zip" "$out/7z-aes.zip"
fi
native() { local start; start=$(ms); 7z t -pbench-pass -bd -bso0 "$1" >/dev/null; echo $(($(ms) - start)); }
na=() np=()
for ((round = 0; round < rounds; round++)); do na+=("$(native "$out/7z-aes.zip")"); np+=("$(native "$out/7z-plain.zip")"); done
files=$(find "$out/aes-src" -type f | wc -l)
keys=$(python3 -c 'import hashlib, time
t = time.perf_counter()
for i in range(500): hashlib.pbkdf2_hmac("sha1", b"bench-pass", i.to_bytes(16, "little"), 1000, 66)
print((time.perf_counter() - t) / 500 * '"$files"')')
echo "unpacked: $files files, $(du -sm "$out/aes-src" | cut -f1) MB; best of $rounds interleaved rounds; $(nproc) cores, $(wine --version 2>/dev/null)"
printf '%-44s %10s %10s %8s  %s\n' figure aes-256 plain ratio target
awk -v ta="$ta" -v tp="$tp" -v oa="$oa" -v op="$op" -v la="$la" -v lp="$lp" -v na="$(best "${na[@]}")" -v np="$(best "${np[@]}")" -v keys="$keys" 'BEGIN {
  printf "%-44s %10.2f %10.2f %7.2fx  <= 1.3x\n", "unpack s, automatic mode, the tree", ta / 1000, tp / 1000, ta / tp
  printf "%-44s %10.2f %10.2f %7.2fx  -\n", "unpack s, automatic mode, one 64 MB member", oa / 1000, op / 1000, oa / op
  printf "%-44s %10.2f %10.2f %7.2fx  -\n", "unpack s, automatic mode, the tree, LZMA", la / 1000, lp / 1000, la / lp
  printf "%-44s %10.2f %10.2f %7.2fx  -\n", "7z t s natively, the tree zipped by 7z", na / 1000, np / 1000, na / np
  printf "%-44s %10.2f %10.2f %7.2fx  -\n", "the tree: native PBKDF2 alone + unpack plain", keys + tp / 1000, tp / 1000, (keys + tp / 1000) / (tp / 1000)
}'
