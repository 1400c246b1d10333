#!/usr/bin/env bash
# The 64-bit stub under wine, in one table: unpacking a tree of about 250 MB in
# about 6,000 files (Debian's own documentation, translations and libraries) in
# automatic mode against `sfxmake.exe extract` under the same wine; the time from
# start to a dialog listing 20,000 members against one listing 100; the peak
# working set while unpacking a 1 GB member against a 1 MB one.
#   bench/wine.sh [rounds]      (best of `rounds`, default 3, contenders interleaved)
# The archives are made once under build/bench/wine; the programs are put together
# from them and the current dist/ on every run, so a rebuilt stub is what is timed.
# The wine session has a prefix of its own there. Its private X server runs no
# window manager, and wine waits up to 2 s for one whenever a managed window is
# hidden: every automatic run, whose dialog closes by itself, would pay that
# wait, which no desktop has. The prefix therefore leaves windows unmanaged
# (the X11 driver's Managed=N); one row shows an unpack with managed windows,
# as the tests' session runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
out=build/bench/wine
driver=build/win64/tests/driver/uidriver.exe
[ -x dist/sfxmake ] && [ -f dist/sfxmake.exe ] && [ -f dist/sfxstub64.exe ] && [ -f "$driver" ] || scripts/build >/dev/null
mkdir -p "$out"

. bench/tree.sh
if [ ! -s "$out/many.zip" ] || [ ! -s "$out/big.zip" ]; then
  python3 - "$out" <<'EOF'
