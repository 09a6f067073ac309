"""zelkdump serve against real clients: the JSON API over HTTP, and the page
in headless Chromium driven by Selenium (skipped where Chromium is missing).

Usage: serve_test.py ZELKPACK ZELKDUMP
"""
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

ZELKPACK = ZELKDUMP = ""

DICTIONARY = (
    b"apple\tthe round fruit of a tree; see {Apple blight} and {Malus nowhere}\n"
    b"Apple\ta company, capitalised\n"
    b"Apple blight\ta disease of {APPLE} trees\n"
    b"blight\t\xe2\x86\x92 Apple blight, banana\n"
    b"Absence\tbeing away\nabsolute\twhole\nAbsolute\tcomplete\nabsolute\tfree of limits\n"
    b"\xc3\x84pfel\tapples\n\xc3\xa4pfelchen\tsmall apples\n"
    b"apricot\t<img src=x onerror=\"document.title='pwned'\">\n"
    b"evil\t<script>document.title='pwned'</script>\n"
    b"banana\ta long yellow fruit\n"
    b"bad\xff\tbytes \xfe that are not UTF-8\n"
    b"over\xe0\x80\x80\xf0\x80\x80\x80\xf4\x90\x80\x80\xed\xa0\x80\tovers and surrogates\n"
    b"max\xf4\x8f\xbf\xbf\tthe last code point\n"
    + b"".join(b"key%04d\tvalue %d\n" % (i, i) for i in range(3000))
    # Sixty keys that begin as "\xc3\xa9t\xc3\xa9" does, but for its accents, and sort before it.
    + b"".join(b"etea%03d\tsummers %d\n" % (i, i) for i in range(60))
    + "\u00e9t\u00e9\tsummer\n".encode()
)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, database, directory, host="127.0.0.1", more=()):
        self.port = free_port()
        # The test database is UTF-8 with stray bytes: said so, they are shown escaped.
        self.proc = subprocess.Popen([ZELKDUMP, "serve", database, "--port", str(self.port),
                                      "--charset", "UTF-8", "--host", host, *more],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     cwd=directory)
        self.url = f"http://{host}:{self.port}/"
        banner = self.proc.stdout.readline().decode()
        assert banner == f"zelkdump: serving {database} at {self.url} (Ctrl-C stops)\n", banner

    def get(self, path, method="GET", headers=None):
        request = urllib.request.Request(self.url + path, method=method, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=10) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def api(self, path):
        status, _, body = self.get(path)
        return status, json.loads(body)

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        status = self.proc.wait(timeout=10)
        err = self.proc.stderr.read().decode()
        self.proc.stdout.close()
        self.proc.stderr.close()
        return status, err


