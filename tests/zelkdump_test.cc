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

TEST(Zelkdump, ReadsBackWhatZelkpackWrote) {
  for (bool plain : {true, false}) {
    Packed p;
    pack(p, plain);
    Dump extract = dump("extract", p.db);
    EXPECT_EQ(extract.status, 0);
    EXPECT_TRUE(extract.out == p.chunks) << "extract equals the chunk files, plain=" << plain;
    Dump verify = dump("verify", p.db);
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out.substr(verify.out.find("t.pdb: ")),
              "t.pdb: sound: " +
                  std::to_string(static_cast<unsigned char>(p.db[77]) +
                                 256 * static_cast<unsigned char>(p.db[76]) - 1) +
                  " chunks, 4000 entries\n");

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
  auto be32 = [](const std::string& s, size_t at) {
    return static_cast<size_t>(static_cast<unsigned char>(s[at])) << 24 |
           static_cast<size_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
           static_cast<size_t>(static_cast<unsigned char>(s[at + 2])) << 8 |
           static_cast<unsigned char>(s[at + 3]);
  };
  struct Case {
    const char* what;
    bool compressed;
    std::string (*damage)(std::string db, size_t rec1, size_t rec2);
    std::string where;  // expected in the report
  };
  const Case cases[] = {
      {"type", false,
       [](std::string d, size_t, size_t) {
         d[60] = 'X';
         return d;
       },
       "header at offset 0x3c: type"},
      {"creator", false,
       [](std::string d, size_t, size_t) {
         d[67] = 'x';
         return d;
       },
       "header at offset 0x40: creator"},
      {"attribute byte", false,
       [](std::string d, size_t, size_t) {
         d[98] = 0x41;
         return d;
       },
       "record 2 at offset 0x62: attribute"},
      {"unique id", false,
       [](std::string d, size_t, size_t) {
         d[93] = 9;
         return d;
       },
       "record 1 at offset 0x5b: unique id"},
      {"record offset", false,
       [](std::string d, size_t, size_t) {
         d[89] ^= 1;
         return d;
       },
       "bytes, its size entry says"},
      {"index word", false,
       [](std::string d, size_t, size_t) {
         size_t at =
             78 +
             8 * (static_cast<unsigned char>(d[77]) + 256u * static_cast<unsigned char>(d[76])) + 2;
         d[at + 3] = 2;
         return d;
       },
       "record 0 at offset"},
      {"flag", false,
       [](std::string d, size_t, size_t) {
         size_t at =
             78 +
             8 * (static_cast<unsigned char>(d[77]) + 256u * static_cast<unsigned char>(d[76])) + 2;
         d[at + 7] = 2;
         return d;
       },
       "compression flag 2"},
      {"size entry", false,
       [](std::string d, size_t, size_t) {
         size_t at =
             78 +
             8 * (static_cast<unsigned char>(d[77]) + 256u * static_cast<unsigned char>(d[76])) + 2;
         d[at + 19] ^= 4;
         return d;
       },
       "record 2 at offset"},
      {"index key", false,
       [](std::string d, size_t rec1, size_t) {
         size_t n =
             static_cast<unsigned char>(d[77]) + 256u * static_cast<unsigned char>(d[76]) - 1;
         size_t at = 78 + 8 * (n + 1) + 2 + 16 + 2 * n;
         (void)rec1;
         d[at] = 'A';
         return d;
       },
       "record 1 at offset"},
      {"plain text", false,
       [](std::string d, size_t rec1, size_t) {
         d[d.find('\t', rec1)] = ' ';
         return d;
       },
       "record 1 at offset"},
      {"compressed text", true,
       [](std::string d, size_t, size_t rec2) {
         d[rec2 + 7] ^= 0x20;
         return d;
       },
       "record 2 at offset"},
      {"truncated", true,
       [](std::string d, size_t, size_t) {
         d.pop_back();
         return d;
       },
       "cannot expand"},
      {"records swapped", false,
       [](std::string d, size_t rec1, size_t rec2) {
         std::string one = d.substr(rec1, rec2 - rec1), two = d.substr(rec2, rec2 - rec1);
         d.replace(rec1, one.size(), two);
         d.replace(rec2, one.size(), one);
         return d;
       },
       "record 1 at offset"},
  };
  for (const Case& c : cases) {
    const std::string& good = c.compressed ? packed.db : plain.db;
    size_t rec1 = be32(good, 86), rec2 = be32(good, 94);
    Dump verify = dump("verify", c.damage(good, rec1, rec2));
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
