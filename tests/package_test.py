"""The Debian package, made with README's command and checked without the
build tree: its files and fields, lintian's verdict, apt's view of its
dependencies, and the installed programs at work after dpkg-deb -x into an
empty folder.

Usage: package_test.py BINARY_DIR SOURCE_DIR VERSION
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY = SOURCE = VERSION = ""
PROGRAMS = ("zelkpack", "zelkpress", "zelkdump", "zelkimport")


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=600, **kw)


def readme_commands(heading):
    """The commands of the sh blocks in README's section under heading."""
    with open(os.path.join(SOURCE, "README.md")) as f:
        text = f.read()
    section = text.split("\n## " + heading + "\n", 1)[1].split("\n## ", 1)[0]
    commands = []
    for block in section.split("```sh\n")[1:]:
        block = block.split("```", 1)[0]
        commands += [l.split("  #")[0].rstrip() for l in block.splitlines() if l.strip()]
    return commands


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.commands = readme_commands("Installing")
        # README's command, on the build tree this suite was built in.
        make = next(c for c in cls.commands if "--target package" in c)
        assert make == "cmake --build --preset release --target package", make
        r = run(["cmake", "--build", BINARY, "--target", "package"])
        assert r.returncode == 0, r.stdout + r.stderr
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        cls.deb = os.path.join(BINARY, f"zelk_{VERSION}_{arch}.deb")
        assert os.path.exists(cls.deb), os.listdir(BINARY)
        cls.dir = tempfile.mkdtemp(prefix="zelk-package.")
        cls.root = os.path.join(cls.dir, "root")
        os.mkdir(cls.root)
        r = run(["dpkg-deb", "-x", cls.deb, cls.root])
        assert r.returncode == 0, r.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def test_files(self):
        listed = run(["dpkg-deb", "-c", self.deb]).stdout.splitlines()
        files = sorted(line.split()[-1].lstrip(".") for line in listed if not line.startswith("d"))
        expected = sorted(
            [f"/usr/bin/{p}" for p in PROGRAMS]
            + [f"/usr/share/man/man1/{p}.1.gz" for p in PROGRAMS]
            + [f"/usr/share/doc/zelk/{f}" for f in ("README.md", "format.md", "copyright",
                                                    "changelog.gz")]
            + ["/usr/share/lintian/overrides/zelk"])
        self.assertEqual(files, expected)
        for line in listed:
            self.assertIn("root/root", line)
        for page in PROGRAMS:  # each man page reads without a complaint
            path = os.path.join(self.root, f"usr/share/man/man1/{page}.1.gz")
            r = subprocess.run(f"zcat '{path}' | groff -man -ww -z", shell=True,
                               capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stderr), (0, ""), page)

    def test_fields(self):
        self.assertEqual(self.field("Package"), "zelk")
        self.assertEqual(self.field("Version"), VERSION)
        # Worked out from the programs: each library they load, none made up.
        depends = self.field("Depends")
        for library in ("libc6", "libstdc++6", "libxml2", "libhunspell-1.7-0", "libsimdjson14",
                        "libutf8proc2", "zlib1g", "libcpp-httplib"):
            self.assertIn(library, depends)
        self.assertIn("hunspell-dictionary", self.field("Recommends"))

    def test_lintian_finds_no_error(self):
        r = run(["lintian", "--fail-on", "error", self.deb])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertNotRegex(r.stdout, re.compile(r"^[EW]: ", re.M))

    def test_apt_can_install_it(self):
        install = next(c for c in self.commands if "apt install" in c)
        self.assertEqual(install, "sudo apt install ./" + os.path.basename(self.deb))
        r = run(["apt-get", "install", "--simulate", "--no-install-recommends", self.deb])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_installed_programs_work_without_the_build_tree(self):
        bin_dir = os.path.join(self.root, "usr/bin")
        work = os.path.join(self.dir, "work")
        os.mkdir(work)
        env = {"PATH": bin_dir + ":/usr/bin:/bin", "LC_ALL": "C"}

        def sh(*args):
            return run(list(args), cwd=work, env=env)

        for program in PROGRAMS:
            r = sh(program, "--version")
            if program == "zelkpack":  # no --version: its usage names the version
                self.assertEqual(r.returncode, 1)
                self.assertIn(f"zelkpack v{VERSION}", r.stdout + r.stderr)
            else:
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertTrue(r.stdout.startswith(f"{program} {VERSION}"), r.stdout)
        shutil.copy(os.path.join(SOURCE, "examples/fruits.txt"), work)
        r = sh("zelkpack", "-n", "Fruits", "-o", "fruits.pdb", "fruits.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(SOURCE, "examples/fruits.txt")) as f:
            key, value = f.readline().rstrip("\n").split("\t", 1)
        r = sh("zelkdump", "lookup", "fruits.pdb", key)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(value, r.stdout)
        with open(os.path.join(work, "words.tab"), "w") as f:
            f.write("pomme\tapple\npoire\tpear\n")
        r = sh("zelkimport", "words.tab", "-o", "words.pdb")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("pear", sh("zelkdump", "lookup", "words.pdb", "poire").stdout)


if __name__ == "__main__":
    BINARY, SOURCE, VERSION = sys.argv[1:4]
    BINARY, SOURCE = map(os.path.abspath, (BINARY, SOURCE))
    del sys.argv[1:4]
    unittest.main()