import sys, zipfile
out = sys.argv[1]
# Rows of every kind the list shows an icon for, 400 to a folder.
kinds = ["txt", "dll", "exe", "png", "html", "xml", "dat", "ini", "cfg", "json", "md", "bin"]
for count, name in [(20000, "many.zip"), (100, "few.zip")]:
    with zipfile.ZipFile(f"{out}/{name}", "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(count):
            info = zipfile.ZipInfo(f"folder{i // 400:03}/member{i:05}.{kinds[i % len(kinds)]}", (2023, 11, 14, 12, 0, 0))
            z.writestr(info, f"member {i}\n" * (i % 7 + 1))
# One deflated member of 1 GiB, and one of its first MiB: numbered text lines.
chunk = "".join(f"{i:08d} {i * 7919 % 1000003:07d} the quick brown fox jumps over the lazy dog\n" for i in range(16384))
chunk = chunk.encode()[:1 << 20].ljust(1 << 20, b"\n")
for mib, name in [(1024, "big.zip"), (1, "small.zip")]:
    with zipfile.ZipFile(f"{out}/{name}", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        with z.open("member.txt", "w") as f:
            for i in range(mib):
                f.write(b"%08d" % i + chunk[8:])
EOF
fi

unset SFX_WINE_SESSION  # a session of the caller's is not reused: this one has its own prefix
export WINEPREFIX=$PWD/$out/prefix
. tests/wine-env.sh
managed() { "$SFX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$1" /f >/dev/null 2>&1; }
managed N
sfx() { dist/sfxmake build -q --stub dist/sfxstub64.exe "$@"; }  # the current stub, around a prepared archive
win() { echo "Z:$(readlink -f "$1" | tr / '\\')"; }                # a path as the wine programs see it
ms() { echo $(($(date +%s%N) / 1000000)); }
drive() { "$SFX_WINE" "$driver" - 2>&1; }
field() { grep "\"cmd\": \"$1\"" | sed -n "s/.*\"$2\": \([0-9]*\).*/\1/p"; }  # command, then the number to take from its line

sfx --auto --overwrite overwrite --no-done-message -o "$out/unpack.exe" "$out/tree.zip"
for name in many few; do sfx -o "$out/$name.exe" "$out/$name.zip"; done

# Wall time of one unpack into an empty folder, in ms; dirty pages of the run
# before are written out first.
unpack() {  # folder, then the command
  local folder=$1 start end; shift
  rm -rf "$folder" && mkdir -p "$folder" && sync
  start=$(ms)
  "$@" >/dev/null 2>&1 || { echo "bench: $* failed" >&2; exit 1; }
  end=$(ms)
  echo $((end - start))
}
best() { printf '%s\n' "$@" | sort -n | head -1; }

stub=() peer=() silent=() windowed=() many=() few=()
for ((round = 0; round < rounds; round++)); do
  peer+=("$(unpack "$out/peer" "$SFX_WINE" dist/sfxmake.exe extract -q "$out/unpack.exe" -d "$(win "$out")\\peer")")
  stub+=("$(unpack "$out/stub" "$SFX_WINE" "$out/unpack.exe" /d "$(win "$out")\\stub")")
  silent+=("$(unpack "$out/stub" "$SFX_WINE" "$out/unpack.exe" /s /d "$(win "$out")\\stub")")
  managed Y
  windowed+=("$(unpack "$out/stub" "$SFX_WINE" "$out/unpack.exe" /d "$(win "$out")\\stub")")
  managed N
  for name in many few; do
    rows=$([ $name = many ] && echo 20000 || echo 100)
    t=$(drive <<EOF | field clock ms
timeout 300000
start "$(win "$out/$name.exe")"
wait-window "Extracting files..."
wait-state 401 count $rows
clock
close
wait-exit
EOF
)
    [ -n "$t" ] || { echo "bench: the dialog of $name.exe did not list $rows rows" >&2; exit 1; }
    eval "$name+=($t)"
  done
done
diff -r "$out/peer" "$out/stub" >/dev/null || { echo "bench: the stub and sfxmake.exe unpacked different trees" >&2; exit 1; }
rm -rf "$out/peer" "$out/stub"

# Peak working set of the stub unpacking the member of NAME.zip, in bytes, read
# while its "All files have been unzipped." box is up; then the member's size is
# checked against SIZE.
peak() {  # NAME SIZE
  sfx -o "$out/member.exe" "$out/$1.zip"
  rm -rf "$out/member" && mkdir -p "$out/member"
  drive <<EOF | field memory peak_working_set
timeout 600000
start "$(win "$out/member.exe")" args="/d $(win "$out/member")"
wait-window "Extracting files..."
press id=1
wait-msgbox
memory
press OK
wait-exit
EOF
  [ "$(stat -c %s "$out/member/member.txt")" = "$2" ] || { echo "bench: $1.exe did not unpack its member" >&2; exit 1; }
  rm -rf "$out/member" "$out/member.exe"
}
big=() small=()
for ((round = 0; round < rounds; round++)); do
  big+=("$(peak big $((1024 << 20)))")
  small+=("$(peak small $((1 << 20)))")
done

tree_mb=$(unzip -Zt "$out/tree.zip" | awk '{printf "%.0f", $3 / 1e6}')
tree_files=$(unzip -Zt "$out/tree.zip" | awk '{print $1}')
s=$(best "${stub[@]}") p=$(best "${peer[@]}") q=$(best "${silent[@]}") w=$(best "${windowed[@]}")
m=$(best "${many[@]}") f=$(best "${few[@]}")
b=$(best "${big[@]}") l=$(best "${small[@]}")
echo "unpacked: $tree_files files, $tree_mb MB; best of $rounds interleaved rounds; $(nproc) cores, $(wine --version 2>/dev/null)"
printf '%-44s %10s %10s %8s  %s\n' figure sfxkit peer ratio target
awk -v s="$s" -v p="$p" -v q="$q" -v w="$w" -v m="$m" -v f="$f" -v b="$b" -v l="$l" 'BEGIN {
  printf "%-44s %10.2f %10.2f %7.2fx  <= 1.0x\n", "unpack s, automatic mode vs sfxmake.exe", s / 1000, p / 1000, s / p
  printf "%-44s %10.2f %10.2f %7.2fx  -\n", "unpack s, /s vs sfxmake.exe", q / 1000, p / 1000, q / p
  printf "%-44s %10.2f %10.2f %7.2fx  -\n", "unpack s, automatic, managed windows", w / 1000, p / 1000, w / p
  printf "%-44s %10.2f %10.2f %7.2fx  <= 1.5x + 1 s (%.2f s)\n", "dialog s, 20,000 vs 100 members", m / 1000, f / 1000, m / f, 1.5 * f / 1000 + 1
  printf "%-44s %10.0f %10.0f %8s  -\n", "members/s listed, 20,000 vs 100", 20000000 / m, 100000 / f, "-"
  printf "%-44s %10.1f %10.1f %+6.0f KB  <= +300 KB\n", "peak working set MB, 1 GB vs 1 MB member", b / 1048576, l / 1048576, (b - l) / 1024
}'
