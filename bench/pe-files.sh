# bench/pe-files.sh -- sourced by the benchmarks of compression on Windows
# programs: makes $out/files once, the PE files of wine's Windows side (about
# 180 MB), in name order up to the budget, in two folders by architecture.
if [ ! -d "$out/files" ]; then
  mkdir -p "$out/files.tmp"
  find /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/x86_64-linux-gnu/wine/i386-windows \
    -maxdepth 1 -type f -printf '%s %p\n' 2>/dev/null | LC_ALL=C sort -k2 |
    awk -v budget=180000000 'total < budget { print substr($0, index($0, " ") + 1); total += $1 }' |
    while IFS= read -r f; do
      d="$out/files.tmp/$(basename "$(dirname "$f")")"
      mkdir -p "$d" && cp "$f" "$d/"
    done
  mv "$out/files.tmp" "$out/files"
fi
