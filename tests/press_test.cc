// zelkpack's built-in compression against running ./zelkpress: with nothing
// at ./zelkpress, or the companion of this build there, zelkpack compresses
// itself and must leave exactly what the program leaves; anything else at
// ./zelkpress is run once per chunk.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/companion.h"
#include "helpers.h"

namespace {

using zelk_test::install_copy;
using zelk_test::read_file;
using zelk_test::read_tree;
using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;
using zelk_test::write_script;

struct Packed {
  RunResult run;
  std::map<std::string, std::string> files;  // zelk.pdb and out/...
};

using Prepare = std::function<void(const TempDir&)>;

// Packs input in a fresh directory: built in (nothing at ./zelkpress), or
// through a copy of the program run for each chunk (ZELKPACK_SPAWN=1).
Packed pack(const std::string& input, const std::vector<std::string>& args, bool spawn,
            const Prepare& setup = nullptr, const std::string& limits = "") {
  TempDir dir;
  write_file(dir / "d.txt", input);
  if (setup) setup(dir);
  std::string prefix = limits;
  if (spawn) {
    install_copy(ZELKPRESS, dir / "zelkpress");
    prefix += "ZELKPACK_SPAWN=1 ";
  }
  std::vector<std::string> all = args;
  all.push_back("d.txt");
  RunResult run = zelk_test::run_in(dir.path, ZELKPACK, all, prefix.empty() ? "" : prefix + "exec");
  std::remove((dir / "zelkpress").c_str());
  std::remove((dir / "d.txt").c_str());
  return {run, read_tree(dir.path)};
}

void expect_same(const Packed& built_in, const Packed& spawned, const std::string& what) {
  EXPECT_EQ(built_in.run.status, spawned.run.status) << what;
  EXPECT_EQ(built_in.run.out, spawned.run.out) << what;
  EXPECT_EQ(built_in.run.err, spawned.run.err) << what;
  EXPECT_EQ(built_in.files.size(), spawned.files.size()) << what;
  for (const auto& [name, bytes] : spawned.files) {
    auto it = built_in.files.find(name);
    ASSERT_NE(it, built_in.files.end()) << what << ": " << name;
    EXPECT_TRUE(it->second == bytes) << what << ": " << name << " differs";
  }
}

std::string entries(int n, int distinct, size_t value_length) {
  std::string text;
  std::mt19937 rng(static_cast<unsigned>(n));
  for (int i = 0; i < n; ++i) {
    text += "word" + std::to_string(rng() % static_cast<unsigned>(distinct)) + "\t";
    for (size_t k = 0; k < value_length; ++k) text += "the fruit of a tree "[k % 20];
    text += std::to_string(i) + "\n";
  }
  return text;
}

// Bytes that no compressor can shrink: any but NUL, tab, line feed and return.
std::string noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    char c = static_cast<char>(rng());
    if (c != '\0' && c != '\t' && c != '\n' && c != '\r') s += c;
  }
  return s;
}

TEST(BuiltIn, LeavesWhatTheProgramLeaves) {
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> args;
    std::string limits;  // environment for the built-in run
  };
  const Case cases[] = {
      {"one chunk", "a\tx\n", {}, ""},
      {"many chunks, traced", entries(3000, 3000, 40), {"-d", "-k", "512"}, ""},
      {"many chunks, one thread",
       entries(3000, 3000, 40),
       {"-d", "-k", "512"},
       "ZELKPACK_THREADS=1 "},
      {"K = 20", "ab\t1234567\naa\t1234567\nb\t1\nc\t12345678901234\n", {"-k", "20"}, ""},
      {"repeated keys", entries(800, 9, 30), {"-k", "300"}, ""},
      {"K = 65535, incompressible",
       "k\t" + noise(40000, 1) + "\nl\t" + noise(25529, 2) + "\nm\tshort\n",  // 65535 + 8 bytes
       {"-k", "65535"},
       ""},
  };
  for (const Case& c : cases) {
    Packed built_in = pack(c.input, c.args, false, nullptr, c.limits);
    expect_same(built_in, pack(c.input, c.args, true), c.what);
    if (std::string(c.what) == "one chunk") {
      EXPECT_EQ(built_in.run.status, 0);
    }
  }
}

TEST(BuiltIn, FailsAsTheProgramFails) {
  auto in_out = [](const std::function<void(const TempDir&)>& f) {
    return [f](const TempDir& dir) {
      mkdir((dir / "out").c_str(), 0755);
      f(dir);
    };
  };
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> args;
    Prepare setup;
    std::string limits;
    std::string err_end;
  };
  const std::string three = entries(300, 300, 20);
  const Case cases[] = {
      {"a compressed chunk's path is a directory",
       three,
       {"-k", "2048"},
       in_out([](const TempDir& d) { mkdir((d / "out/dic0001.txz").c_str(), 0755); }),
       "",
       "zelkpress: cannot create 'out/dic0001.txz': Is a directory\n"
       "Can not open 'out/dic0001.txz' for reading\n"},
      // Large chunks: the next one is read while the first is compressed.
      {"a compressed chunk's path links to the next chunk file",
       entries(4000, 4000, 40),
       {"-k", "60000"},
       in_out([](const TempDir& d) { symlink("dic0001.txt", (d / "out/dic0000.txz").c_str()); }),
       "",
       ""},
      {"a compressed chunk's path is its own chunk file",
       three,
       {"-k", "2048"},
       in_out([](const TempDir& d) {
         write_file(d / "out/dic0001.txt", "");
         link((d / "out/dic0001.txt").c_str(), (d / "out/dic0001.txz").c_str());
       }),
       "",
       ""},
      {"a file size limit",
       "k\t" + noise(3066, 3) + "\n",
       {},
       nullptr,
       "ulimit -f 6; ",
       "zelkpress: cannot write 'out/dic0000.txz': File too large\n"
       "Can not open 'out/dic0000.txz' for reading\n"},
  };
  for (const Case& c : cases) {
    Packed built_in = pack(c.input, c.args, false, c.setup, c.limits);
    expect_same(built_in, pack(c.input, c.args, true, c.setup, c.limits), c.what);
    const std::string& err = built_in.run.err;
    EXPECT_EQ(err.substr(err.size() - std::min(err.size(), c.err_end.size())), c.err_end) << c.what;
  }
}

