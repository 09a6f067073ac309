"""zelkdump on databases in the device's character sets: queries typed in
UTF-8 are searched in the database's set, and what is shown is UTF-8.

Usage: charset_test.py ZELKIMPORT ZELKDUMP
"""
import json
import os
import socket
import subprocess
import sys
import unittest
import urllib.parse
import urllib.request

from scratch import Scratch

ZELKIMPORT = ZELKDUMP = ""

SPANISH = [("báltico", "del mar Báltico"), ("Árbol", "planta"), ("árbol", "planta leñosa"),
           ("café", "bebida"), ("niño", "chico")]
JAPANESE = [("かな", "ひらがな"), ("カナ", "katakana"), ("日本", "Japan"), ("日本語", "Japanese"),
            ("ＡＢＣ", "full-width letters")]


class Charsets(Scratch):
    prefix = "zelk-charset."

    def database(self, name, entries, charset):
        self.write(name + ".tab", "".join(f"{k}\t{v}\n" for k, v in entries))
        subprocess.run([ZELKIMPORT, self.path(name + ".tab"), "--to", charset, "-o",
                        self.path(name + ".pdb")], check=True, capture_output=True)
        return self.path(name + ".pdb")

    def dump(self, *args):
        r = subprocess.run([ZELKDUMP, *args], capture_output=True, timeout=60)
        return r.returncode, r.stdout.decode(), r.stderr.decode()

    def test_searches_from_utf8(self):
        cp1252 = self.database("es", SPANISH, "CP1252")
        sjis = self.database("ja", JAPANESE, "SHIFT_JIS")
        # Keys all ASCII, one chunk: its text tells the set.
        text_only = self.database("t", [("cafe", "una bebida: café")], "CP1252")
        nf = "zelkdump: {}: '{}' not found; did you mean: {}?\n"
        cases = [  # database, options, keys, status, output, errors
            (cp1252, [], ["báltico"], 0, "báltico\tdel mar Báltico\n", ""),
            (text_only, [], ["cafe"], 0, "cafe\tuna bebida: café\n", ""),
            (cp1252, ["-s", "prefix"], ["ár"], 0, "árbol\tplanta leñosa\n", ""),
            (cp1252, ["-s", "nocase"], ["ÁRBOL"], 0, "Árbol\tplanta\nárbol\tplanta leñosa\n", ""),
            (cp1252, ["-s", "lev"], ["nino"], 0, "niño\tchico\n", ""),
            (cp1252, [], ["baltico"], 0, "báltico\tdel mar Báltico\n",  # found without accents
             f"zelkdump: {cp1252}: 'baltico' not found; without case and accents: 'báltico'\n"),
            (cp1252, [], ["baltic"], 1, "", nf.format(cp1252, "baltic", "'báltico'")),
            (cp1252, [], ["ARBOL"], 0, "Árbol\tplanta\nárbol\tplanta leñosa\n",
             f"zelkdump: {cp1252}: 'ARBOL' not found; without case and accents: 'Árbol', 'árbol'\n"),
            (cp1252, [], ["Cafe", "zzz"], 1, "café\tbebida\n",
             f"zelkdump: {cp1252}: 'Cafe' not found; without case and accents: 'café'\n"
             f"zelkdump: {cp1252}: 'zzz' not found\n"),
            (cp1252, [], [b"\xe1rbol"], 0, "árbol\tplanta leñosa\n", ""),  # its own bytes
            (cp1252, [], ["ő"], 1, "",
             f"zelkdump: {cp1252}: 'ő': 'ő' (U+0151) has no place in CP1252\n"),
            (sjis, ["--charset", "SHIFT_JIS"], ["日本"], 0, "日本\tJapan\n", ""),
            (sjis, ["--charset", "SHIFT_JIS", "-s", "prefix"], ["日本"], 0,
             "日本\tJapan\n日本語\tJapanese\n", ""),
            (sjis, ["--charset", "SHIFT_JIS", "-s", "lev"], ["かね"], 0, "かな\tひらがな\n", ""),
            (sjis, ["--charset", "SHIFT_JIS", "-s", "nocase"], ["ａｂｃ"], 0,
             "ＡＢＣ\tfull-width letters\n", ""),
            (sjis, ["--charset", "SHIFT_JIS"], ["日"], 1, "", nf.format(sjis, "日", "'日本'")),
            (cp1252, [], ["a" * 59 + "éb"], 1, "",  # quoted up to 60 bytes, whole characters
             f"zelkdump: {cp1252}: '{'a' * 59}é...' not found\n"),
        ]
        for db, options, keys, status, out, err in cases:
            with self.subTest(options=options, keys=keys):
                self.assertEqual(self.dump("lookup", *options, db, *keys), (status, out, err))

    def test_info_keys_and_extract(self):
        cp1252 = self.database("es", SPANISH, "CP1252")
        sjis = self.database("ja", JAPANESE, "SHIFT_JIS")
        utf8 = self.database("u", SPANISH + [("Łódź", "miasto")], "UTF-8")
        self.assertIn("charset:       CP1252 (assumed: its keys are not UTF-8)\n",
                      self.dump("info", cp1252)[1])
        self.assertIn("charset:       UTF-8 (assumed: its keys are valid UTF-8)\n",
                      self.dump("info", utf8)[1])
        self.assertIn("charset:       SHIFT_JIS\n", self.dump("info", "--charset", "SHIFT_JIS",
                                                          sjis)[1])
        self.assertIn('"charset": "CP1252"', self.dump("info", "--json", cp1252)[1])
        self.assertEqual(self.dump("keys", "--charset", "SHIFT_JIS", sjis, "日")[1], "日本\n日本語\n")
        # extract writes the stored bytes unless told the set.
        stored = subprocess.run([ZELKDUMP, "extract", cp1252], capture_output=True).stdout
        self.assertIn("báltico".encode("cp1252"), stored)
        self.assertIn("báltico\t", self.dump("extract", "--charset", "CP1252", cp1252)[1])
        self.assertEqual(self.dump("info", "--charset", "NOSUCHSET", cp1252)[0], 2)
        # A byte the set leaves undefined (0x81 in CP1252) is shown as \xNN.
        self.assertIn("Å\\x81Ã³dÅº\tmiasto\n", self.dump("extract", "--charset", "CP1252", utf8)[1])

    def test_serve_answers_in_utf8(self):
        cp1252 = self.database("es", SPANISH, "CP1252")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        server = subprocess.Popen([ZELKDUMP, "serve", cp1252, "--port", str(port)],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            server.stdout.readline()  # the address: it is listening

            def get(path, **query):
                url = f"http://127.0.0.1:{port}/{path}?{urllib.parse.urlencode(query)}"
                try:
                    with urllib.request.urlopen(url, timeout=10) as r:
                        return r.status, json.loads(r.read())
                except urllib.error.HTTPError as e:
                    return e.code, json.loads(e.read())

            status, found = get("api/lookup", q="báltico")
            self.assertEqual((status, found["entries"]),
                             (200, [{"key": "báltico", "value": "del mar Báltico"}]))
            self.assertEqual(get("api/keys", prefix="á")[1]["keys"], ["árbol"])
            found = get("api/lookup", q="baltico")[1]  # without accents, as on the command line
            self.assertEqual((found["found_as"], found["entries"][0]["key"]), ("báltico", "báltico"))
            self.assertEqual(get("api/lookup", q="baltica")[1]["suggestions"], ["báltico"])
            status, problem = get("api/lookup", q="ő")
            self.assertEqual(status, 400)
            self.assertIn("(U+0151) has no place in CP1252", problem["error"])
        finally:
            server.terminate()
            server.wait(timeout=10)


if __name__ == "__main__":
    ZELKIMPORT, ZELKDUMP = map(os.path.abspath, sys.argv[1:3])
    del sys.argv[1:3]
    unittest.main()
