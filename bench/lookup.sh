#!/bin/bash
# zelkdump's searches on a generated dictionary of a million entries
# (119 MB of text, packed compressed), from one run, side by side with the
# floor (zelkdump --version: starting the program) and with grep over the
# text file, what a user would reach for otherwise:
#   one-shot  median wall time of RUNS process runs, each for a random
#             present key, and the largest peak memory;
#   batch     one process for 10,000 keys.
# exact takes the keys, prefix their first four bytes, nocase the keys in
# capitals (every key folded: a scan of the whole dictionary), lev the keys
# with one letter changed (also a scan).
# Targets: one-shot exact within 2 ms of the floor, peak memory under 16 MB,
# a scan of the whole dictionary under 1 s.
# Then the same one-shot exact lookup in GCIDE and WordNet (Debian's
# dict-gcide and dict-wn, imported with zelkimport at the default -k), when
# they are installed, beside the floor and, when ZELKDUMP_BEFORE names the
# zelkdump of the last release, beside that one too.
#
#   bench/lookup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
runs=${2:-30}
work=$(mktemp -d "${TMPDIR:-/dev/shm}/zelk-lookup.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
zelkdump=$build/src/zelkdump
repeat=$build/bench/repeat
"$build/bench/gen_dict" random 1000000 > dict.txt
"$build/src/zelkpack" -l -o dict.pdb dict.txt > /dev/null 2>&1
# 10,000 present keys of tab-separated lines; the other key sets from them.
awk -F'\t' 'NF > 1 && index($1, " /// ") == 0 {print $1}' dict.txt | shuf -n 10000 --random-source=dict.txt > exact.keys
cut -c1-4 exact.keys > prefix.keys
tr a-z A-Z < exact.keys > nocase.keys
sed 's/^\(.\)./\1q/' exact.keys > lev.keys
echo "dictionary: $(stat -c %s dict.txt) bytes of text, $(wc -l < dict.txt) entries;" \
     "database $(stat -c %s dict.pdb) bytes, $("$zelkdump" info dict.pdb | sed -n 's/^chunks: *//p') chunks"

timed() { /usr/bin/time -f "%e %M" -o t "$@" > /dev/null 2>&1 || true; cat t; }
mb() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
# The floor and the one-shot exact lookup are run in turn, RUNS rounds.
"$repeat" "$runs" exact.keys "$zelkdump" --version :: "$zelkdump" lookup dict.pdb {} > oneshot
read -r floor floor_kb <<< "$(sed -n 1p oneshot)"
printf '| search | one-shot | peak memory | batch of 10,000 | grep one-shot | grep batch |\n'
printf '|---|---|---|---|---|---|\n'
printf '| zelkdump --version (floor) | %.2f ms | %s MB | | | |\n' "$floor" "$(mb "$floor_kb")"
for strategy in exact prefix nocase lev; do
  if [ $strategy = exact ]; then
    read -r one kb <<< "$(sed -n 2p oneshot)"
  else
    read -r one kb <<< "$("$repeat" "$runs" $strategy.keys "$zelkdump" lookup -s $strategy dict.pdb {})"
  fi
  batch="" grep_one="" grep_batch=""
  if [ $strategy != lev ]; then
    read -r batch _ <<< "$(timed "$zelkdump" lookup -s $strategy dict.pdb $(cat $strategy.keys))"
    batch="$batch s"
    case $strategy in
      exact) sed 's/^/^/; s/$/\t/' exact.keys > grep.patterns; flags=() ;;
      prefix) sed 's/^/^/' prefix.keys > grep.patterns; flags=() ;;
      nocase) sed 's/^/^/; s/$/\t/' nocase.keys > grep.patterns; flags=(-i) ;;
    esac
    read -r g _ <<< "$("$repeat" "$runs" grep.patterns /usr/bin/env LC_ALL=C grep "${flags[@]}" -e {} dict.txt)"
    grep_one="$g ms"
    read -r g _ <<< "$(timed env LC_ALL=C grep "${flags[@]}" -f grep.patterns dict.txt)"
    grep_batch="$g s"
  fi
  printf '| %s | %.2f ms | %s MB | %s | %s | %s |\n' $strategy "$one" "$(mb "$kb")" \
         "$batch" "$grep_one" "$grep_batch"
  eval "one_$strategy=$one kb_$strategy=$kb"
done
awk -v f="$floor" -v e="$one_exact" -v n="$one_nocase" -v l="$one_lev" \
    -v m="$(printf '%s\n' "$kb_exact" "$kb_prefix" "$kb_nocase" "$kb_lev" | sort -n | tail -1)" 'BEGIN {
  printf "exact one-shot - floor = %.2f ms (target 2): %s\n", e - f, (e - f <= 2) ? "met" : "missed"
  printf "largest peak memory %.1f MB (target 16): %s\n", m / 1024, (m < 16 * 1024) ? "met" : "missed"
  s = (n > l) ? n : l
  printf "slowest scan of the whole dictionary %.0f ms (target 1000): %s\n", s, (s < 1000) ? "met" : "missed"
}'

# Real dictionaries: every key at random, one process a lookup.
for name in gcide wn; do
  [ -r "/usr/share/dictd/$name.index" ] || { echo "$name: not installed (apt-get install dict-$name)"; continue; }
  "$build/src/zelkimport" "/usr/share/dictd/$name.index" -o "$name.pdb" 2> /dev/null
  "$zelkdump" keys "$name.pdb" | shuf -n 2000 --random-source="$name.pdb" > "$name.keys"
  commands=("$zelkdump" --version :: "$zelkdump" lookup "$name.pdb" {})
  [ -n "${ZELKDUMP_BEFORE:-}" ] && commands+=(:: "$ZELKDUMP_BEFORE" lookup "$name.pdb" {})
  "$repeat" "$runs" "$name.keys" "${commands[@]}" > "$name.oneshot"
  index=$("$zelkdump" info "$name.pdb" | sed -n 's/^index record: *//p')
  awk -v name="$name" -v index_size="$index" -v before="${ZELKDUMP_BEFORE:-}" '
    NR == 1 {f = $1} NR == 2 {e = $1; m = $2} NR == 3 {b = $1}
    END {
      printf "%s (index record %s): --version %.2f ms, lookup %.2f ms, %.1f MB: lookup - floor = %.2f ms (target 2): %s\n",
             name, index_size, f, e, m / 1024, e - f, (e - f <= 2 && m < 16 * 1024) ? "met" : "missed"
      if (before != "") printf "  the last release: lookup %.2f ms, - floor = %.2f ms\n", b, b - f
    }' "$name.oneshot"
done
