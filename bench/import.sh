#!/bin/bash
# zelkimport's benchmark, from one run: a dictd dictionary generated with
# dictfmt and compressed with dictzip (LINES realistic entries, definitions
# over several lines, a headword's homographs numbered "bank 2", "bank 3";
# about 110 MB of definitions at the default), then
#   zcat  zcat NAME.dict.dz > copy: expanding the data alone (the floor);
#   Z     zelkimport NAME.index -o out.txt, from NAME.dict.dz;
#   Zp    the same from the uncompressed NAME.dict;
#   G     PyGlossary, dictd to its tab format, from the uncompressed NAME.dict.
# PyGlossary reads NAME.dict.dz through Python's gzip module with a seek per
# entry, each seek backwards starting the expansion over: on .dict.dz it does
# not finish in reasonable time (3 MB of definitions take over a minute), so
# it is given the uncompressed data, its fastest case.
# zcat, Z and Zp are medians of ROUNDS interleaved rounds; G runs once.
# Targets: Z <= 2 zcat and G / Z >= 10.
# Then WordNet (Debian's dict-wn), when it is installed: zcat of its
# wn.dict.dz, Z from wn.index to text, G from an uncompressed copy, as above.
# Targets: Z <= 1.5 zcat and G / Z >= 10.
#
#   bench/import.sh [BUILD_DIR] [LINES] [ROUNDS]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
lines=${2:-700000}
rounds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/dev/shm}/zelk-import.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench/gen_dict" realistic "$lines" |
  awk -F'\t' '{ v = $2; gsub(/; /, ";\n  ", v); k = $1; if (n[k]++) k = k " " n[k]
                printf ":%s:%s\n", k, v }' |
  dictfmt -j --utf8 --allchars --without-headword --columns 0 -s Bench --quiet big
cp big.dict plain.dict
cp big.index plain.index
dictzip big.dict
echo "dictionary: $lines entries; big.dict $(stat -c %s plain.dict) bytes," \
     "big.dict.dz $(stat -c %s big.dict.dz) bytes, big.index $(stat -c %s big.index) bytes"

timed() { /usr/bin/time -f "%e %M" -o t "$@" > /dev/null 2>&1; cat t; }
for ((i = 0; i < rounds; i++)); do
  /usr/bin/time -f "%e %M" -o t sh -c 'zcat big.dict.dz > copy'
  cat t >> zcat.times
  timed "$build/src/zelkimport" big.index -o z.txt >> z.times
  timed "$build/src/zelkimport" plain.index -o zp.txt >> zp.times
done
cmp -s z.txt zp.txt || { echo "zelkimport: .dict and .dict.dz gave different output"; exit 1; }
timed pyglossary plain.index g.txt --read-format=DictOrg --write-format=Tabfile \
  --no-progress-bar > g.times
echo "entries written: zelkimport $(wc -l < z.txt); PyGlossary $(($(wc -l < g.txt) - 1))"

median() { sort -n "$1" | awk '{v[NR] = $1; if ($2 > m) m = $2} END {printf "%.2f %d", v[int((NR + 1) / 2)], m / 1024}'; }
read -r zc zcm <<< "$(median zcat.times)"
read -r z zm <<< "$(median z.times)"
read -r zp zpm <<< "$(median zp.times)"
read -r g gm <<< "$(median g.times)"
awk -v zc="$zc" -v z="$z" -v zp="$zp" -v g="$g" -v zcm="$zcm" -v zm="$zm" -v zpm="$zpm" \
    -v gm="$gm" -v r="$rounds" 'BEGIN {
  printf "medians of %d rounds (G: one run); wall time, peak memory:\n", r
  printf "  zcat  expanding big.dict.dz alone         %7.2f s  %5d MB\n", zc, zcm
  printf "  Z     zelkimport, from big.dict.dz         %7.2f s  %5d MB\n", z, zm
  printf "  Zp    zelkimport, from the plain .dict     %7.2f s  %5d MB\n", zp, zpm
  printf "  G     PyGlossary, from the plain .dict     %7.2f s  %5d MB\n", g, gm
  printf "Z / zcat = %.2f (target 2): %s\n", z / zc, (z <= 2 * zc) ? "met" : "missed"
  printf "G / Z = %.1f (target 10): %s\n", g / z, (g >= 10 * z) ? "met" : "missed"
}'

# WordNet, as Debian ships it.
if [ -r /usr/share/dictd/wn.index ]; then
  zcat /usr/share/dictd/wn.dict.dz > wn.dict
  cp /usr/share/dictd/wn.index wn.index
  rm -f wn.zcat wn.z
  for ((i = 0; i < rounds; i++)); do
    /usr/bin/time -f "%e %M" -o t sh -c 'zcat /usr/share/dictd/wn.dict.dz > copy'
    cat t >> wn.zcat
    timed "$build/src/zelkimport" /usr/share/dictd/wn.index -o wn.txt >> wn.z
  done
  timed pyglossary wn.index wn.g.txt --read-format=DictOrg --write-format=Tabfile \
    --no-progress-bar > wn.g
  read -r zc zcm <<< "$(median wn.zcat)"
  read -r z zm <<< "$(median wn.z)"
  read -r g gm <<< "$(median wn.g)"
  awk -v zc="$zc" -v z="$z" -v g="$g" -v zcm="$zcm" -v zm="$zm" -v gm="$gm" 'BEGIN {
    printf "WordNet (/usr/share/dictd/wn.*):\n"
    printf "  zcat  expanding wn.dict.dz alone          %7.2f s  %5d MB\n", zc, zcm
    printf "  Z     zelkimport wn.index -o wn.txt       %7.2f s  %5d MB\n", z, zm
    printf "  G     PyGlossary, from the plain .dict     %7.2f s  %5d MB\n", g, gm
    printf "Z / zcat = %.2f (target 1.5): %s\n", z / zc, (z <= 1.5 * zc) ? "met" : "missed"
    printf "G / Z = %.1f (target 10): %s\n", g / z, (g >= 10 * z) ? "met" : "missed"
  }'
else
  echo "WordNet: not installed (apt-get install dict-wn)"
fi
