"""zelkimport against the tools people make dictionaries with.

Fixtures are made here, from text this test writes, with Debian's own tools:
dictfmt and dictzip for dictd, PyGlossary's StarDict writer for StarDict,
Python's codecs for the character sets. Then zelkimport must give back the
same entries, and its check must say what zelkpack then does.

Usage: zelkimport_tools_test.py ZELKIMPORT ZELKPACK ZELKDUMP
"""
import gzip
import json
import os
import random
import re
import shlex
import struct
import subprocess
import sys
import unittest

from scratch import Scratch

ZELKIMPORT = ZELKPACK = ZELKDUMP = ""

# Headwords and definitions with what imports must keep: UTF-8, line breaks
# and runs of blanks inside definitions, punctuation.
ENTRIES = [
    ("apple", "the round fruit\nof a tree of the rose family"),
    ("banana", "a long   yellow fruit;\n  grows in bunches"),
    ("café", "a small restaurant\nserving coffee"),
    ("naïve", "showing a lack of experience"),
    ("Zürich", "a city in Switzerland"),
    ("tea-time", "late afternoon, when tea is served"),
    ("日本", "Japan"),
    ("x-ray", "a photograph\n\nmade with X-rays"),
]


def flat(text, separator=" "):
    """A definition as zelkimport writes it: line breaks to the separator,
    runs of blanks to one space."""
    lines = [" ".join(line.split()) for line in re.split(r"\r\n|\r|\n", text)]
    return separator.join(line for line in lines if line)


def expected(entries):
    return sorted(f"{k}\t{flat(v)}" for k, v in entries)


def run(*args, cwd=None, check=True):
    r = subprocess.run(args, cwd=cwd, capture_output=True, timeout=60)
    if check and r.returncode != 0:
        raise AssertionError(f"{args} -> {r.returncode}\n{r.stderr.decode(errors='replace')}")
    return r


def imported(*args, cwd=None):
    r = run(ZELKIMPORT, *args, cwd=cwd)
    return sorted(r.stdout.decode().splitlines())


