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
#     G      PyGlossary, FILE to its tab format (python3-lxml reads XDXF);
#   the DSL file is read as it comes: its peak memory against what it writes;
#   one definition of 15 MB and one of 30 MB (a tab file of one line each):
#     Z      zelkimport FILE -o out.txt, the 30 MB one against the 15 MB one.
# Wall time and peak memory of one run each. Targets: Z <= 3 floor for the
# Wiktionary file, its peak memory under 4 times what it writes, G >= 10 Z
# for DSL and XDXF, and the 30 MB definition at most 2.2 times the time and
# memory of the 15 MB one (time and memory in proportion to the input).
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
  out=$(stat -c %s "z.$ext.txt")
  awk -v f="$f" -v fm="$fm" -v z="$z" -v zm="$zm" -v g="$g" -v gm="$gm" -v out="$out" 'BEGIN {
    printf "  floor  cat                     %7.2f s  %6d MB\n", f, fm / 1024
    printf "  Z      zelkimport -o out.txt   %7.2f s  %6d MB  (writes %d MB)\n", z, zm / 1024, out / 1048576
    printf "  G      PyGlossary to tab       %7.2f s  %6d MB\n", g, gm / 1024
    printf "  G / Z = %.1f (target 10): %s\n", g / z, (g >= 10 * z) ? "met" : "missed"
    printf "  Z peak memory / output = %.2f\n", zm * 1024 / out
  }'
done

# One long definition: 15 MB, then 30 MB.
for mb in 15 30; do
  python3 -c "import random, sys
r = random.Random($mb); n = $mb << 20; words = []; size = 0
while size < n:
    w = r.choice(['alpha', 'beta.', 'gamma', 'delta', 'eps\u0301ilon', '{zeta}']); words.append(w); size += len(w) + 1
sys.stdout.write('key\t' + ' '.join(words) + '\n')" > "long$mb.tab"
done
read -r a am <<< "$(timed "$build/src/zelkimport" long15.tab -o long15.txt)"
read -r b bm <<< "$(timed "$build/src/zelkimport" long30.tab -o long30.txt)"
awk -v a="$a" -v am="$am" -v b="$b" -v bm="$bm" 'BEGIN {
  printf "One definition of 15 MB, then of 30 MB (tab):\n"
  printf "  Z      15 MB                   %7.2f s  %6d MB\n", a, am / 1024
  printf "  Z      30 MB                   %7.2f s  %6d MB\n", b, bm / 1024
  printf "  30 MB / 15 MB: time %.2f, memory %.2f (target 2.2): %s\n", b / a, bm / am,
         (b <= 2.2 * a && bm <= 2.2 * am) ? "met" : "missed"
}'
