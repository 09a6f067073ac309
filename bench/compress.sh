#!/bin/bash
# The compressor's benchmark, from one run:
#  - compressed size of a generated realistic dictionary (4096-byte chunks)
#    with zelkpress against zlib level 9;
#  - wall time per chunk of a compressing zelkpack run against the floor:
#    the same run with -p plus the cost of system("./noop in out") per chunk,
#    noop being a static program that does nothing.
#
# The three timings are interleaved over ROUNDS rounds; medians are shown.
#
#   bench/compress.sh [BUILD_DIR] [LINES] [ROUNDS]
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
lines=${2:-100000}
rounds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/dev/shm}/zelk-compress.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench/gen_dict" realistic "$lines" > dict.txt
cp "$build/src/zelkpress" "$build/bench/noop" .

"$build/src/zelkpack" -p dict.txt > /dev/null 2>&1
chunks=$(ls out/dic*.txt | wc -l)
echo "dictionary: $lines entries, $(stat -c %s dict.txt) bytes, $chunks chunks"
"$build/bench/ratio" out/dic*.txt | tail -3

seconds() { /usr/bin/time -f %e -o t "$@" > /dev/null 2>&1; cat t; }
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
for ((i = 0; i < rounds; i++)); do
  seconds "$build/src/zelkpack" -p dict.txt >> plain.times
  "$build/bench/spawn_floor" "$chunks" >> spawn.times
  seconds "$build/src/zelkpack" dict.txt >> packed.times
done
plain=$(median < plain.times) spawn=$(median < spawn.times) packed=$(median < packed.times)
awk -v p="$plain" -v s="$spawn" -v z="$packed" -v n="$chunks" -v r="$rounds" 'BEGIN {
  floor = p * 1000 / n + s; per = z * 1000 / n
  printf "medians of %d rounds, per chunk:\n", r
  printf "  zelkpack -p %.3f ms + system(./noop) %.3f ms = floor %.3f ms\n", p * 1000 / n, s, floor
  printf "  zelkpack with zelkpress %.3f ms: %.2f times the floor\n", per, per / floor
}'
