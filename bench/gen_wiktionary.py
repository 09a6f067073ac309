#!/usr/bin/env python3
"""Writes a Wiktionary extract of our own making, in the JSON lines form of
wiktextract (one object a word, the fields and about the sizes of a real
extract: senses with glosses, tags, examples and links, forms with their
tags, sounds, translations, etymology, categories), to standard output.

Usage: gen_wiktionary.py BYTES [SEED]
"""
import json
import random
import sys

SYLLABLES = ["ka", "lo", "mi", "ter", "sun", "bra", "que", "dor", "vel", "ni", "ox", "ist",
             "än", "ße", "ça"]
WORDS = ["the", "a", "of", "to", "which", "person", "thing", "place", "small", "large",
         "kind", "used", "make", "having", "quality", "state", "act", "water", "light", "old"]
POS = ["noun", "verb", "adj", "adv", "name", "prep"]
TAGS = ["countable", "uncountable", "transitive", "intransitive", "archaic", "informal",
        "figuratively", "plural", "singular", "British", "US"]
FORM_TAGS = [["plural"], ["genitive", "singular"], ["past"], ["present", "participle"],
             ["table-tags"], ["inflection-template"], ["comparative"]]


def word(rng):
    return "".join(rng.choice(SYLLABLES) for _ in range(rng.randint(1, 4)))


def sentence(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n)).capitalize() + "."


def entry(rng, known):
    w = word(rng)
    senses = []
    for _ in range(rng.choice([1, 1, 2, 3, 5])):
        if known and rng.random() < 0.1:
            senses.append({"glosses": [f"plural of {rng.choice(known)}"],
                           "form_of": [{"word": rng.choice(known)}], "tags": ["form-of"]})
            continue
        sense = {"glosses": [sentence(rng, rng.randint(4, 20))],
                 "tags": rng.sample(TAGS, rng.randint(0, 2)),
                 "links": [[word(rng), word(rng)]], "categories": ["Terms with examples"]}
        if rng.random() < 0.4:
            sense["examples"] = [{"text": sentence(rng, rng.randint(5, 15)), "type": "example"}]
        senses.append(sense)
    obj = {"word": w, "lang": "English" if rng.random() < 0.9 else "French",
           "lang_code": "en" if rng.random() < 0.9 else "fr", "pos": rng.choice(POS),
           "senses": senses,
           "sounds": [{"ipa": "/" + word(rng) + "/", "tags": ["UK"]}, {"audio": "x.ogg"}],
           "forms": [{"form": w + rng.choice(["s", "es", "ed", "ing"]), "tags": tags}
                     for tags in rng.sample(FORM_TAGS, rng.randint(0, 3))],
           "etymology_text": sentence(rng, rng.randint(5, 30)),
           "head_templates": [{"name": "en-noun", "args": {}, "expansion": w}],
           "translations": [{"lang": "German", "code": "de", "word": word(rng)}
                            for _ in range(rng.randint(0, 6))]}
    return w, json.dumps(obj, ensure_ascii=False)


def main():
    total = int(sys.argv[1])
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
    out = sys.stdout
    known, written = [], 0
    while written < total:
        w, line = entry(rng, known)
        if len(known) < 5000:
            known.append(w)
        out.write(line + "\n")
        written += len(line.encode()) + 1


if __name__ == "__main__":
    main()
