// zelkdump against databases zelkpack wrote, whole and damaged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "helpers.h"
#include "zelkdump/commands.h"

namespace {

using zelk_test::read_file;
using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;

struct Dump {
  int status;
  std::string out, err;
};

// Runs a command through the library on bytes in memory.
Dump dump(const std::string& command, const std::string& db,
          const std::vector<std::string>& keys = {}) {
  char *out = nullptr, *err = nullptr;
  size_t out_size = 0, err_size = 0;
  std::FILE* o = open_memstream(&out, &out_size);
  std::FILE* e = open_memstream(&err, &err_size);
  std::string name = "t.pdb";
  zelk::DumpContext cx{name, o, e};
  int status = zelk::run_dump(cx, command, keys, reinterpret_cast<const unsigned char*>(db.data()),
                              db.size());
  std::fclose(o);
  std::fclose(e);
  Dump d{status, std::string(out, out_size), std::string(err, err_size)};
  std::free(out);
  std::free(err);
  return d;
}

// A dictionary with many repeated keys and long keys that share their first
// 127 bytes, so equal sort keys run across chunks.
std::string test_dictionary() {
  std::string text, stem(130, 'l');
  for (int i = 0; i < 4000; ++i) {
    std::string key =
        i % 5 == 0 ? stem + static_cast<char>('a' + i % 7) : "w" + std::to_string(i * 7919 % 600);
    text += key + (i % 3 ? "\t" : " /// ") + "sense " + std::to_string(i) + " of the word\n";
  }
  return text;
}

struct Packed {
  TempDir dir;
  std::string db, chunks;
};

void pack(Packed& p, bool plain) {
  write_file(p.dir / "d.txt", test_dictionary());
  if (!plain) {
    write_file(p.dir / "zelkpress", read_file(ZELKPRESS));
    chmod((p.dir / "zelkpress").c_str(), 0755);
  }
  std::vector<std::string> args = {"-k", "1024", "d.txt"};
  if (plain) args.insert(args.begin(), "-p");
  RunResult r = zelk_test::run_in(p.dir.path, ZELKPACK, args);
  ASSERT_EQ(r.status, 0) << r.err;
  p.db = read_file(p.dir / "zelk.pdb");
  char name[32];
  for (int i = 0;
       std::snprintf(name, sizeof name, "out/dic%04d.txt", i), zelk_test::file_exists(p.dir / name);
       ++i) {
    p.chunks += read_file(p.dir / name);
  }
}

// Where the parts of a database begin.
struct Layout {
  size_t chunks, index, rec1, rec2;
};

size_t be(const std::string& s, size_t at, int bytes) {
  size_t v = 0;
  for (int i = 0; i < bytes; ++i)
    v = v << 8 | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
  return v;
}

Layout layout_of(const std::string& db) {
  size_t chunks = be(db, 76, 2) - 1;
  return {chunks, 78 + 8 * (chunks + 1) + 2, be(db, 86, 4), be(db, 94, 4)};
}

TEST(Zelkdump, ReadsBackWhatZelkpackWrote) {
  for (bool plain : {true, false}) {
    Packed p;
    pack(p, plain);
    Dump extract = dump("extract", p.db);
    EXPECT_EQ(extract.status, 0);
    EXPECT_TRUE(extract.out == p.chunks) << "extract equals the chunk files, plain=" << plain;
    Dump verify = dump("verify", p.db);
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(
        verify.out.substr(verify.out.find("t.pdb: ")),
        "t.pdb: sound: " + std::to_string(layout_of(p.db).chunks) + " chunks, 4000 entries\n");

    // Every key is found, with all its entries in stored order.
    std::map<std::string, std::string> want;
    std::vector<std::string> keys;
    for (size_t pos = 0; pos < p.chunks.size();) {
      size_t tab = p.chunks.find('\t', pos), lf = p.chunks.find('\n', tab);
      std::string key = p.chunks.substr(pos, tab - pos);
      if (!want.count(key)) keys.push_back(key);
      want[key] += p.chunks.substr(pos, lf + 1 - pos);
      pos = lf + 1;
    }
    std::string expected;
    for (const std::string& k : keys) expected += want[k];
    Dump lookup = dump("lookup", p.db, keys);
    EXPECT_EQ(lookup.status, 0) << lookup.err;
    EXPECT_TRUE(lookup.out == expected) << "plain=" << plain;
    Dump missing = dump("lookup", p.db, {"w1", "absent", std::string(127, 'l')});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "zelkdump: t.pdb: 'absent' not found\nzelkdump: t.pdb: '" +
                               std::string(127, 'l') + "' not found\n");
  }
}

