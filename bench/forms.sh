#!/bin/bash
# Forms generated from a Hunspell dictionary, from one run, for Debian's
# FreeDict deu-eng with de_DE (at -k 8192: its copies need more than 65534
# chunks at 4096) and WordNet with en_US (dict-freedict-deu-eng, dict-wn,
# hunspell-de-de, hunspell-en-us):
#   N  zelkimport DICT -o none.pdb: the import without forms (the floor);
#   P  the same with --forms hunspell:LANG: forms as pointers at headwords;
#   C  the same with --form-entries copy: forms repeating the definitions.
# Medians of ROUNDS interleaved rounds; wall time, peak memory, the forms the
# summary counts, and the three databases' sizes. Target: P <= 1.5 N.
#
#   bench/forms.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=$("$(dirname "$0")/build.sh" "${1:-build/release}")
rounds=${2:-3}
work=$(mktemp -d "${TMPDIR:-/var/tmp}/zelk-forms.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

timed() { /usr/bin/time -f "%e %M" -o t "$@" > /dev/null 2> said || tail -1 said >&2; cat t; }
median() { sort -n "$1" | awk '{v[NR] = $1; if ($2 > m) m = $2} END {printf "%.2f %d", v[int((NR + 1) / 2)], m / 1024}'; }

for pair in freedict-deu-eng:de_DE:8192 wn:en_US:4096; do
  IFS=: read -r name lang k <<< "$pair"
  dict=/usr/share/dictd/$name.index
  if [ ! -f "$dict" ] || [ ! -f "/usr/share/hunspell/$lang.dic" ]; then
    echo "$name: skipped (install dict-$name and hunspell's $lang dictionary)"
    continue
  fi
  rm -f ./*.times
  for ((i = 0; i < rounds; i++)); do
    timed "$build/src/zelkimport" "$dict" -k "$k" -o none.pdb >> n.times
    timed "$build/src/zelkimport" "$dict" -k "$k" --forms "hunspell:$lang" -o ptr.pdb >> p.times
    forms=$(grep -E '^  forms +[0-9]' said | sed 's/^  forms *//')
    found=$(grep -E '^  looked up ' said | sed 's/^  looked up *//')
    timed "$build/src/zelkimport" "$dict" -k "$k" --forms "hunspell:$lang" --form-entries copy \
      -o copy.pdb >> c.times
  done
  read -r n nm <<< "$(median n.times)"
  read -r p pm <<< "$(median p.times)"
  read -r c cm <<< "$(median c.times)"
  echo "$name -k $k with hunspell:$lang: forms $forms; looked up: $found"
  awk -v n="$n" -v p="$p" -v c="$c" -v nm="$nm" -v pm="$pm" -v cm="$cm" -v r="$rounds" \
      -v ns="$(stat -c %s none.pdb)" -v ps="$(stat -c %s ptr.pdb)" -v cs="$(stat -c %s copy.pdb)" 'BEGIN {
    printf "  medians of %d rounds; wall time, peak memory, database size:\n", r
    printf "  N  without forms       %7.2f s  %5d MB  %10d bytes\n", n, nm, ns
    printf "  P  forms as pointers   %7.2f s  %5d MB  %10d bytes (+%.1f %%)\n", p, pm, ps, 100 * (ps - ns) / ns
    printf "  C  forms as copies     %7.2f s  %5d MB  %10d bytes (+%.1f %%)\n", c, cm, cs, 100 * (cs - ns) / ns
    printf "  P / N = %.2f (target 1.5): %s\n", p / n, (p <= 1.5 * n) ? "met" : "missed"
  }'
done
