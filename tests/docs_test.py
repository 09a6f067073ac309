"""Every command that README and the man pages' EXAMPLES show, run as written
on data made here: the programs come first on PATH, /usr/share/dictd/ stands
for a folder of dictd databases made with dictfmt, and each command must end
as the documents say (status 0; 1 for --check, which says whether zelkpack
packs the text whole; serve keeps serving until it is stopped).

Usage: docs_test.py BINDIR SOURCEDIR
"""
import gzip
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

BIN = SOURCE = ""
PROGRAMS = r"(?:(?:build/release/src/)?zelk(?:pack|press|dump|import)|ZELK\w+=\S+ zelkpack)"


def readme_commands(text):
    commands, fenced = [], False
    for line in text.splitlines():
        if line.startswith("```"):
            fenced = not fenced
            continue
        line = line.split("   #")[0].split("  #")[0].rstrip()
        # Program lines; the synopsis ("[-n name]") and printed output are not.
        if fenced and re.match(PROGRAMS + r" (?![(\[]|is )", line) and " [-" not in line:
            commands.append(line)
    return commands


def man_examples(text):
    section = text.split(".SH EXAMPLES", 1)[1].split(".SH", 1)[0]
    lines = section.split(".nf\n", 1)[1].split(".fi", 1)[0].splitlines()
    unescaped = [l.replace("\\-", "-").replace("\\e", "\\") for l in lines if not l.startswith(".")]
    return [l.split("  #")[0].rstrip() for l in unescaped]


def port_free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def stardict(folder, name, entries):
    idx, data = b"", b""
    for key, value in sorted(entries):
        idx += key.encode() + b"\0" + struct.pack(">II", len(data), len(value.encode()))
        data += value.encode()
    with open(os.path.join(folder, name + ".idx"), "wb") as f:
        f.write(idx)
    with open(os.path.join(folder, name + ".dict"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, name + ".ifo"), "w") as f:
        f.write(f"StarDict's dict ifo file\nversion=2.4.2\nwordcount={len(entries)}\n"
                f"idxfilesize={len(idx)}\nbookname=Docs\nsametypesequence=m\n")


class Docs(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zelk-docs.")
        d = self.dir
        os.makedirs(os.path.join(d, "build/release"))
        os.symlink(BIN, os.path.join(d, "build/release/src"))
        shutil.copy(os.path.join(SOURCE, "examples/fruits.txt"), os.path.join(d, "fruits.txt"))
        self.sh(f"zelkpack -n Fruits -o fruits.pdb fruits.txt && mkdir run && "
                f"cp fruits.pdb run/")
        # Keys as GCIDE has them: mostly capitalised, a few not, one that begins with '-'.
        words = ["Abb", "Abbey", "Abbot", "Apple", "applecart", "Applesauce", "-ness", "Happiness"]
        with open(os.path.join(d, "gcide.txt"), "w") as f:
            f.writelines(f"{w}\tthe word {w}\n" for w in words)
        self.sh("zelkpack -n GCIDE -o gcide.pdb gcide.txt")
        os.makedirs(os.path.join(d, "dictd"))
        source = "".join(f":{w}:{w.lower()}, a word\n" for w in ["apple", "pear", "tree"])
        subprocess.run(["dictfmt", "-j", "--utf8", "-s", "WordNet (generated)", "--quiet",
                        os.path.join(d, "dictd/wn")], input=source.encode(), check=True)
        stardict(d, "Dict", [("café", "coffee house"), ("naïve", "innocent")])
        with open(os.path.join(d, "dict.tab"), "w") as f:
            f.write("café\tun lieu où l'on boit du café — ou du thé\n")
        with gzip.open(os.path.join(d, "words.jsonl.gz"), "wt") as f:
            f.write('{"word": "cat", "lang_code": "en", "pos": "noun", "sounds": [{"ipa": "/kat/"}],'
                    ' "senses": [{"glosses": ["a pet"]}], "forms": [{"form": "cats"}]}\n')
        with open(os.path.join(d, "dict.dsl"), "w") as f:
            f.write('#NAME "Docs"\n\ncat\n\t[m1][trn]a pet[/trn][/m]\n')
        with open(os.path.join(d, "dict.xdxf"), "w") as f:
            f.write('<xdxf format="visual"><full_name>Docs</full_name><ar><k>cat</k>a pet</ar></xdxf>')
        with open(os.path.join(d, "forms.txt"), "w") as f:
            f.write("apples\tapple\n")
        with open(os.path.join(d, "words.csv"), "w") as f:
            f.write("id,word,kind,meaning\n1,apple,noun,a fruit\n2,\"pear\",noun,\"a\nfruit\"\n")
        with open(os.path.join(d, "big.txt"), "w") as f:
            f.writelines(f"word{i}\t{'lorem ipsum ' * (i % 50)}\n" for i in range(5000))
        os.makedirs(os.path.join(d, "out"), exist_ok=True)
        with open(os.path.join(d, "out/dic0000.txt"), "w") as f:
            f.write("apple\ta fruit\n")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def sh(self, command, timeout=120):
        env = dict(os.environ, PATH=BIN + os.pathsep + os.environ["PATH"])
        command = command.replace("/usr/share/dictd/", self.dir + "/dictd/")
        return subprocess.run(["bash", "-c", command], cwd=self.dir, env=env,
                              capture_output=True, timeout=timeout, check=False)

    def run_all(self, commands):
        self.assertTrue(commands)
        for command in commands:
            with self.subTest(command=command):
                if command.startswith("sudo "):
                    continue  # installs Debian's package; its data is made here
                if " serve " in command:
                    if not port_free(8080):  # the default port, taken by another program
                        self.skipTest("port 8080 is in use")
                    r = self.sh(f"timeout 2 {command}")
                    self.assertEqual(r.returncode, 124, r.stderr)  # still serving when stopped
                    continue
                r = self.sh(command)
                allowed = (0, 1) if "--check" in command else (0,)
                self.assertIn(r.returncode, allowed, r.stderr.decode(errors="replace"))

    def test_readme(self):
        with open(os.path.join(SOURCE, "README.md")) as f:
            commands = readme_commands(f.read())
        self.assertIn("zelkimport /usr/share/dictd/wn.index -o wn.pdb", commands)
        self.run_all(commands)

    def test_man_pages(self):
        for page in ("zelkpack", "zelkpress", "zelkdump", "zelkimport"):
            with open(os.path.join(SOURCE, "man", page + ".1.in")) as f:
                self.run_all(man_examples(f.read()))


if __name__ == "__main__":
    BIN, SOURCE = map(os.path.abspath, sys.argv[1:3])
    del sys.argv[1:3]
    unittest.main()
