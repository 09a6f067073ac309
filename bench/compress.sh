#!/bin/bash
# The compressing run's benchmark, from one run, on a generated realistic
# dictionary (LINES entries, 4096-byte chunks, on tmpfs):
#   size  our records against zlib at level 9, what a user would reach for;
#   P     zelkpack -p: the whole run without compression (the floor);
#   C     the codec alone compressing every chunk on one thread;
#   F     zelkpack as users run it: compressed built in, on every core;
#   S     the same run starting ./zelkpress once per chunk (ZELKPACK_SPAWN=1).
# P, C and F are medians of ROUNDS interleaved rounds; S runs once (about a
# minute). Targets: F <= 1.2 (P + C / cores) and S / F >= 15.
#
#   bench/compress.sh [BUILD_DIR] [LINES] [ROUNDS]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
lines=${2:-200000}
rounds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/dev/shm}/zelk-compress.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench/gen_dict" realistic "$lines" > dict.txt
cores=$(nproc)

"$build/src/zelkpack" -l -p dict.txt > /dev/null 2>&1
chunks=$(ls out/dic*.txt | wc -l)
echo "dictionary: $lines entries, $(stat -c %s dict.txt) bytes, $chunks chunks; $cores cores"
"$build/bench/ratio" out/dic*.txt | tail -3

timed() { /usr/bin/time -f "%e %M" -o t "$@" > /dev/null 2>&1; cat t; }
for ((i = 0; i < rounds; i++)); do
  timed "$build/src/zelkpack" -l -p dict.txt >> p.times
  "$build/bench/codec_time" out/dic*.txt 2> /dev/null >> c.times
  timed "$build/src/zelkpack" -l dict.txt >> f.times
done
cp "$build/src/zelkpress" .
ZELKPACK_SPAWN=1 /usr/bin/time -f "%e %M" -o t "$build/src/zelkpack" -l dict.txt > /dev/null 2>&1
cat t > s.times

median() { sort -n "$1" | awk '{v[NR] = $1; if ($2 > m) m = $2} END {printf "%.2f %d", v[int((NR + 1) / 2)], m / 1024}'; }
read -r p pm <<< "$(median p.times)"
read -r c _ <<< "$(median c.times)"
read -r f fm <<< "$(median f.times)"
read -r s sm <<< "$(cat s.times)"
awk -v p="$p" -v c="$c" -v f="$f" -v s="$s" -v pm="$pm" -v fm="$fm" -v sm="$((sm / 1024))" \
    -v n="$cores" -v r="$rounds" 'BEGIN {
  bound = 1.2 * (p + c / n)
  printf "medians of %d rounds (S: one run); wall time, peak memory:\n", r
  printf "  P  zelkpack -p, no compression          %6.2f s  %4d MB\n", p, pm
  printf "  C  the codec alone, one thread           %6.2f s\n", c
  printf "  F  zelkpack, built in on %d threads       %6.2f s  %4d MB\n", n, f, fm
  printf "  S  zelkpack running ./zelkpress a chunk  %6.2f s  %4d MB\n", s, sm
  printf "F / (P + C / %d) = %.2f (target 1.2): %s\n", n, f / (p + c / n), (f <= bound) ? "met" : "missed"
  printf "S / F = %.1f (target 15): %s\n", s / f, (s / f >= 15) ? "met" : "missed"
}'