TEST(BuiltIn, RecognisesOnlyTheCompanion) {
  const std::string tag = zelk::companion_tag();
  auto changed = [&](const TempDir& d) {
    std::string bytes = read_file(ZELKPRESS);
    size_t at = bytes.find(tag);
    ASSERT_NE(at, std::string::npos) << "the companion carries its tag";
    bytes[at + tag.size() - 1] ^= 1;
    write_file(d / "zelkpress", bytes);
    chmod((d / "zelkpress").c_str(), 0755);
  };
  struct Case {
    const char* what;
    Prepare setup;
    bool companion;
  };
  const Case cases[] = {
      {"the companion", [](const TempDir& d) { install_copy(ZELKPRESS, d / "zelkpress"); }, true},
      {"a link to it",
       [](const TempDir& d) {
         install_copy(ZELKPRESS, d / "real");
         symlink("real", (d / "zelkpress").c_str());
       },
       true},
      {"a stripped copy",
       [](const TempDir& d) {
         install_copy(ZELKPRESS, d / "zelkpress");
         ASSERT_EQ(std::system(("strip '" + (d / "zelkpress") + "'").c_str()), 0);
       },
       true},
      {"one byte of the tag changed", changed, false},
      {"not executable", [](const TempDir& d) { install_copy(ZELKPRESS, d / "zelkpress", 0644); },
       false},
      {"a script", [](const TempDir& d) { write_script(d / "zelkpress", "exit 0\n"); }, false},
      {"a directory", [](const TempDir& d) { mkdir((d / "zelkpress").c_str(), 0755); }, false},
      {"a dangling link", [](const TempDir& d) { symlink("gone", (d / "zelkpress").c_str()); },
       false},
      {"zelkpack itself", [](const TempDir& d) { install_copy(ZELKPACK, d / "zelkpress"); }, false},
      {"nothing", [](const TempDir&) {}, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    c.setup(dir);
    EXPECT_EQ(zelk::is_companion((dir / "zelkpress").c_str()), c.companion) << c.what;
  }
}

// The number of times ./zelkpress is opened (each run of it, and reading it
// once to recognise it) while zelkpack packs three chunks. Closes are watched
// too: the system merges an event into an identical one still unread.
int opens_of_compressor(const TempDir& dir, const std::string& prefix = "") {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_GE(inotify_add_watch(fd, (dir / "zelkpress").c_str(), IN_OPEN | IN_CLOSE_NOWRITE), 0);
  RunResult r = zelk_test::run_in(dir.path, ZELKPACK, {"-k", "5", "d.txt"}, prefix);
  EXPECT_EQ(r.status, 0) << r.err;
  int opens = 0;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
    for (char* p = buf; p < buf + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      opens += (e->mask & IN_OPEN) != 0;
      p += sizeof *e + e->len;
    }
  }
  close(fd);
  return opens;
}

TEST(BuiltIn, RunsTheProgramUnlessItIsTheCompanion) {
  TempDir dir;
  write_file(dir / "d.txt", "a\t1\nb\t2\nc\t3\n");  // three chunks at K = 5
  install_copy(ZELKPRESS, dir / "zelkpress");
  EXPECT_LE(opens_of_compressor(dir), 1) << "the companion is read, not run";
  EXPECT_EQ(opens_of_compressor(dir, "ZELKPACK_SPAWN=1 exec"), 3) << "forced to run it";
  std::string bytes = read_file(ZELKPRESS);
  bytes[bytes.find(zelk::companion_tag()) + 3] ^= 1;
  write_file(dir / "zelkpress", bytes);
  EXPECT_EQ(opens_of_compressor(dir), 1 + 3) << "another build is run for every chunk";

  // A wrapper is run once per chunk, in order, and leaves what built-in does.
  const std::string input = entries(400, 400, 30);
  Packed built_in = pack(input, {"-k", "1024"}, false);
  Packed wrapped = pack(input, {"-k", "1024"}, false, [](const TempDir& d) {
    install_copy(ZELKPRESS, d / "real");
    write_script(d / "zelkpress", "echo \"$@\" >> calls.log\nexec ./real \"$@\"\n");
  });
  std::string calls = wrapped.files["calls.log"];
  wrapped.files.erase("calls.log");
  wrapped.files.erase("real");
  expect_same(built_in, wrapped, "wrapper");
  std::string want;
  for (int i = 0; i < static_cast<int>(built_in.files.size() - 2) / 2; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "out/dic%04d.txt out/dic%04d.txz\n", i, i);
    want += line;
  }
  EXPECT_EQ(calls, want);

  // zelkpack in the place of the program is run too (and fails there).
  Packed wrong =
      pack("a\tx\n", {}, false, [](const TempDir& d) { install_copy(ZELKPACK, d / "zelkpress"); });
  EXPECT_EQ(wrong.run.status, 1);
  EXPECT_NE(wrong.run.err.find("Usage : zelkpack"), std::string::npos);
}

}  // namespace