class Serve(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="zelkserve.")
        with open(os.path.join(cls.dir, "d.txt"), "wb") as f:
            f.write(DICTIONARY)
        subprocess.run([ZELKPACK, "-k", "2048", "-o", "d.pdb", "d.txt"], cwd=cls.dir,
                       check=True, capture_output=True)
        cls.server = Server("d.pdb", cls.dir)

    @classmethod
    def tearDownClass(cls):
        status, err = cls.server.stop()
        shutil.rmtree(cls.dir)
        assert status == 0 and "stopped serving d.pdb" in err, (status, err)

    def test_api(self):
        cases = [  # path, status, fields expected in the answer
            ("api/keys?prefix=ap", 200, {"keys": ["apple", "apricot"], "more": False}),
            ("api/keys?prefix=key&limit=2&offset=5", 200, {"keys": ["key0005", "key0006"],
                                                           "more": True}),
            ("api/keys?prefix=b", 200, {"keys": ["bad\\xFF", "banana", "blight"]}),
            ("api/keys?prefix=max", 200, {"keys": ["max\U0010FFFF"]}),
            ("api/keys?prefix=over", 200,
             {"keys": ["over" + "".join("\\x%02X" % b for b in b"\xe0\x80\x80\xf0\x80\x80\x80"
                                                                 b"\xf4\x90\x80\x80\xed\xa0\x80")]}),
            ("api/lookup?q=apple", 200, {"entries": [{"key": "apple",
                                                      "value": "the round fruit of a tree; see {Apple blight} and {Malus nowhere}"}]}),
            ("api/lookup?q=APPLE&s=nocase", 200,
             {"entries": [{"key": "Apple", "value": "a company, capitalised"},
                          {"key": "apple", "value": "the round fruit of a tree; see {Apple blight} and {Malus nowhere}"}]}),
            ("api/lookup?q=aple&s=lev", 200, {"entries": [{"key": "apple",
                                                           "value": "the round fruit of a tree; see {Apple blight} and {Malus nowhere}"}]}),
            ("api/lookup?q=aple", 200, {"entries": [], "suggestions": ["Apple", "apple", "Äpfel"]}),
            ("api/lookup?q=bad%FF", 200, {"entries": [{"key": "bad\\xFF",
                                                       "value": "bytes \\xFE that are not UTF-8"}]}),
            ("api/lookup?q=key&s=prefix&limit=3", 200, {"more": True}),
            ("api/lookup?q=key&s=prefix", 200, {"more": True}),  # 50 unless told
            ("api/lookup?q=x&s=regex", 400, {"error": "s must be exact, prefix, nocase or lev"}),
            ("api/keys?limit=501", 400, {"error": "limit must be a number from 0 to 500"}),
            ("api/keys?offset=-1", 400, {}),
            ("api/lookup?q=" + "a" * 1025, 400, {"error": "q is longer than 1024 bytes"}),
            ("nothing", 404, {"error": "not found"}),
            ("../d.txt", 404, {}),
        ]
        for path, status, fields in cases:
            with self.subTest(path=path[:60]):
                got_status, answer = self.server.api(path)
                self.assertEqual(got_status, status, answer)
                for k, v in fields.items():
                    self.assertEqual(answer[k], v)
                if path.endswith("prefix"):
                    self.assertEqual(len(answer["entries"]), 50)

    def test_nocase_keys_and_existing_keys(self):
        status, answer = self.server.api("api/keys?prefix=ABS&nocase=1")
        self.assertEqual((status, answer["keys"]), (200, ["Absence", "Absolute", "absolute"]))
        # The key the text stands for first, wherever it stands among those that begin so.
        status, answer = self.server.api("api/keys?prefix=ETE&nocase=1&limit=50")
        self.assertEqual((answer["keys"][:2], len(answer["keys"])), (["\u00e9t\u00e9", "etea000"], 50))
        status, answer = self.server.api("api/keys?prefix=absolute&nocase=1")
        self.assertEqual(answer["keys"], ["absolute", "Absolute"])
        # Not found as typed: what folds alike, said so, as on the command line.
        status, answer = self.server.api("api/lookup?q=%C3%89T%C3%89")
        self.assertEqual((answer["entries"], answer.get("found_as"), answer.get("without_case_and_accents")),
                         ([{"key": "\u00e9t\u00e9", "value": "summer"}], "\u00e9t\u00e9", True))
        status, answer = self.server.api("api/lookup?q=zzzz")
        self.assertNotIn("found_as", answer)
        status, answer = self.server.api("api/keys?prefix=ABS")
        self.assertEqual(answer["keys"], [])
        status, answer = self.server.api(
            "api/exists?k=Apple%20blight&k=Malus%20nowhere&k=apple&k=APFEL&k=APPLE%20BLIGHT")
        self.assertEqual(answer["keys"], ["Apple blight", "apple", "APFEL", "APPLE BLIGHT"])
        self.assertEqual(answer["targets"], {"Apple blight": "Apple blight", "apple": "apple",
                                             "APFEL": "\u00c4pfel",
                                             "APPLE BLIGHT": "Apple blight"})

    def test_lookups_at_the_same_time_each_get_their_own_entry(self):
        # Threads expanding different chunks at once must not share state.
        wrong = []

        def client(first):
            for i in range(first, 3000, 40):
                try:
                    _, answer = self.server.api(f"api/lookup?q=key{i:04d}")
                except OSError as e:
                    answer = {"entries": str(e)}
                if answer["entries"] != [{"key": f"key{i:04d}", "value": f"value {i}"}]:
                    wrong.append((i, answer))

        threads = [threading.Thread(target=client, args=(n,)) for n in range(40)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(wrong[:3], [])
        self.assertIsNone(self.server.proc.poll())

    def test_only_get_and_only_loopback_names(self):
        self.assertEqual(self.server.get("api/info", method="POST")[0], 405)
        self.assertEqual(self.server.get("api/info", method="DELETE")[0], 405)
        self.assertEqual(self.server.get("api/info", headers={"Host": "evil.example"})[0], 403)
        status, headers, _ = self.server.get("")
        self.assertEqual(status, 200)
        self.assertIn("script-src 'self'", headers["Content-Security-Policy"])
        self.assertEqual(headers["X-Content-Type-Options"], "nosniff")

    def test_bad_clients(self):
        # On another loopback address, only the names of that address are answered.
        server = Server("d.pdb", self.dir, host="127.0.0.2")
        try:
            for host, status in (("attacker.example", 403), (f"attacker.example:{server.port}",
                                 403), (f"localhost:{server.port}", 200), (None, 200)):
                headers = {"Host": host} if host else {}
                self.assertEqual(server.get("api/info", headers=headers)[0], status, host)
        finally:
            server.stop()
        # A request must arrive whole within a few seconds of its first byte.
        request = b"GET /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        with socket.create_connection(("127.0.0.1", self.server.port)) as c:
            start = time.monotonic()
            for byte in request:
                c.send(bytes([byte]))
                if select.select([c], [], [], 1)[0]:
                    break  # the server gave up on it
            self.assertLess(time.monotonic() - start, 8)
            self.assertNotIn(b"200 OK", c.recv(1000))
        # 40 clients doing so over and over hold nothing a lookup needs.
        stop = threading.Event()

        def drip():
            while not stop.is_set():
                with socket.create_connection(("127.0.0.1", self.server.port)) as c:
                    for byte in request:
                        c.send(bytes([byte]))
                        if stop.wait(1.5) or select.select([c], [], [], 0)[0]:
                            break  # cut off: start again
        clients = [threading.Thread(target=drip) for _ in range(40)]
        for c in clients:
            c.start()
        time.sleep(2)
        waits = []
        for i in range(20):
            start = time.monotonic()
            self.assertEqual(self.server.api(f"api/lookup?q=key{i:04d}")[0], 200)
            waits.append(time.monotonic() - start)
            time.sleep(0.2)
        stop.set()
        for c in clients:
            c.join()
        self.assertLess(max(waits), 1.0)

    def test_busy_with_long_walks(self):
        # With no time to wait for a turn, requests beyond the two at a time
        # that read many chunks are answered 503; the others are not slowed.
        with open(os.path.join(self.dir, "big.txt"), "wb") as f:
            f.writelines(b"word%06d\tthe value of word %d\n" % (i, i) for i in range(150000))
        subprocess.run([ZELKPACK, "-l", "-o", "big.pdb", "big.txt"], cwd=self.dir,
                       check=True, capture_output=True)
        server = Server("big.pdb", self.dir, more=("--wait", "0"))
        try:
            for path in ("api/lookup?q=wird000001&s=lev", "api/keys?offset=140000&limit=5"):
                answers = []
                burst = [threading.Thread(target=lambda: answers.append(server.api(path)))
                         for _ in range(12)]
                for t in burst:
                    t.start()
                for t in burst:
                    t.join()
                statuses = sorted(status for status, _ in answers)
                self.assertEqual(statuses[0], 200, path)
                self.assertEqual(statuses[-1], 503, path)
                busy = [answer for status, answer in answers if status == 503][0]
                self.assertIn("busy", busy["error"])
            self.assertEqual(server.api("api/lookup?q=word000001")[0], 200)
        finally:
            server.stop()

    def test_damaged_database_gives_errors_not_a_crash(self):
        with open(os.path.join(self.dir, "d.pdb"), "rb") as f:
            data = bytearray(f.read())
        last = int.from_bytes(data[78 + 8 * 2:78 + 8 * 2 + 4], "big")  # record 2: a chunk
        data[last + 10:last + 40] = b"\x00" * 30
        with open(os.path.join(self.dir, "bad.pdb"), "wb") as f:
            f.write(data)
        server = Server("bad.pdb", self.dir)
        try:
            status, info = server.api("api/info")
            self.assertEqual(status, 200)
            self.assertGreater(info["damaged_chunks"], 0)
            status, answer = server.api("api/lookup?q=zzz&s=lev")
            self.assertEqual(status, 200)
            self.assertTrue(any(p.startswith("zelkdump: bad.pdb: record 2 at offset 0x")
                                and "cannot expand" in p for p in answer["problems"]), answer)
            self.assertFalse([p for p in answer["problems"] if "\n" in p])  # a problem a line
        finally:
            self.assertEqual(server.stop()[0], 0)

    def test_page_in_a_browser(self):
        try:
            from selenium import webdriver
            from selenium.webdriver.common.by import By
            from selenium.webdriver.common.keys import Keys
            from selenium.webdriver.chrome.service import Service
            from selenium.webdriver.support.ui import WebDriverWait
        except ImportError:
            self.skipTest("python3-selenium is not installed")
        if not os.path.exists("/usr/bin/chromium") or not os.path.exists("/usr/bin/chromedriver"):
            self.skipTest("chromium and chromium-driver are not installed")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        profile = tempfile.mkdtemp(prefix="zelkchrome.")
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--window-size=1200,900", f"--user-data-dir={profile}"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        wait = WebDriverWait(driver, 10)

        def texts(css):  # read in one go: the page may redraw between two reads
            return driver.execute_script(
                "return [...document.querySelectorAll(arguments[0])].map(e => e.textContent)",
                css)
        try:
            driver.get(self.server.url)
            box = driver.find_element(By.ID, "query")
            box.send_keys("apr")
            wait.until(lambda d: texts("#results li") == ["apricot"])
            box.send_keys(Keys.ENTER)
            wait.until(lambda d: texts("#entry .value"))
            self.assertEqual(texts("#entry .value"),
                             ["<img src=x onerror=\"document.title='pwned'\">"])
            self.assertEqual(driver.find_elements(By.CSS_SELECTOR, "#entry img"), [])
            self.assertIn("q=apricot", driver.current_url)

            box.clear()
            box.send_keys("app")  # without case, each key once, in dictionary order
            wait.until(lambda d: texts("#results li") == ["Apple", "Apple blight", "apple"])
            box.send_keys(Keys.ARROW_DOWN, Keys.ARROW_DOWN, Keys.ARROW_UP, Keys.ARROW_DOWN,
                          Keys.ENTER)
            wait.until(lambda d: texts("#entry .key") == ["apple"])
            # Cross-references to keys the database has are links.
            wait.until(lambda d: texts("#entry .value a.reference") == ["Apple blight"])
            self.assertIn("{Malus nowhere}", texts("#entry .value")[0])
            driver.find_element(By.CSS_SELECTOR, "#entry .value a.reference").click()
            wait.until(lambda d: texts("#entry .key") == ["Apple blight"])
            wait.until(lambda d: texts("#entry .value a.reference") == ["APPLE"])  # but for case
            driver.back()  # each entry looked at is a page of the history
            wait.until(lambda d: texts("#entry .key") == ["apple"])
            driver.get(self.server.url + "?q=blight")  # a form points at its headwords
            wait.until(lambda d: texts("#entry .value a.reference") == ["Apple blight", "banana"])
            self.assertEqual(driver.find_element(By.CSS_SELECTOR, "#entry .value")
                             .get_attribute("dir"), "auto")
            box = driver.find_element(By.ID, "query")

            box.clear()
            box.send_keys("ABS")
            wait.until(lambda d: texts("#results li") == ["Absence", "Absolute", "absolute"])
            box.clear()
            box.send_keys("äp")  # without case and accents
            wait.until(lambda d: texts("#results li") == ["Apple", "Apple blight", "apple",
                                                          "apricot", "\u00c4pfel",
                                                          "\u00e4pfelchen"])

            box.clear()
            box.send_keys("\u00e9t\u00e9")  # the key typed comes first, past sixty that begin so
            wait.until(lambda d: texts("#results li")[:2] == ["\u00e9t\u00e9", "etea000"])
            box.send_keys(Keys.ENTER)
            wait.until(lambda d: texts("#entry .key") == ["\u00e9t\u00e9"])
            driver.get(self.server.url + "?q=BANANA")  # found without case, and said so
            wait.until(lambda d: texts("#entry .key") == ["banana"])
            self.assertIn("without case and accents: 'banana'", texts("#entry .hint")[0])

            driver.get(self.server.url + "?q=evil&s=exact")  # a deep link
            wait.until(lambda d: texts("#entry .value") ==
                       ["<script>document.title='pwned'</script>"])
            self.assertEqual(driver.find_elements(By.CSS_SELECTOR, "#entry script"), [])

            driver.get(self.server.url + "?q=APPLE&s=nocase")
            wait.until(lambda d: texts("#entry .key") == ["Apple", "apple"])
            # The deep link fills the list as typing would, each key once.
            wait.until(lambda d: texts("#results li") == ["Apple", "Apple blight", "apple"])
            driver.get(self.server.url + "?q=aple")
            wait.until(lambda d: texts(".suggestions button") == ["Apple", "apple", "Äpfel"])

            wait.until(lambda d: texts("#index-label"))
            self.assertTrue(texts("#index-label")[0].startswith("index record: "))
            bars = driver.find_elements(By.CSS_SELECTOR, "#chunk-picture rect.stored-bar")
            self.assertGreater(len(bars), 1)
            self.assertNotEqual(driver.title, "pwned")
            shot = os.environ.get("ZELK_SCREENSHOT", os.path.join(self.dir, "page.png"))
            driver.save_screenshot(shot)
        finally:
            driver.quit()
            shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    ZELKPACK, ZELKDUMP = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main()