TEST(Zelkdump, VerifyNamesTheDamagedRecord) {
  Packed plain, packed;
  pack(plain, true);
  pack(packed, false);
  using Damage = void (*)(std::string & d, const Layout& l);
  struct Case {
    const char* what;
    bool compressed;
    Damage damage;
    std::string where;  // expected in the report
  };
  const Case cases[] = {
      {"type", false, [](std::string& d, const Layout&) { d[60] = 'X'; },
       "header at offset 0x3c: type"},
      {"creator", false, [](std::string& d, const Layout&) { d[67] = 'x'; },
       "header at offset 0x40: creator"},
      {"attribute byte", false, [](std::string& d, const Layout&) { d[98] = 0x41; },
       "record 2 at offset 0x62: attribute"},
      {"unique id", false, [](std::string& d, const Layout&) { d[93] = 9; },
       "record 1 at offset 0x5b: unique id"},
      {"record offset", false, [](std::string& d, const Layout&) { d[89] ^= 1; },
       "bytes, its size entry says"},
      {"index word", false, [](std::string& d, const Layout& l) { d[l.index + 3] = 2; },
       "record 0 at offset"},
      {"flag", false, [](std::string& d, const Layout& l) { d[l.index + 7] = 2; },
       "compression flag 2"},
      {"size entry", false, [](std::string& d, const Layout& l) { d[l.index + 19] ^= 4; },
       "record 2 at offset"},
      {"index key", false,
       [](std::string& d, const Layout& l) { d[l.index + 16 + 2 * l.chunks] = 'A'; },
       "record 1 at offset"},
      {"plain text", false, [](std::string& d, const Layout& l) { d[d.find('\t', l.rec1)] = ' '; },
       "record 1 at offset"},
      {"compressed text", true, [](std::string& d, const Layout& l) { d[l.rec2 + 7] ^= 0x20; },
       "record 2 at offset"},
      {"truncated", true, [](std::string& d, const Layout&) { d.pop_back(); }, "cannot expand"},
      {"records swapped", false,
       [](std::string& d, const Layout& l) {
         std::string one = d.substr(l.rec1, l.rec2 - l.rec1), two = d.substr(l.rec2, one.size());
         d.replace(l.rec1, one.size(), two);
         d.replace(l.rec2, one.size(), one);
       },
       "record 1 at offset"},
  };
  for (const Case& c : cases) {
    std::string db = c.compressed ? packed.db : plain.db;
    c.damage(db, layout_of(db));
    Dump verify = dump("verify", db);
    EXPECT_EQ(verify.status, 1) << c.what << "\n" << verify.out;
    EXPECT_NE(verify.out.find(c.where), std::string::npos) << c.what << "\n" << verify.out;
    EXPECT_NE(verify.out.find("t.pdb: damaged: "), std::string::npos) << c.what;
  }
}

TEST(Zelkdump, CommandLine) {
  Packed p;
  pack(p, true);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err_start;
  };
  const Case cases[] = {
      {{}, 2, "A subcommand is required"},
      {{"info"}, 2, "FILE is required"},
      {{"lookup", "zelk.pdb"}, 2, "KEY is required"},
      {{"frobnicate", "zelk.pdb"}, 2, "A subcommand is required"},
      {{"info", "missing.pdb"},
       2,
       "zelkdump: cannot read 'missing.pdb': No such file or directory"},
      {{"info", "out"}, 2, "zelkdump: cannot read 'out': Is a directory"},
      {{"info", "d.txt"}, 1, "zelkdump: d.txt: "},
      {{"info", "zelk.pdb"}, 0, ""},
      {{"lookup", "zelk.pdb", "w1", "nope"}, 1, "zelkdump: zelk.pdb: 'nope' not found"},
  };
  for (const Case& c : cases) {
    RunResult r = zelk_test::run_in(p.dir.path, ZELKDUMP, c.args);
    std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
    EXPECT_NE(r.err.find(c.err_start), std::string::npos) << what << ": " << r.err;
  }
  RunResult info = zelk_test::run_in(p.dir.path, ZELKDUMP, {"info", "zelk.pdb"});
  EXPECT_NE(info.out.find("entries:       4000\n"), std::string::npos) << info.out;
  EXPECT_EQ(zelk_test::run_in(p.dir.path, ZELKDUMP, {"--version"}).out, "zelkdump 1.2\n");
}

}  // namespace
