# bench/tree.sh -- sourced by the wine benchmarks: makes $out/tree.zip once, a
# tree of about 250 MB in about 6,000 files (Debian's own documentation,
# translations and libraries), zipped by Info-ZIP without folder entries.

# Whole files from the lines "size path" on stdin, in order, up to a budget in
# bytes; files over 16 MB are passed over.
pick() {
  awk -v budget="$1" '$1 <= 16000000 && total < budget { print substr($0, index($0, " ") + 1); total += $1 }'
}
listing() { find "$@" -type f -readable -printf '%s %p\n' 2>/dev/null | LC_ALL=C sort -k2; }

if [ ! -s "$out/tree.zip" ]; then
  rm -rf "$out/tree" && mkdir -p "$out/tree"
  {
    listing /usr/share/doc /usr/share/perl /usr/share/zoneinfo /usr/share/i18n | pick 60000000
    listing /usr/share/locale | pick 40000000
    listing /usr/lib/x86_64-linux-gnu | pick 140000000
  } >"$out/files.txt"
  tar -cf - -T "$out/files.txt" 2>/dev/null | tar -xf - -C "$out/tree"
  (cd "$out/tree" && zip -q -r -X -D ../tree.zip .)
  rm -rf "$out/tree"
fi
