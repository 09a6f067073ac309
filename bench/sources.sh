#!/bin/bash
# zelkimport's newer sources, from one run (bench/gen_sources.py makes the
# dictionaries: the same kind of words in each format):
#   a Wiktionary extract of WIKT_BYTES (1 GB by default) as JSON lines,
#   gzip-compressed as they are published:
#     floor  zcat words.jsonl.gz > /dev/null: reading and expanding it alone;
#     Z      zelkimport words.jsonl.gz -o out.txt;
#   a DSL and an XDXF dictionary of SMALL_BYTES (50 MB) each:
#     floor  cat FILE > /dev/null;
#     Z      zelkimport FILE -o out.txt;
#     G      PyGlossary, FILE to its tab format (python3-lxml reads XDXF).
# Wall time and peak memory of one run each. Targets: Z <= 3 floor for the
# Wiktionary file, its peak memory under 4 times what it writes, and
# G >= 10 Z for DSL and XDXF.
#
#   bench/sources.sh [BUILD_DIR] [WIKT_BYTES] [SMALL_BYTES]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
wikt=${2:-1000000000}
small=${3:-50000000}
gen="$(cd "$(dirname "$0")" && pwd)/gen_sources.py"
work=$(mktemp -d "${TMPDIR:-/var/tmp}/zelk-sources.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

timed() { /usr/bin/time -f "%e %M" -o t "$@" > /dev/null 2>&1 || true; cat t; }
python3 "$gen" jsonl "$wikt" | gzip -1 > words.jsonl.gz
python3 "$gen" dsl "$small" > words.dsl
python3 "$gen" xdxf "$small" > words.xdxf
echo "words.jsonl.gz: $(stat -c %s words.jsonl.gz) bytes ($wikt expanded);" \
     "words.dsl $(stat -c %s words.dsl) bytes; words.xdxf $(stat -c %s words.xdxf) bytes"

read -r f fm <<< "$(timed sh -c 'zcat words.jsonl.gz > /dev/null')"
read -r z zm <<< "$(timed "$build/src/zelkimport" words.jsonl.gz -o out.txt)"
out=$(stat -c %s out.txt)
awk -v f="$f" -v fm="$fm" -v z="$z" -v zm="$zm" -v out="$out" 'BEGIN {
  printf "Wiktionary, JSON lines, gzip (wall time, peak memory):\n"
  printf "  floor  zcat                    %7.2f s  %6d MB\n", f, fm / 1024
  printf "  Z      zelkimport -o out.txt   %7.2f s  %6d MB  (writes %d MB)\n", z, zm / 1024, out / 1048576
  printf "  Z / floor = %.2f (target 3): %s\n", z / f, (z <= 3 * f) ? "met" : "missed"
  printf "  peak memory / output = %.2f (target 4): %s\n", zm * 1024 / out, (zm * 1024 < 4 * out) ? "met" : "missed"
}'

for format in dsl:ABBYYLingvoDSL xdxf:Xdxf; do
  ext=${format%%:*} reader=${format##*:}
  read -r f fm <<< "$(timed cat "words.$ext")"
  read -r z zm <<< "$(timed "$build/src/zelkimport" "words.$ext" -o "z.$ext.txt")"
  read -r g gm <<< "$(timed pyglossary "words.$ext" "g.$ext.txt" --read-format="$reader" \
                     --write-format=Tabfile --no-progress-bar)"
  echo "$ext: zelkimport wrote $(wc -l < "z.$ext.txt") lines, PyGlossary $(wc -l < "g.$ext.txt")"
  awk -v f="$f" -v fm="$fm" -v z="$z" -v zm="$zm" -v g="$g" -v gm="$gm" -v ext="$ext" 'BEGIN {
    printf "  floor  cat                     %7.2f s  %6d MB\n", f, fm / 1024
    printf "  Z      zelkimport -o out.txt   %7.2f s  %6d MB\n", z, zm / 1024
    printf "  G      PyGlossary to tab       %7.2f s  %6d MB\n", g, gm / 1024
    printf "  G / Z = %.1f (target 10): %s\n", g / z, (g >= 10 * z) ? "met" : "missed"
  }'
done
