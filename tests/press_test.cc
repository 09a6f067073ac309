// zelkpack's built-in compression against running ./zelkpress: with nothing
// at ./zelkpress, or the companion of this build there, zelkpack compresses
// itself and must leave exactly what the program leaves; anything else at
// ./zelkpress is run once per chunk.
#include <gtest/gtest.h>
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
    Prepare setup = nullptr;
  };
  // A record written through a link into a chunk file not read yet: it must
  // be read as the program would, after the record landed.
  auto linked = [](const TempDir& d) {
    mkdir((d / "out").c_str(), 0755);
    symlink("dic0002.txt", (d / "out/dic0000.txz").c_str());
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
      {"a record written into a later chunk file",
       entries(3000, 3000, 40),
       {"-k", "512"},
       "",
       linked},
  };
  for (const Case& c : cases) {
    Packed built_in = pack(c.input, c.args, false, c.setup, c.limits);
    expect_same(built_in, pack(c.input, c.args, true, c.setup), c.what);
    if (std::string(c.what) == "one chunk") {
      EXPECT_EQ(built_in.run.status, 0);
    }
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

}  // namespace
