#!/usr/bin/env python3
"""Writes a dictionary of our own making to standard output, about BYTES
long: a Wiktionary extract in the JSON lines form of wiktextract (one object
a word, the fields and about the sizes of a real extract: senses with
glosses, tags, examples and links, forms with their tags, sounds,
translations, etymology, categories), or the same words as a DSL or an XDXF
dictionary.

Usage: gen_sources.py jsonl|dsl|xdxf BYTES [SEED]
"""
from xml.sax.saxutils import escape
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


def as_dsl(obj):
    lines = [obj["word"]] + [f["form"] for f in obj["forms"][:1]]
    for i, s in enumerate(obj["senses"], 1):
        text = "; ".join(s["glosses"])
        lines.append(f"\t[m1][b]{i}.[/b] [p]{obj['pos']}[/p] [trn]{text}[/trn][/m]")
        for e in s.get("examples", []):
            lines.append(f"\t[m2][ex][lang id=1033]{e['text']}[/lang][/ex][/m]")
    return "\n".join(lines) + "\n"


def as_xdxf(obj):
    keys = "".join(f"<k>{escape(k)}</k>" for k in [obj["word"]] + [f["form"] for f in obj["forms"][:1]])
    defs = "".join(f"<def><gr>{obj['pos']}</gr><deftext>{escape('; '.join(s['glosses']))}</deftext>"
                   + "".join(f"<ex><ex_orig>{escape(e['text'])}</ex_orig></ex>"
                             for e in s.get("examples", [])) + "</def>" for s in obj["senses"])
    return f"<ar>{keys}<def>{defs}</def></ar>\n"


def main():
    form, total = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    out = sys.stdout
    if form == "dsl":
        out.write('#NAME "Generated"\n#INDEX_LANGUAGE "English"\n#CONTENTS_LANGUAGE "English"\n\n')
    if form == "xdxf":
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<xdxf lang_from="ENG" lang_to="ENG" '
                  'format="logical" revision="034">\n<meta_info><full_title>Generated'
                  '</full_title></meta_info>\n<lexicon>\n')
    known, written = [], 0
    while written < total:
        w, line = entry(rng, known)
        if len(known) < 5000:
            known.append(w)
        if form != "jsonl":
            obj = json.loads(line)
            line = as_dsl(obj) if form == "dsl" else as_xdxf(obj)
        else:
            line += "\n"
        out.write(line)
        written += len(line.encode())
    if form == "xdxf":
        out.write("</lexicon>\n</xdxf>\n")


if __name__ == "__main__":
    main()
