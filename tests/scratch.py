"""A test case with a scratch folder of its own, for the tests that run the
programs on files they write."""
import os
import shutil
import tempfile
import unittest


class Scratch(unittest.TestCase):
    prefix = "zelk."

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.prefix)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()
