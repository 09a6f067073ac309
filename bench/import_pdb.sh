#!/bin/bash
# The one command against the two steps, from one run on a disk (not tmpfs):
# a GCIDE-sized dictd dictionary (LINES realistic entries made by gen_dict,
# through dictfmt and dictzip, about 40 MB of definitions at the default), then
#   one    zelkimport NAME.index -o X.pdb;
#   two    zelkimport NAME.index -o X.txt, then zelkpack -l X.txt (what a user
#          would run instead);
# and the floors of the one command:
#   text   zelkimport NAME.index -o X.txt alone (reading and cleaning);
#   plain  zelkpack -p -l X.txt (sorting, chunking, writing; no compression);
#   codec  the codec alone over the chunks, on one thread, divided by the cores.
# Targets: one <= 0.9 two; one <= 1.1 (text + plain + codec); the one
# command's peak memory <= 2.5 x the text's size.
#
#   bench/import_pdb.sh [BUILD_DIR] [LINES] [WORK_PARENT]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
lines=${2:-250000}
parent=${3:-/var/tmp}
work=$(mktemp -d "$parent/zelk-import-pdb.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "work folder: $work ($(df --output=fstype "$work" | tail -1))"
"$build/bench/gen_dict" realistic "$lines" |
  awk -F'\t' '{ v = $2; gsub(/; /, ";\n  ", v); printf ":%s:%s\n", $1, v }' |
  dictfmt -j --utf8 --allchars --without-headword --columns 0 -s Bench --quiet big
dictzip big.dict
sync

timed() { local out=$1; shift; /usr/bin/time -f "%e %M" -o "$out" "$@" > /dev/null 2>&1; }
timed one.t "$build/src/zelkimport" big.index -o one.pdb
timed text.t "$build/src/zelkimport" big.index -o x.txt
mkdir pack plain
timed pack.t sh -c "cd pack && '$build/src/zelkpack' -n Bench -l ../x.txt"
timed plain.t sh -c "cd plain && '$build/src/zelkpack' -p -l ../x.txt"
(cd plain && ls out | grep -c '\.txt$' > ../chunks && find out -name 'dic*.txt' | sort |
  xargs "$build/bench/codec_time" 2> /dev/null | awk '{ s += $1 } END { print s }' > ../codec.s)
cmp one.pdb pack/zelk.pdb > /dev/null && same=yes || same=no
text_size=$(stat -c %s x.txt)
echo "dictionary: $lines entries, big.dict.dz $(stat -c %s big.dict.dz) bytes; text" \
     "$text_size bytes, $(cat chunks) chunks; the one command's database is the two" \
     "steps' byte for byte: $same"
read -r one one_m < one.t
read -r text text_m < text.t
read -r pack pack_m < pack.t
read -r plain plain_m < plain.t
codec=$(cat codec.s)
awk -v one="$one" -v one_m="$one_m" -v text="$text" -v text_m="$text_m" -v pack="$pack" \
    -v pack_m="$pack_m" -v plain="$plain" -v plain_m="$plain_m" -v codec="$codec" \
    -v cores="$(nproc)" -v size="$text_size" 'BEGIN {
  two = text + pack; floor = text + plain + codec / cores
  printf "wall time, peak memory (one run):\n"
  printf "  one    zelkimport -o X.pdb                 %7.2f s  %5d MB\n", one, one_m / 1024
  printf "  two    zelkimport -o X.txt + zelkpack -l   %7.2f s  %5d MB (the larger)\n", two,
         (text_m > pack_m ? text_m : pack_m) / 1024
  printf "  text   zelkimport -o X.txt               %7.2f s  %5d MB\n", text, text_m / 1024
  printf "  plain  zelkpack -p -l X.txt              %7.2f s  %5d MB\n", plain, plain_m / 1024
  printf "  codec  one thread %.2f s / %d cores       %7.2f s\n", codec, cores, codec / cores
  printf "one / two = %.2f (target 0.9): %s\n", one / two, one <= 0.9 * two ? "met" : "missed"
  printf "one / floors = %.2f (target 1.1): %s\n", one / floor, one <= 1.1 * floor ? "met" : "missed"
  printf "peak memory / text = %.2f (target 2.5): %s\n", one_m * 1024 / size,
         one_m * 1024 <= 2.5 * size ? "met" : "missed"
}'
