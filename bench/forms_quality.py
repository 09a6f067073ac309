#!/usr/bin/env python3
"""How right the forms of an import are, against a reference that owes nothing to Hunspell.

    forms_quality.py wordnet  FORMS.txt WORDNET_DIR WORDLIST STEMS
    forms_quality.py sample   FORMS.txt SAMPLE.tsv STEMS

FORMS.txt is zelkimport's text output with forms; a pointer is an entry whose
definition starts with the arrow. STEMS is `hunspell -s` run over the words
judged (a word and a stem a line): Hunspell's own stemming, the recall to beat.

wordnet: English, judged by WordNet's morphology (the exception lists and the
detachment rules of its morphy, over its own lemma lists); a possessive 's
or s' is judged as the word it is put on. Precision over the pointers whose
form WordNet can analyse; recall over the words of WORDLIST whose WordNet
lemma is a headword and not the word itself; a form is no word where WordNet
cannot analyse it, WORDLIST lacks it and it is no headword.

sample: a file of words checked by hand, "word<TAB>lemma,lemma" a line ("-":
a form of no headword, a word of its own; "!": not a word at all). Precision
over the pointers whose form is in it, recall over its words whose lemma is a
headword, no word: the share of those pointers whose form is marked "!".
"""
import sys
from collections import defaultdict

ARROW = "\u2192 "


def read_output(path):
    headwords, pointers = set(), defaultdict(set)
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("\t")
            if value.startswith(ARROW):
                for h in value[len(ARROW):].split(", "):
                    pointers[key].add(h)
            else:
                headwords.add(key)
    return headwords, pointers


def read_stems(path):
    stems = defaultdict(set)
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                stems[parts[0]].add(parts[1])
    return stems


# WordNet's morphy: its detachment rules by part of speech.
RULES = {
    "noun": [("s", ""), ("ses", "s"), ("xes", "x"), ("zes", "z"), ("ches", "ch"), ("shes", "sh"),
             ("men", "man"), ("ies", "y")],
    "verb": [("s", ""), ("ies", "y"), ("es", "e"), ("es", ""), ("ed", "e"), ("ed", ""),
             ("ing", "e"), ("ing", "")],
    "adj": [("er", ""), ("est", ""), ("er", "e"), ("est", "e")],
    "adv": [],
}


class WordNet:
    def __init__(self, folder):
        self.lemmas, self.exceptions = {}, {}
        for pos in RULES:
            words = set()
            with open(f"{folder}/index.{pos}", encoding="utf-8", errors="replace") as f:
                for line in f:
                    if not line.startswith(" "):
                        words.add(line.split(" ", 1)[0].replace("_", " "))
            self.lemmas[pos] = words
            exc = defaultdict(set)
            with open(f"{folder}/{pos}.exc", encoding="utf-8", errors="replace") as f:
                for line in f:
                    parts = line.split()
                    for base in parts[1:]:
                        exc[parts[0].replace("_", " ")].add(base.replace("_", " "))
            self.exceptions[pos] = exc

    def lemmas_of(self, word):
        """The lemmas word is an inflection of (never word itself); None: WordNet has no word so."""
        w = word.lower()
        found, known = set(), False
        for pos, rules in RULES.items():
            if w in self.lemmas[pos]:
                known = True
            for base in self.exceptions[pos].get(w, ()):
                found.add(base)
            for end, put in rules:
                if w.endswith(end) and len(w) > len(end):
                    base = w[: len(w) - len(end)] + put
                    if base in self.lemmas[pos]:
                        found.add(base)
        if w.endswith("'s") or w.endswith("s'"):
            bare = w[:-2] if w.endswith("'s") else w[:-1]
            inner = self.lemmas_of(bare)
            if inner is not None:
                found |= inner | ({bare} if self.is_word(bare) else set())
        found.discard(w)
        return found if (found or known) else None

    def is_word(self, w):
        return any(w in self.lemmas[pos] for pos in RULES)


def ratio(part, whole):
    return part / whole if whole else 0.0


def report(name, right, judged, reached, reachable, hunspell_reached, non_words, forms, extra):
    print(f"{name}:")
    print(f"  precision {ratio(right, judged):.3f} ({right} of {judged} pointers judged right)")
    print(f"  recall    {ratio(reached, reachable):.3f} ({reached} of {reachable} inflected words "
          f"lead to their lemma; Hunspell's own stemming {ratio(hunspell_reached, reachable):.3f})")
    print(f"  no words  {100 * ratio(non_words, forms):.1f} % ({non_words} of {forms} forms)")
    for line in extra:
        print("  " + line)


def wordnet(forms_path, folder, wordlist, stems_path):
    headwords, pointers = read_output(forms_path)
    wn = WordNet(folder)
    stems = read_stems(stems_path)
    with open(wordlist, encoding="utf-8", errors="replace") as f:
        words = {line.strip().lower() for line in f if line.strip()}
    right = judged = non_words = 0
    wrong = []
    for form, targets in pointers.items():
        lemmas = wn.lemmas_of(form)
        if lemmas is None:
            if form not in words and form not in headwords:
                non_words += 1
            continue
        for h in targets:
            judged += 1
            if h in lemmas:
                right += 1
            else:
                wrong.append(f"{form} -> {h}")
    reached = reachable = hunspell_reached = 0
    for w in sorted(words):
        lemmas = wn.lemmas_of(w)
        lemmas = {b for b in lemmas or () if b in headwords}
        if not lemmas:
            continue
        reachable += 1
        reached += bool(pointers.get(w, set()) & lemmas)
        hunspell_reached += bool({s.lower() for s in stems.get(w, ())} & lemmas)
    report("English (WordNet's morphology)", right, judged, reached, reachable, hunspell_reached,
           non_words, len(pointers), ["wrong, a few: " + "; ".join(wrong[:int(__import__("os").environ.get("SHOW", "12"))])] if wrong else [])


def sample(forms_path, sample_path, stems_path):
    headwords, pointers = read_output(forms_path)
    stems = read_stems(stems_path)
    checked = {}
    with open(sample_path, encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                word, _, lemmas = line.rstrip("\n").partition("\t")
                checked[word] = lemmas.split(",")
    right = judged = non_words = 0
    wrong, unjudged = [], 0
    for form, targets in pointers.items():
        if form not in checked:
            unjudged += 1
            continue
        non_words += checked[form] == ["!"]
        for h in targets:
            judged += 1
            if h in checked[form]:
                right += 1
            else:
                wrong.append(f"{form} -> {h}")
    reached = reachable = hunspell_reached = 0
    for word, lemmas in checked.items():
        lemmas = {b for b in lemmas if b in headwords and b != word}
        if not lemmas:
            continue
        reachable += 1
        reached += bool(pointers.get(word, set()) & lemmas)
        hunspell_reached += bool(stems.get(word, set()) & lemmas)
    forms_judged = sum(1 for form in pointers if form in checked)
    extra = [f"judged by hand: {forms_judged} of the output's {len(pointers)} forms"]
    if wrong:
        extra.append("wrong: " + "; ".join(wrong[:int(__import__("os").environ.get("SHOW", "12"))]))
    report(f"{sample_path} (checked by hand)", right, judged, reached, reachable, hunspell_reached,
           non_words, forms_judged, extra)


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] == "wordnet":
        wordnet(*sys.argv[2:])
    elif len(sys.argv) == 5 and sys.argv[1] == "sample":
        sample(*sys.argv[2:])
    else:
        sys.exit(__doc__)
