#!/bin/bash
# Times zelkpack -p -l against the floor (reading the input once and writing
# the sorted copy, the chunks and the database without sorting) and against
# GNU sort, on generated dictionaries of each shape. Runs of the programs
# are interleaved and the median of each is shown, with the largest peak
# memory.
#
#   bench/run.sh [BUILD_DIR] [RUNS]
#
# Set PLAIN=1 to time the straightforward rendering of the sort too (slow:
# about ten seconds on a million random lines; quadratic on alternating input,
# so it is run there on 131072 lines only).
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
runs=${2:-9}
work=$(mktemp -d "${TMPDIR:-/dev/shm}/zelk-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# median_of FILE: median wall time and largest peak memory of "secs kb" lines
median_of() {
  sort -n "$1" | awk '{t[NR] = $1; if ($2 > m) m = $2} END {printf "%.2f s %4.0f MB", t[int((NR + 1) / 2)], m / 1024}'
}

measure() {  # measure NAME INPUT: fills $work/NAME.times with one line a run
  local name=$1 input=$2
  case $name in
    zelkpack) /usr/bin/time -f "%e %M" -o t "$build/src/zelkpack" -p -l "$input" >/dev/null 2>&1 ;;
    floor) /usr/bin/time -f "%e %M" -o t "$build/bench/bench_floor" "$input" >/dev/null 2>&1 ;;
    sort) LC_ALL=C /usr/bin/time -f "%e %M" -o t sort -s -t"$(printf '\t')" -k1,1 "$input" >/dev/null 2>&1 ;;
    plain) /usr/bin/time -f "%e %M" -o t "$build/bench/plain_pack" "$input" >/dev/null 2>&1 ;;
  esac
  cat t >> "$name.times"
}

printf '| input | lines | MB | zelkpack -p -l | floor | ratio | sort -s | %s\n' "${PLAIN:+straightforward |}"
printf '|---|---|---|---|---|---|---|%s\n' "${PLAIN:+---|}"
for case in random:1000000 sorted:1000000 repeated:1000000 alternating:1048576 alternating:131072; do
  shape=${case%%:*} lines=${case##*:}
  "$build/bench/gen_dict" "$shape" "$lines" > in.txt
  rm -f ./*.times
  programs="zelkpack floor sort"
  for ((i = 0; i < runs; i++)); do
    for p in $programs; do measure "$p" in.txt; done
  done
  if [ -n "${PLAIN:-}" ] && { [ "$shape" != alternating ] || [ "$lines" -le 131072 ]; }; then
    measure plain in.txt
  fi
  z=$(sort -n zelkpack.times | awk '{t[NR] = $1} END {print t[int((NR + 1) / 2)]}')
  f=$(sort -n floor.times | awk '{t[NR] = $1} END {print t[int((NR + 1) / 2)]}')
  printf '| %s | %d | %.0f | %s | %s | %.2f | %s |' "$shape" "$lines" \
    "$(awk -v b="$(stat -c %s in.txt)" 'BEGIN {print b / 1048576}')" "$(median_of zelkpack.times)" \
    "$(median_of floor.times)" "$(awk -v z="$z" -v f="$f" 'BEGIN {print z / f}')" "$(median_of sort.times)"
  if [ -n "${PLAIN:-}" ]; then
    if [ -f plain.times ]; then printf ' %s |' "$(median_of plain.times)"; else printf ' (quadratic) |'; fi
  fi
  printf '\n'
done
