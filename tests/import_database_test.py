"""zelkimport SOURCE -o NAME.pdb: the database the two steps would make, with
nothing cut and repeated headwords in source order; and the stops for the
mistakes users make.

Usage: import_database_test.py ZELKIMPORT ZELKPACK ZELKDUMP
"""
import os
import pty
import random
import resource
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import time
import unittest

from scratch import Scratch

ZELKIMPORT = ZELKPACK = ZELKDUMP = ""


def run(*args, cwd=None, check=True):
    r = subprocess.run(args, cwd=cwd, capture_output=True, timeout=120)
    if check and r.returncode != 0:
        raise AssertionError(f"{args} -> {r.returncode}\n{r.stderr.decode(errors='replace')}")
    return r


def generated(seed, entries=1500):
    """A tab dictionary in source order: repeated headwords, definitions of
    every length up to 9,000 bytes (with and without blanks, with multi-byte
    characters), keys over 127 bytes that share their first 127."""
    rng = random.Random(seed)
    words = ["apple", "pear", "fig", "quince", "Äpfel", "日本", "x" * 130 + "a", "x" * 130 + "b",
             "y" * 127]
    pieces = ["lorem", "ipsum", "dolor", "ünïcödé", "かな", "€", "word" * 30]
    lines = []
    for i in range(entries):
        key = rng.choice(words) + ("" if rng.random() < 0.6 else str(rng.randint(0, 40)))
        length = rng.choice([1, 5, 40, 300, 1500]) if rng.random() < 0.95 else 9000
        value = " ".join(rng.choice(pieces) for _ in range(length // 6 + 1))
        if rng.random() < 0.1:
            value = value.replace(" ", "")  # nowhere to split but between characters
        lines.append((key, f"#{i} {value}"))
    return lines


def entries_of(database):
    """The database's entries in its own order, as (key, value) pairs."""
    out = run(ZELKDUMP, "extract", database).stdout.decode()
    return [tuple(line.split("\t", 1)) for line in out.splitlines()]


class Database(Scratch):
    prefix = "zelkimport-db."

    def write_tab(self, name, lines):
        self.write(name, "".join(f"{k}\t{v}\n" for k, v in lines))

    def test_same_bytes_as_the_two_steps(self):
        source = generated(1)
        self.write_tab("d.tab", source)
        for k in ("300", "700", "4096"):
            with self.subTest(k=k):
                one = run(ZELKIMPORT, self.path("d.tab"), "-o", self.path("d.pdb"), "-k", k,
                          "-n", "Gen")
                run(ZELKIMPORT, self.path("d.tab"), "-o", self.path("d.txt"), "-k", k)
                large = re.search(r"index record +\d+ bytes, over 65535", one.stderr.decode())
                shutil.rmtree(self.path("out"), ignore_errors=True)
                two = run(ZELKPACK, "-n", "Gen", "-k", k, *(["-l"] if large else []),
                          "-o", "two.pdb", "d.txt", cwd=self.dir)
                self.assertNotIn(b"cut to", two.stderr)  # at that -k the text packs whole
                self.assertEqual(self.read("d.pdb"), self.read("two.pdb"))
                if k == "300":  # the large index is written too
                    self.assertTrue(large)
                    self.assertRegex(one.stderr.decode(), r"-k \d+ keeps it in main memory")

    def test_nothing_cut_and_source_order(self):
        source = generated(2)
        self.write_tab("d.tab", source)
        for k in ("160", "700", "4096"):
            with self.subTest(k=k):
                said = run(ZELKIMPORT, self.path("d.tab"), "-o", self.path("d.pdb"), "-k", k)
                text = run(ZELKIMPORT, self.path("d.tab"), "-o", self.path("d.txt"), "-k", k)
                entries = entries_of(self.path("d.pdb"))
                repeated = len(entries) - len({key for key, _ in entries})
                long_keys = sum(len(key.encode()) > 127 for key, _ in entries)
                for summary in (said.stderr.decode(), text.stderr.decode()):
                    self.assertRegex(summary, rf"repeated keys +{repeated}\n")
                    self.assertRegex(summary, rf"keys over 127 bytes +{long_keys}\n")
                # Keys sort by their first 127 bytes, and keep at most half a line.
                head = min(127, (int(k) - 3) // 2)
                got = {}
                for key, value in entries:
                    got.setdefault(key.encode()[:head], []).append(value)
                want = {}
                for key, value in source:
                    want.setdefault(key.encode()[:head], []).append(value)
                for head, values in want.items():
                    # Parts of a definition continue it: joined (blanks aside)
                    # they give every definition back, in source order.
                    joined = "".join(got[head]).replace(" ", "")
                    self.assertEqual(joined, "".join(values).replace(" ", ""), head[:20])
                    starts = [v.split(" ", 1)[0] for v in got[head] if re.match(r"#\d+ ", v)]
                    self.assertEqual(starts, [v.split(" ", 1)[0] for v in values])

    def test_long_cut_and_whole(self):
        self.write_tab("d.tab", [("k", "a" * 500), ("k", "b" * 90), ("j", "é" * 300)])
        cut = run(ZELKIMPORT, self.path("d.tab"), "-o", "-", "-k", "128", "--long", "cut")
        self.assertEqual(cut.stdout.decode(), f"k\t{'a' * 124}\nk\t{'b' * 90}\nj\t{'é' * 62}\n")
        self.assertRegex(cut.stderr.decode(), r"definitions cut +2\n")
        whole = run(ZELKIMPORT, self.path("d.tab"), "-o", self.path("w.pdb"), "--long",
                    "whole", "-k", "128")
        self.assertIn(b"at -k 604:", whole.stderr)  # "j\t" and 600 bytes, plus 2
        self.assertEqual(entries_of(self.path("w.pdb")),
                         [("j", "é" * 300), ("k", "a" * 500), ("k", "b" * 90)])
        self.write("huge.txt", "k\t" + "v" * 70000 + "\n")  # no -k packs it whole
        check = run(ZELKIMPORT, "--check", self.path("huge.txt"), "-k", "65535", check=False)
        self.assertIn(b"whole: it has lines over 65535 bytes\n", check.stdout)

    def test_every_ending_keeps_the_old_output(self):
        self.write_tab("big.tab", [(f"w{i}", "lorem ipsum " * 40) for i in range(60000)])

        def old():
            self.write("d.pdb", b"the old database")
            os.chmod(self.path("d.pdb"), 0o600)

        def left():
            self.assertEqual(sorted(os.listdir(self.dir)), ["big.tab", "d.pdb"])
            self.assertEqual(self.read("d.pdb"), b"the old database")

        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # an abort's
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE, signal.SIGABRT):
            with self.subTest(signal=sig):
                old()
                p = subprocess.Popen([ZELKIMPORT, "big.tab", "-o", "d.pdb"], cwd=self.dir,
                                     stderr=subprocess.DEVNULL, preexec_fn=no_core)
                time.sleep(0.2)
                p.send_signal(sig)
                self.assertEqual(p.wait(timeout=60), -sig)
                left()
        # A file size limit: the write fails, named as typed, with its reason.
        r = subprocess.run(["bash", "-c", f"ulimit -f 200; exec {ZELKIMPORT} big.tab -o d.pdb"],
                           cwd=self.dir, capture_output=True, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (1, b"zelkimport: cannot write 'd.pdb': "
                                                       b"File too large\n"))
        left()
        # A full disk, where a small one can be mounted.
        os.mkdir(self.path("small"))
        r = subprocess.run(["unshare", "-rm", "sh", "-c", "mount -t tmpfs -o size=200k tmpfs "
                            f"small && exec {ZELKIMPORT} big.tab -o small/d.pdb"],
                           cwd=self.dir, capture_output=True, timeout=60)
        if b"mount" not in r.stderr and b"unshare" not in r.stderr:
            self.assertEqual((r.returncode, r.stderr), (1, b"zelkimport: cannot write "
                             b"'small/d.pdb': No space left on device\n"))
        os.rmdir(self.path("small"))
        # Done: the file replaced keeps its permission bits; a link is followed.
        old()
        run(ZELKIMPORT, "big.tab", "-o", "d.pdb", cwd=self.dir)
        self.assertEqual(os.stat(self.path("d.pdb")).st_mode & 0o777, 0o600)
        os.symlink("d.pdb", self.path("link.pdb"))
        run(ZELKIMPORT, "big.tab", "-o", "link.pdb", "-n", "Linked", cwd=self.dir)
        self.assertEqual(os.readlink(self.path("link.pdb")), "d.pdb")
        self.assertEqual(self.read("d.pdb")[:7], b"Linked\0")

    def test_outputs_refused_before_any_work(self):
        self.write_tab("d.tab", [("k", "v")])
        os.mkdir(self.path("adir.pdb"))
        fits = "n" * 251 + ".pdb"  # 255 bytes: the temporary file's name is shortened
        for output, said in [
            ("nodir/x.pdb", "cannot write 'nodir/x.pdb': No such file or directory"),
            ("nodir/x.txt", "cannot write 'nodir/x.txt': No such file or directory"),
            ("adir.pdb", "cannot write 'adir.pdb': Is a directory"),
            ("n" * 256 + ".pdb", "File name too long"),
            ("/dev/full", "cannot write '/dev/full': No space left on device"),
            (fits, None),
        ]:
            with self.subTest(output=output[:20]):
                r = run(ZELKIMPORT, "d.tab", "-o", output, cwd=self.dir, check=False)
                if said is None:
                    self.assertEqual(r.returncode, 0, r.stderr)
                    continue
                self.assertEqual(r.returncode, 1)
                self.assertIn(said, r.stderr.decode())
                self.assertNotIn(b"entries written", r.stderr)  # nothing was read
        self.assertEqual(sorted(os.listdir(self.dir)), ["adir.pdb", "d.tab", fits])

    def test_advice_counts_the_forms(self):
        # Forms from two sources, each counted once, those left out by kind;
        # the index record measured with them, and said when they push it
        # past main memory; the advice that keeps it there counts them.
        self.write_tab("d.tab", [(f"head{i:04d}" + "x" * 20, "def") for i in range(900)])
        self.write("forms.txt", "".join(f"form{i:04d}{'y' * 20}\thead{i:04d}{'x' * 20}\n"
                                        for i in range(900)) + "zz\tnothere\n")
        self.write("en_T.aff", "SET UTF-8\nSFX S Y 1\nSFX S 0 s .\nPFX U Y 1\nPFX U 0 un .\n")
        self.write("en_T.dic", "1\nhead0001xxxxxxxxxxxxxxxxxxxx/SU\n")
        said = run(ZELKIMPORT, "d.tab", "-k", "64", "-o", "d.txt", "--forms", "forms.txt",
                   "--forms", "hunspell:./en_T", cwd=self.dir).stderr.decode()
        for row in (r"forms +901 of 900 headwords", r"\n    from forms.txt +900\n",
                    r"\n    from hunspell:./en_T +1\n", r"\n  forms left out:\n",
                    r"\n    of no headword +1\n", r"\n    derivations \(another word\) +1\n",
                    r"index record +108078 bytes, over 65535",
                    r"\n    without the forms +54016 bytes: the forms push it over 65535\n"):
            self.assertRegex(said, row)
        k = re.search(r"-k (\d+) keeps it in main memory", said)[1]
        said = run(ZELKIMPORT, "d.tab", "-k", k, "-o", "d.txt", "--forms", "forms.txt",
                   cwd=self.dir).stderr.decode()
        self.assertRegex(said, r"index record +\d+ bytes of at most 65535")
        self.assertNotIn("without the forms", said)
        self.write_tab("one.tab", [("go|went", "to move")])
        said = run(ZELKIMPORT, "one.tab", "-o", "one.txt", cwd=self.dir).stderr.decode()
        self.assertRegex(said, r"\n  forms +1 of 1 headword, \d+ bytes\n")

    def test_the_advice_works_when_followed(self):
        # Long definitions go on in further entries at -k 256 and are laid
        # out anew at any other -k: the advice must count with that.
        rng = random.Random(5)
        self.write_tab("d.tab", [(f"w{i:05d}", " ".join(
            rng.choice(["lorem", "ipsum", "dolor."]) for _ in range(rng.choice([3, 40, 400, 1200]))))
            for i in range(3000)])

        def index_size(output, k):
            said = run(ZELKIMPORT, "d.tab", "-o", output, "-k", str(k), cwd=self.dir)
            return int(re.search(r"index record +(\d+) bytes", said.stderr.decode())[1]), said

        for output in ("d.pdb", "d.txt"):
            with self.subTest(output=output):
                size, said = index_size(output, 256)
                self.assertGreater(size, 65535)
                k = int(re.search(r"-k (\d+) keeps it in main memory", said.stderr.decode())[1])
                self.assertLessEqual(index_size(output, k)[0], 65535)
                self.assertGreater(index_size(output, k - 1)[0], 65535)
        # The text's own command packs it whole, under the name the import gives it.
        said = run(ZELKIMPORT, "d.tab", "-o", "d.txt", "-k", "256", cwd=self.dir).stderr.decode()
        command = shlex.split(re.search(r"To pack it whole: (.*)\n", said)[1])
        self.assertEqual(command[:3], ["zelkpack", "-n", "d"])
        packed = run(ZELKPACK, *command[1:], cwd=self.dir)
        self.assertNotIn(b"cut to", packed.stderr)
        self.assertEqual(self.read("zelk.pdb")[:2], b"d\0")

    def test_every_key_and_form_is_found(self):
        # Alternate headwords point at their headword, some at several, some are
        # headwords themselves: each key is found the way a reader looks it up.
        rng = random.Random(7)
        words = [f"w{i}" + "ü" * (i % 3) for i in range(2000)]
        lines = [("|".join([w] + rng.sample(words, rng.randint(0, 3)) + [f"f{i}"] * (i % 2)),
                  "def " * rng.randint(1, 300)) for i, w in enumerate(words)]
        self.write_tab("d.tab", lines)
        everything = sorted({a for key, _ in lines for a in key.split("|")})
        self.write("words.txt", "\n".join(everything) + "\n")
        for k in ("64", "4096"):
            with self.subTest(k=k):
                said = run(ZELKIMPORT, self.path("d.tab"), "-o", self.path("d.pdb"), "-k", k)
                self.assertRegex(said.stderr.decode(),
                                 r"looked up +2000 headwords and 1000 forms, all found")
                r = run(ZELKDUMP, "verify", "--words", self.path("words.txt"), self.path("d.pdb"))
                self.assertIn(f"{len(everything)} words, all found", r.stdout.decode())
        # A form that is a headword too comes after that headword's definitions.
        both = next(w for w in words if any(w in key.split("|")[1:] for key, _ in lines))
        found = run(ZELKDUMP, "lookup", self.path("d.pdb"), both).stdout.decode().splitlines()
        self.assertTrue(found[0].startswith(both + "\tdef"), found[0])
        self.assertTrue(found[-1].startswith(both + "\t\u2192 "), found[-1])

    def test_names(self):
        self.write("t.tab", "##name\tA Name Longer Than Thirty-One Bytes, Ünïcödé\nk\tv<br />w\n")
        r = run(ZELKIMPORT, self.path("t.tab"), "-o", self.path("t.pdb"))
        self.assertEqual(self.read("t.pdb")[:32], b"A Name Longer Than Thirty-One" + b"\0" * 3)
        self.assertRegex(r.stderr, rb"is cut to fit in 31 bytes(.|\n)*\(1 chunk, 'A Name L")
        self.assertEqual(entries_of(self.path("t.pdb")), [("k", "v w")])  # markup, no info line
        run(ZELKIMPORT, self.path("t.tab"), "-o", self.path("t.pdb"), "-n", "ÜÜÜÜÜÜÜÜÜÜÜÜÜÜÜÜ")
        self.assertEqual(self.read("t.pdb")[:32], "ÜÜÜÜÜÜÜÜÜÜÜÜÜÜÜ".encode() + b"\0\0")
        # A name the output's set cannot write stays UTF-8, cut between characters.
        run(ZELKIMPORT, self.path("t.tab"), "-o", self.path("t.pdb"), "-n", "Ü" * 16, "--to",
            "ASCII")
        self.assertEqual(self.read("t.pdb")[:32], ("Ü" * 15).encode() + b"\0\0")
        self.write("plain.TAB", "k\tv\n")
        run(ZELKIMPORT, self.path("plain.TAB"), "-o", self.path("p.PDB"))
        run(ZELKIMPORT, "plain.TAB", "-o", "p.x", cwd=self.dir)  # a name shorter than ".pdb"
        self.assertEqual(self.read("p.PDB")[:10], b"plain.TAB\0")

    def test_usage(self):
        help_text = run(ZELKIMPORT, "--help").stdout.decode()
        self.assertEqual(help_text.count("Usage:"), 1)
        self.assertNotRegex(help_text, r"=\s*\n")  # no empty default shown
        self.write("t.tab", "k\tv\n")
        tab = self.path("t.tab")
        for args, said in [
            (["--translit", tab], "--translit needs --to"),
            (["--translit", "--replace", "x", "--to", "ASCII", tab], "exclude each other"),
            (["--delimiter", "ab", tab], "--delimiter: takes one character"),
            (["--check", tab, tab], "--check takes one file and no SOURCE"),
            ([], "a SOURCE is required"),
            (["-k", "1", tab], "--chunk-size: Value 1 not in range 2 to 65535"),
            (["-k", "15", tab], "an import takes -k 16 to 65535"),
            (["--long", "some", tab], "--long"),
            (["--to", "UTF-16", tab], "--to UTF-16 does not write ASCII as ASCII bytes"),
            (["--to", "UTF-7", tab], "--to UTF-7 does not write ASCII as ASCII bytes"),
            (["--to", "NO-SUCH-SET", tab], "--to: unknown character set 'NO-SUCH-SET'"),
            (["--from", "NO-SUCH-SET", tab], "--from: unknown character set 'NO-SUCH-SET'"),
        ]:
            with self.subTest(args=args):
                r = run(ZELKIMPORT, *args, check=False)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(said, r.stderr.decode())
        r = run(ZELKIMPORT, self.path("nothere.index"), check=False)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.decode(), f"zelkimport: cannot open '{self.path('nothere.index')}'"
                         ": No such file or directory\n")

    def test_progress_line_cleared_before_messages(self):
        # On a terminal the progress line is rewritten in place; a message
        # clears it first and starts a line of its own, and the progress line
        # comes back below it.
        self.write("t.tab", "no tab here\n" + "".join(f"w{i}\tv\n" for i in range(5)))
        main, other = pty.openpty()
        r = subprocess.run([ZELKIMPORT, "t.tab", "-o", "t.txt"], cwd=self.dir, stderr=other,
                           timeout=60)
        os.close(other)
        said = b""
        while select.select([main], [], [], 0.5)[0]:
            try:
                chunk = os.read(main, 65536)
            except OSError:
                break
            if not chunk:
                break
            said += chunk
        os.close(main)
        self.assertEqual(r.returncode, 0)
        cleared = b"\r" + b" " * 40 + b"\r"
        self.assertIn(b"reading" + b" " * 33 + cleared + b"zelkimport: t.tab:1:", said)
        self.assertIn(b"no tab between key and definition\r\n\rreading ", said)
        # A database made with the progress line shown comes out whole.
        main, other = pty.openpty()
        r = subprocess.run([ZELKIMPORT, "t.tab", "-o", "t.pdb"], cwd=self.dir, stderr=other,
                           timeout=60)
        os.close(other)
        os.close(main)
        self.assertEqual(r.returncode, 0)
        self.assertIn(b": sound: 1 chunk", run(ZELKDUMP, "verify", self.path("t.pdb")).stdout)

    def dictd(self, name):
        subprocess.run(["dictfmt", "-j", "--utf8", "--without-headword", "-s", "Short Name",
                        "--quiet", self.path(name)], input=b":apple:a fruit\n:pear:another\n",
                       check=True, capture_output=True)
        run("dictzip", self.path(name + ".dict"))

    def test_refusals(self):
        self.dictd("fr")
        os.symlink(self.path("fr.dict.dz"), self.path("link.dz"))
        self.write("l1.tab", "caf\xe9\tx\nna\xefve\ty\nfa\xe7ade\tz\n\xe0 la\tq\nok\tw\n"
                   .encode("latin-1"))
        self.write("c1.tab", "\u20ac\tx\n\u2019a\ty\nb\tz\u201c\nc\t\u2013\n".encode("cp1252"))
        self.write("one.tab", "café\tx\nnaïve\ty\nfa\xe7ade\tz\nok\tw\n".encode("latin-1")
                   .replace(b"caf\xe9", "café".encode()).replace(b"na\xefve", "naïve".encode()))
        self.write("u16.tab", "\ufeffpear\tfruit\n".encode("utf-16-le"))
        self.write("bare16.tab", "pear\tfruit\n".encode("utf-16-le"))
        self.write("empty.tab", "\n\n")
        self.write("sj.tab", b"a\tb\n\x81\tc\n")
        # A handful of stray bytes: 21 in 20,989 entries (20 named), not 22 in 21,966.
        many = "".join(f"w{i}\tv\n" for i in range(20968))
        self.write("many.tab", many.encode() + b"".join(b"x%d\xff\tv\n" % i for i in range(21)))
        self.write("more.tab", "".join(f"w{i}\tv\n" for i in range(21944)).encode() +
                   b"".join(b"x%d\xff\tv\n" % i for i in range(22)))
        self.write("bad16.tab", "\ufeffpear\tfruit\n".encode("utf-16-le") + b"\x00\xd8a\x00")
        self.write("bad.tab", "a /// b\tv\r\n")  # with a CRLF line end
        self.write("short.csv", "1,Straße\n2,Haus,house\n")
        index = self.path("fr.index")
        cases = [  # arguments, status, what standard error holds, what is written
            ([index, "-o", self.path("fr.dict.dz")], 1, "output 'SELF' is part of the source\n",
             None),
            ([index, "-o", self.path("link.dz")], 1,
             "output 'SELF' is part of the source (it is '" + self.path("fr.dict.dz") + "')",
             None),
            ([index, "-o", index], 1, "output 'SELF' is the source\n", None),
            ([self.path("l1.tab"), "-o", "X"], 1,
             "l1.tab is not UTF-8: 4 lines hold bytes that are not, the first "
             "SELF:1: 'caf\ufffd\\tx'; give --from ISO-8859-1", None),
            ([self.path("c1.tab"), "-o", "X"], 1, "give --from CP1252", None),
            ([self.path("one.tab"), "-o", "X"], 0,
             "one.tab:3: 1 byte not valid UTF-8 replaced in 'fa\ufffdade\\tz'",
             "café\tx\nnaïve\ty\nfa\ufffdade\tz\nok\tw\n"),
            ([self.path("one.tab"), "-o", "X"], 0, "lines with bytes replaced      1\n",
             "café\tx\nnaïve\ty\nfa\ufffdade\tz\nok\tw\n"),
            ([self.path("u16.tab"), "-o", "X"], 0, "read as UTF-16LE (its byte order mark)",
             "pear\tfruit\n"),
            ([self.path("bare16.tab"), "-o", "X"], 0, "read as UTF-16LE (its zero bytes)",
             "pear\tfruit\n"),
            ([self.path("fr.dict.dz"), "-o", "X"], 0, "part of a dictd dictionary: reading",
             "apple\ta fruit\npear\tanother\n"),
            ([self.path("empty.tab"), "-o", "X"], 1, "empty.tab: no entries to write", None),
            ([self.path("sj.tab"), "--from", "SHIFT_JIS", "-o", "X"], 0,
             "sj.tab:2: 1 byte not valid SHIFT_JIS replaced", "a\tb\n\ufffd\tc\n"),
            ([self.path("many.tab"), "-o", "X"], 0, "... and 1 more lines with bytes replaced\n",
             many + "".join(f"x{i}\ufffd\tv\n" for i in range(21))),
            ([self.path("more.tab"), "-o", "X"], 1, "more.tab is not UTF-8: 22 lines", None),
            ([self.path("bad16.tab"), "-o", "X"], 0,
             "bad16.tab:2: 1 character not valid UTF-16LE replaced", "pear\tfruit\n"),
            ([self.path("bad.tab"), "-o", "X"], 0, "keys repaired                  1",
             "a / b\tv\n"),
            ([self.path("short.csv"), "--key-column", "2", "--value-column", "3", "-o", "X"], 0,
             "short.csv:1: 'Straße' skipped: too few columns (2 of 3)", "Haus\thouse\n"),
            ([self.path("c1.tab"), "--from", "CP1252", "--to", "ASCII", "--translit", "-o",
              "X"], 0, "characters transliterated      4", "EUR\tx\n'a\ty\nb\tz\"\nc\t-\n"),
            ([self.path("c1.tab"), "--from", "CP1252", "--to", "ASCII", "--replace", "_", "-o",
              "X"], 0, "characters replaced            4", "_\tx\n_a\ty\nb\tz_\nc\t_\n"),
        ]
        for args, status, said, text in cases:
            with self.subTest(args=args):
                if os.path.exists(self.path("X")):
                    os.remove(self.path("X"))
                args = [a if a != "X" else self.path("X") for a in args]
                r = run(ZELKIMPORT, *args, check=False)
                err = r.stderr.decode(errors="replace")
                self.assertEqual(r.returncode, status, err)
                self.assertIn(said.replace("SELF", args[0] if "SELF:" in said
                                           else args[-1]), err)
                if text is None:
                    self.assertFalse(os.path.exists(self.path("X")))
                else:
                    self.assertEqual(self.read("X").decode(), text)
        self.assertTrue(os.path.getsize(self.path("fr.dict.dz")) > 0)


if __name__ == "__main__":
    ZELKIMPORT, ZELKPACK, ZELKDUMP = map(os.path.abspath, sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main()
