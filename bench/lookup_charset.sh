#!/bin/bash
# Exact lookups in a database in the device's character set, from one run:
# the million-entry dictionary of bench/lookup.sh with an accented letter in
# most keys (every first "e" made "é"), packed once in UTF-8 and once
# converted to CP1252, then RUNS one-shot lookups of present keys typed in
# UTF-8 on each, in turn with the floor (zelkdump --version). On the CP1252
# database the set is found from the database and every key is converted
# into it before the search, and the entry back to UTF-8.
# Target: exact one-shot on the CP1252 database within 2 ms of the floor.
#
#   bench/lookup_charset.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
runs=${2:-30}
work=$(mktemp -d "${TMPDIR:-/dev/shm}/zelk-charset.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
zelkdump=$build/src/zelkdump
"$build/bench/gen_dict" random 1000000 | sed 's/e/é/' > utf8.txt
iconv -f UTF-8 -t CP1252 utf8.txt > cp1252.txt
"$build/src/zelkpack" -l -o utf8.pdb utf8.txt > /dev/null 2>&1
"$build/src/zelkpack" -l -o cp1252.pdb cp1252.txt > /dev/null 2>&1
awk -F'\t' 'NF > 1 && index($1, " /// ") == 0 {print $1}' utf8.txt |
  shuf -n 10000 --random-source=utf8.txt > keys
echo "dictionary: $(wc -l < utf8.txt) entries, $(grep -c 'é' keys) of 10,000 sample keys" \
     "accented; the CP1252 database's set as info says: " \
     "$("$zelkdump" info cp1252.pdb | sed -n 's/^charset: *//p')"
"$build/bench/repeat" "$runs" keys "$zelkdump" --version :: "$zelkdump" lookup utf8.pdb {} :: \
  "$zelkdump" lookup cp1252.pdb {} > times
read -r floor _ <<< "$(sed -n 1p times)"
read -r utf8 utf8_kb <<< "$(sed -n 2p times)"
read -r cp cp_kb <<< "$(sed -n 3p times)"
key=$(sed -n 1p keys)
[ "$("$zelkdump" lookup cp1252.pdb "$key")" = "$("$zelkdump" lookup utf8.pdb "$key")" ] &&
  same=yes || same=no
awk -v f="$floor" -v u="$utf8" -v c="$cp" -v uk="$utf8_kb" -v ck="$cp_kb" -v same="$same" 'BEGIN {
  printf "median one-shot wall time, peak memory (%s):\n", "one run"
  printf "  zelkdump --version (floor)       %6.2f ms\n", f
  printf "  lookup, UTF-8 database           %6.2f ms  %5.1f MB\n", u, uk / 1024
  printf "  lookup, CP1252 database          %6.2f ms  %5.1f MB\n", c, ck / 1024
  printf "the same entry from both, in UTF-8: %s\n", same
  printf "CP1252 one-shot - floor = %.2f ms (target 2): %s\n", c - f, (c - f <= 2) ? "met" : "missed"
}'
