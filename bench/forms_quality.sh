#!/bin/bash
# How right the forms zelkimport makes from a Hunspell dictionary are, per
# language, against references that owe nothing to Hunspell:
#   en  WordNet (dict-wn) with en_US, judged by WordNet's own morphology
#       (wordnet-base: its exception lists and detachment rules);
#   fr, es, it, de  FreeDict's fra-eng, spa-eng, ita-eng, deu-eng with fr_FR,
#       es_ES, it_IT, de_DE, judged by the samples checked by hand in
#       bench/forms_quality/ (pointers drawn at random from the output, then
#       irregular and regular forms whose lemma is a headword).
# For each: precision (pointers that lead to the word they inflect), recall
# (inflected words that lead to their lemma) beside Hunspell's own stemming
# (hunspell -s), the share of forms that are no words, and the size of the
# text and of the database with forms against without.
# Aims: precision >= 0.99, no words <= 2 %, text <= 3 x, recall >= Hunspell's.
#
#   bench/forms_quality.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$("$here/build.sh" "${1:-build/release}")
work=$(mktemp -d "${TMPDIR:-/var/tmp}/zelk-forms-quality.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

sizes() {  # source, hunspell dictionary: imports with and without forms, their sizes
  "$build/src/zelkimport" "$1" -o none.txt 2> /dev/null
  "$build/src/zelkimport" "$1" --forms "hunspell:$2" -o forms.txt 2> said.txt
  "$build/src/zelkimport" "$1" -o none.pdb 2> /dev/null
  "$build/src/zelkimport" "$1" --forms "hunspell:$2" -o forms.pdb 2> /dev/null
  awk -v nt="$(stat -c %s none.txt)" -v ft="$(stat -c %s forms.txt)" \
      -v np="$(stat -c %s none.pdb)" -v fp="$(stat -c %s forms.pdb)" 'BEGIN {
    printf "  size      text %.2f x (%d -> %d bytes), database %.2f x (%d -> %d bytes)\n",
           ft / nt, nt, ft, fp / np, np, fp }'
  grep -E '^  forms +[0-9]' said.txt | sed 's/^  forms */  forms     /'
}

for row in en:wn:en_US fr:freedict-fra-eng:fr_FR es:freedict-spa-eng:es_ES \
           it:freedict-ita-eng:it_IT de:freedict-deu-eng:de_DE; do
  IFS=: read -r lang dict hunspell <<< "$row"
  source=/usr/share/dictd/$dict.index
  if [ ! -f "$source" ] || [ ! -f "/usr/share/hunspell/$hunspell.dic" ] || ! command -v hunspell > /dev/null; then
    echo "$lang: skipped (install dict-$dict, hunspell and hunspell's $hunspell dictionary)"
    continue
  fi
  if [ "$lang" = en ]; then
    [ -f /usr/share/wordnet/index.noun ] || { echo "en: skipped (install wordnet-base)"; continue; }
    report=$(sizes "$source" "$hunspell")
    { cut -f1 forms.txt; cat /usr/share/dict/american-english; } | hunspell -d "$hunspell" -s > stems.txt
    python3 "$here/forms_quality.py" wordnet forms.txt /usr/share/wordnet \
      /usr/share/dict/american-english stems.txt
  else
    report=$(sizes "$source" "$hunspell")
    sample=$here/forms_quality/$lang.tsv
    grep -v '^#' "$sample" | cut -f1 | hunspell -d "$hunspell" -s > stems.txt
    python3 "$here/forms_quality.py" sample forms.txt "$sample" stems.txt
  fi
  echo "$report"
done