class Tools(Scratch):
    prefix = "zelkimport."

    def failure(self, *args):
        r = run(ZELKIMPORT, *args, check=False)
        self.assertEqual(r.returncode, 1, r.stderr)
        return r.stderr.decode(errors="replace")

    # dictd ---------------------------------------------------------------

    def dictd(self, entries, name="fr"):
        source = "".join(f":{k}:{v}\n" for k, v in entries)
        subprocess.run(["dictfmt", "-j", "--utf8", "--allchars", "--case-sensitive",
                        "--without-headword", "--columns", "0", "-s", "Test", "--quiet",
                        self.path(name)], input=source.encode(), check=True,
                       capture_output=True)
        return self.path(name + ".index")

    def test_dictd_plain_and_compressed(self):
        index = self.dictd(ENTRIES)
        self.assertEqual(imported(index), expected(ENTRIES))
        run("dictzip", self.path("fr.dict"))
        self.assertFalse(os.path.exists(self.path("fr.dict")))
        self.assertEqual(imported(index), expected(ENTRIES))
        with_meta = imported("--metadata", index)
        self.assertTrue(any(line.startswith("00-database-") for line in with_meta), with_meta)
        r = run(ZELKIMPORT, index, "-o", self.path("out.txt"))
        self.assertRegex(r.stderr.decode(), r"entries written +8\n")
        self.assertRegex(r.stderr.decode(), r"dictd metadata \(00-database-\*\) +\d+\n")

    def test_wiktionary_gzip_over_many_reads(self):
        # Expanded a read at a time: a compressed file of several reads gives
        # the entries the plain file gives.
        rand = random.Random(7)
        lines = [json.dumps({"word": f"w{i:05d}", "lang_code": "en", "pos": "noun",
                             "senses": [{"glosses": ["%0128x" % rand.getrandbits(512)]}]}) + "\n"
                 for i in range(30000)]
        self.write("w.jsonl", "".join(lines))
        self.write("w.jsonl.gz", gzip.compress("".join(lines).encode()))
        self.assertGreater(os.path.getsize(self.path("w.jsonl.gz")), 2 << 20)
        plain = imported(self.path("w.jsonl"))
        self.assertEqual(len(plain), 30000)
        self.assertEqual(imported(self.path("w.jsonl.gz")), plain)

    def test_dsl_in_each_encoding(self):
        # DSL files come in UTF-16 of either order, with or without a byte
        # order mark, or in UTF-8: each gives the same entries.
        text = '#NAME "Test"\n\ncat\n\t[m1][trn]a pet[/trn][/m]\ndog\n\t[m1]a friend[/m]\n'
        self.write("le.dsl", ("\ufeff" + text).encode("utf-16-le"))
        self.write("be.dsl", ("\ufeff" + text).encode("utf-16-be"))
        self.write("bare-le.dsl", text.encode("utf-16-le"))
        self.write("bare-be.dsl", text.encode("utf-16-be"))
        self.write("utf8.dsl", text)
        want = ["cat\ta pet", "dog\ta friend"]
        for name in ["le.dsl", "be.dsl", "bare-le.dsl", "bare-be.dsl", "utf8.dsl"]:
            with self.subTest(name=name):
                self.assertEqual(imported(self.path(name)), want)

    def test_dictd_without_its_definitions(self):
        index = self.dictd(ENTRIES)
        os.remove(self.path("fr.dict"))
        self.assertIn("no definitions beside it", self.failure(index))

    def test_dictd_compressed_in_many_pieces(self):
        # dictzip restarts compression every ~58 KB of text; the pieces are
        # expanded apart, so a big file must give the same entries, and a
        # damaged piece the same message as any damaged data.
        entries = [(f"wörd{i:05d}", f"definition {i} " + "lorem ipsum dolor " * (i % 9 + 1))
                   for i in range(4000)]
        index = self.dictd(entries)
        want = imported(index)
        self.assertEqual(want, expected(entries))
        # Definitions over -k 120 go on in a second entry, counted from both halves of the index.
        r = run(ZELKIMPORT, index, "-o", self.path("o.txt"), "-k", "120", "--to", "ASCII",
                "--replace", "_")
        continued = len(self.read("o.txt").splitlines()) - len(entries)
        self.assertRegex(r.stderr.decode(), rf"definitions continued +{continued} \(")
        self.assertRegex(r.stderr.decode(), r"characters replaced +4000\n")
        run("dictzip", self.path("fr.dict"))
        packed = bytearray(self.read("fr.dict.dz"))
        pieces = int.from_bytes(packed[20:22], "little")  # the count in the "RA" field
        self.assertGreater(pieces, 3)
        self.assertEqual(imported(index), want)
        for at in (len(packed) // 2, len(packed) - 20, len(packed) - 8):  # last: the checksum
            damaged = bytearray(packed)
            damaged[at] ^= 0x55
            self.write("fr.dict.dz", bytes(damaged))
            self.assertIn("fr.dict.dz: damaged compressed data", self.failure(index))

    # StarDict ------------------------------------------------------------

    def stardict(self, lines, name, options=()):
        self.write(name + ".txt", "".join(lines))
        run("pyglossary", self.path(name + ".txt"),
            self.path(name + ".ifo"), "--read-format=Tabfile", "--write-format=Stardict",
            "--no-progress-bar", "--no-color", *options)
        return self.path(name + ".ifo")

    def tab_lines(self, entries):
        return [f"{k}\t{v.replace(chr(10), chr(92) + 'n')}\n" for k, v in entries]

    def test_stardict_variants(self):
        lines = self.tab_lines(ENTRIES[1:]) + ["apple|pomme|Apfel\tthe round fruit\n"]
        # PyGlossary writes the alternates to .syn: they point at their headword.
        want = expected(ENTRIES[1:] + [("apple", "the round fruit"), ("pomme", "\u2192 apple"),
                                       ("Apfel", "\u2192 apple")])
        ifo = self.stardict(lines, "sd")
        self.assertTrue(os.path.exists(self.path("sd.syn")))
        self.assertTrue(os.path.exists(self.path("sd.dict.dz")))
        self.assertEqual(imported(ifo), want)
        self.assertEqual(imported("--form-entries", "copy", ifo),  # copies, as before
                         expected(ENTRIES[1:] + [(w, "the round fruit")
                                                 for w in ("apple", "pomme", "Apfel")]))
        tab = self.path("sd.txt")  # the tab file itself: the same headword and forms
        self.assertEqual(imported(tab), want)

        # Markup becomes text, FreeDict's labels stay; --markup none keeps it all.
        source = "k\t<b>bold</b> <n, masc> text <@_@>\n"
        html = self.stardict([source], "h", ["--write-options=sametypesequence=h"])
        self.assertEqual(imported(html), ["k\tbold <n, masc> text <@_@>"])
        self.assertEqual(imported("--markup", "none", html), [source.strip()])
        plain = self.stardict(lines, "plain", ["--write-options=dictzip=False"])
        self.assertTrue(os.path.exists(self.path("plain.dict")))
        self.assertEqual(imported(plain), want)

        # 64-bit offsets (version 3.0.0), the index gzip-compressed.
        idx = self.read("plain.idx")
        wide, pos = b"", 0
        while pos < len(idx):
            end = idx.index(b"\0", pos)
            offset, size = struct.unpack(">II", idx[end + 1:end + 9])
            wide += idx[pos:end + 1] + struct.pack(">QI", offset, size)
            pos = end + 9
        ifo_text = self.read("plain.ifo").decode()
        ifo_text = re.sub(r"idxfilesize=\d+", f"idxfilesize={len(wide)}", ifo_text)
        self.write("plain.ifo", ifo_text.replace("version=3.0.0\n",
                                                 "version=3.0.0\nidxoffsetbits=64\n"))
        os.remove(self.path("plain.idx"))
        self.write("plain.idx.gz", gzip.compress(wide))
        self.assertEqual(imported(plain), want)

    # Character sets ------------------------------------------------------

    def test_character_sets(self):
        cases = [  # iconv's name, Python's, entries it can hold
            ("CP1252", "cp1252", [("café", "crème brûlée — 5 €")]),
            ("ISO-8859-5", "iso8859_5", [("Москва", "столица России")]),
            ("SHIFT_JIS", "shift_jis", [("日本語", "にほんご、表示")]),
            ("BIG5", "big5", [("台灣", "臺北市，中華")]),
        ]
        for charset, codec, entries in cases:
            with self.subTest(charset=charset):
                self.write("u.tab", "".join(f"{k}\t{v}\n" for k, v in entries))
                r = run(ZELKIMPORT, "--to", charset, self.path("u.tab"))
                self.assertEqual(r.stdout.decode(codec), "".join(f"{k}\t{v}\n"
                                                                 for k, v in entries))
                self.write("x.tab", "".join(f"{k}\t{v}\n" for k, v in entries).encode(codec))
                r = run(ZELKIMPORT, "--from", charset, self.path("x.tab"))
                self.assertEqual(r.stdout.decode(), "".join(f"{k}\t{v}\n" for k, v in entries))

    # Into the database ---------------------------------------------------

    def test_check_agrees_with_zelkpack(self):
        # Keys long enough that small budgets give an index record over 65535 bytes.
        lines = [f"key{i:05d}{'k' * 40}\t{'v' * (i % 300)}\n" for i in range(3000)]
        lines[17] = "long\t" + "w" * 5000 + "\n"
        self.write("d.txt", "".join(lines))
        for k in (64, 400, 4096, 8192):
            with self.subTest(k=k):
                check = run(ZELKIMPORT, "--check", self.path("d.txt"), "-k", str(k),
                            check=False)
                pack = run(ZELKPACK, "-k", str(k), "-o", "d.pdb", "d.txt", cwd=self.dir,
                           check=False)
                report, said = check.stdout.decode(), pack.stderr.decode()
                size = re.search(r"Index record \(Record 0\) size = (\d+) bytes", said)[1]
                self.assertRegex(report, rf"index record +{size} bytes")
                if pack.returncode != 0:
                    message = " ".join(said.splitlines()[-2:])
                    self.assertIn(f"zelkpack would stop:           {message}", report)
                    self.assertEqual(check.returncode, 1)
                else:
                    records = struct.unpack(">H", self.read("d.pdb")[76:78])[0]
                    self.assertRegex(report, rf"chunks +{records - 1} of at most 65534")
                cut = re.search(r"Warning: (\d+) lines? cut to \d+ bytes; the longest was "
                                r"(\d+) bytes", said)
                if cut:
                    self.assertRegex(report, rf"over {k - 2} bytes\) +{cut[1]}, the longest "
                                             rf"{cut[2]} bytes")
                if pack.returncode == 0 and not cut:
                    self.assertRegex(report, rf"over {k - 2} bytes\) +0\n")
                    self.assertEqual(check.returncode, 0)
                    continue
                # The command the check ends with packs it whole.
                self.assertEqual(check.returncode, 1)
                command = shlex.split(re.search(r"To pack it whole: (.*)\n", report)[1])
                self.assertEqual(command[:3], ["zelkpack", "-n", "d"])
                whole = run(ZELKPACK, *command[1:-1], "-o", "w.pdb", command[-1],
                            cwd=self.dir, check=False)
                self.assertEqual(whole.returncode, 0, whole.stderr)
                self.assertNotIn(b"cut to", whole.stderr)
                # ... and is the least that does.
                k_whole = int(command[command.index("-k") + 1])
                less = run(ZELKPACK, "-k", str(k_whole - 1), *command[5:-1], "-o",
                           "l.pdb", "d.txt", cwd=self.dir, check=False)
                self.assertTrue(less.returncode != 0 or b"cut to" in less.stderr, k_whole)


if __name__ == "__main__":
    ZELKIMPORT, ZELKPACK, ZELKDUMP = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
