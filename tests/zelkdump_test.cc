// zelkdump against databases zelkpack wrote, whole and damaged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "format/byteorder.h"
#include "helpers.h"
#include "text/utf8.h"
#include "toolkit/file.h"
#include "toolkit/version.h"
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

// Runs a command through the library on a database held in a memory file.
Dump dump(const std::string& command, const std::string& db,
          const std::vector<std::string>& keys = {},
          zelk::Strategy strategy = zelk::Strategy::kExact, bool json = false,
          const std::string& charset = "") {
  zelk::Captured out, err;
  std::string name = "t.pdb";
  zelk::DumpContext cx{name, out.f, err.f, json, zelk::Charset()};
  int fd = zelk_test::memory_file(db);
  zelk::Request request;
  request.command = command;
  request.keys = keys;
  request.strategy = std::array{"exact", "prefix", "nocase", "lev"}[static_cast<size_t>(strategy)];
  request.charset = charset;
  request.json = json;
  int status;
  std::string stopped;
  try {
    status = zelk::run_dump(cx, request, fd, db.size()) ? 0 : 1;
  } catch (const zelk::Fatal& fatal) {
    status = fatal.status;
    stopped = "zelkdump: " + fatal.message + "\n";
  }
  close(fd);
  return Dump{status, out.text(), err.text() + stopped};
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
  if (!plain) zelk_test::install_copy(ZELKPRESS, p.dir / "zelkpress");
  std::vector<std::string> args = {"-k", "1024", "d.txt"};
  if (plain) args.insert(args.begin(), "-p");
  RunResult r = zelk_test::run_in(p.dir.path, ZELKPACK, args);
  ASSERT_EQ(r.status, 0) << r.err;
  p.db = read_file(p.dir / "zelk.pdb");
  p.chunks = zelk_test::chunk_files(p.dir.path);
}

// Where the parts of a database begin.
struct Layout {
  size_t chunks, index, rec1, rec2;
};

Layout layout_of(const std::string& db) {
  auto bytes = reinterpret_cast<const unsigned char*>(db.data());
  size_t chunks = zelk::get_word(bytes + zelk::kRecordCountOffset) - 1u;
  return {chunks, zelk::record0_offset(chunks), zelk::get_long(bytes + zelk::list_entry_offset(1)),
          zelk::get_long(bytes + zelk::list_entry_offset(2))};
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
    Dump missing = dump("lookup", p.db, {"w1", "absent", "w1000"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, want["w1"]) << "a batch goes on past a missing key";
    EXPECT_EQ(missing.err,
              "zelkdump: t.pdb: 'absent' not found\n"
              "zelkdump: t.pdb: 'w1000' not found; did you mean: 'w101', 'w102', 'w103', "
              "'w104', 'w106'?\n");  // no w10, w100 or w105: all two edits away

    // keys: each key once, in stored order.
    std::string listed;
    for (const std::string& k : keys) listed += zelk::escape(k) + "\n";
    Dump all = dump("keys", p.db);
    EXPECT_EQ(all.status, 0);
    EXPECT_TRUE(all.out == listed) << "plain=" << plain;
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
      {"gap after the record list", false,
       [](std::string& d, const Layout& l) { d[l.index - 1] = 'x'; },
       "the two NUL bytes after the record list are missing"},
      {"NUL inside an index key", false,
       [](std::string& d, const Layout& l) { d[l.index + 16 + 2 * l.chunks] = '\0'; },
       "index record spans "},
      {"plain text", false, [](std::string& d, const Layout& l) { d[d.find('\t', l.rec1)] = ' '; },
       "record 1 at offset"},
      {"compressed text", true, [](std::string& d, const Layout& l) { d[l.rec2 + 7] ^= 0x20; },
       "record 2 at offset"},
      {"truncated", true, [](std::string& d, const Layout&) { d.pop_back(); }, "cannot expand"},
      {"index too short for its sizes", false,
       [](std::string& d, const Layout& l) { d.resize(l.index + 16 + 2 * l.chunks - 1); },
       ": index record too short for its "},
      {"index key without NUL", false,
       [](std::string& d, const Layout& l) {
         size_t keys = l.index + 16 + 2 * l.chunks;  // cut inside chunk 2's first key
         d.resize(d.find('\0', d.find('\0', keys) + 1) + 3);
       },
       ": key of chunk 2 in the index record has no NUL"},
      {"nothing after the record list", false,
       [](std::string& d, const Layout& l) { d.resize(l.index - 2); }, "is not inside the file"},
      {"record too large", true,
       [](std::string& d, const Layout&) { d += std::string(70000, 'x'); },
       "bytes, more than a record holds (65535)"},
      {"no chunk record", false, [](std::string& d, const Layout&) { d[77] = 1; },
       "header at offset 0x4c: record count 1: no chunk record"},
      {"records swapped", false,
       [](std::string& d, const Layout& l) {
         std::string one = d.substr(l.rec1, l.rec2 - l.rec1), two = d.substr(l.rec2, one.size());
         d.replace(l.rec1, one.size(), two);
         d.replace(l.rec2, one.size(), one);
       },
       "record 1 at offset"},
      {"record 0's attribute byte", false, [](std::string& d, const Layout&) { d[82] = 0x41; },
       "record 0 at offset 0x52: attribute byte is 0x41, not 0x40"},
      {"record 1 before record 0", false,
       [](std::string& d, const Layout& l) { d.replace(86, 4, zelk_test::be32(l.index - 1)); },
       "record 1 at offset 0x56: offset below the previous record's"},
      {"offsets out of order", false,
       [](std::string& d, const Layout& l) { d.replace(94, 4, zelk_test::be32(l.rec1 - 1)); },
       "record 2 at offset 0x5e: offset below the previous record's"},
  };
  for (const Case& c : cases) {
    std::string db = c.compressed ? packed.db : plain.db;
    c.damage(db, layout_of(db));
    Dump verify = dump("verify", db);
    EXPECT_EQ(verify.status, 1) << c.what << "\n" << verify.out;
    EXPECT_NE(verify.out.find(c.where), std::string::npos) << c.what << "\n" << verify.out;
    EXPECT_NE(verify.out.find("t.pdb: damaged: "), std::string::npos) << c.what;
  }
  // Problems of the index record are placed at their own offsets in it.
  const Layout l = layout_of(plain.db);
  char line[96];
  std::string db = plain.db;
  db[l.index + 7] = 2;
  std::snprintf(line, sizeof line, "record 0 at offset %#zx: compression flag 2 is neither",
                l.index + 6);
  EXPECT_NE(dump("verify", db).out.find(line), std::string::npos) << line;
  db = plain.db;
  db.replace(zelk::list_entry_offset(0), 4, zelk_test::be32(l.index + 2));
  std::snprintf(line, sizeof line, "record 0 at offset %#zx: index record does not follow",
                l.index + 2);
  EXPECT_NE(dump("verify", db).out.find(line), std::string::npos) << line;
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
      {{},
       2,
       "zelkdump: a command is required: info, list, lookup, keys, extract, verify or serve"},
      {{"info"}, 2, "FILE is required"},
      {{"lookup", "zelk.pdb"}, 2, "KEY is required"},
      {{"frobnicate", "zelk.pdb"}, 2, "zelkdump: 'frobnicate' is not a zelkdump command"},
      {{"help", "frobnicate"}, 2, "zelkdump: 'frobnicate' is not a zelkdump command"},
      {{"lookup", "-s", "fuzzy", "zelk.pdb", "w1"}, 2, "--strategy: fuzzy not in {"},
      {{"info", "--frob", "zelk.pdb"}, 2, "--frob"},
      {{"serve", "--wait", "3601", "zelk.pdb"}, 2, "--wait: Value 3601 not in range 0 to 3600"},
      {{"info", "/dev/null"}, 2, "zelkdump: '/dev/null' is not a regular file"},
      {{"info", "big.pdb"}, 1, "zelkdump: 'big.pdb' is not a Dict/Zelk database ("},
      {{"info", "largest.pdb"}, 1, "zelkdump: 'largest.pdb' is not a Dict/Zelk database (type"},
      {{"info", "short.pdb"},
       1,
       "zelkdump: 'short.pdb' is not a Dict/Zelk database (5 bytes, shorter than a header)"},
      {{"info", "missing.pdb"},
       2,
       "zelkdump: cannot read 'missing.pdb': No such file or directory"},
      {{"info", "out"}, 2, "zelkdump: cannot read 'out': Is a directory"},
      {{"info", "creator.pdb"},
       1,
       "zelkdump: 'creator.pdb' is not a Dict/Zelk database (type 'Dict', creator 'Zelx')"},
      {{"info", "d.txt"},
       1,
       "zelkdump: 'd.txt' is not a Dict/Zelk database (type 'llll', creator 'llll')"},
      {{"info", "zelk.pdb"}, 0, ""},
      {{"keys", "zelk.pdb", "a", "b"}, 2, "PREFIX: At Most 1 required but received 2"},
      {{"keys", "zelk.pdb"}, 0, ""},
      {{"lookup", "zelk.pdb", "w1", "nope"}, 1, "zelkdump: zelk.pdb: 'nope' not found"},
  };
  write_file(p.dir / "short.pdb", "Dict\n");
  std::string creator = p.db;
  creator[67] = 'x';
  write_file(p.dir / "creator.pdb", creator);
  // Sparse: one byte larger than any database, and as large as one can be.
  write_file(p.dir / "big.pdb", "");
  ASSERT_EQ(truncate((p.dir / "big.pdb").c_str(), zelk::kMaxDatabaseSize + 1), 0);
  write_file(p.dir / "largest.pdb", "");
  ASSERT_EQ(truncate((p.dir / "largest.pdb").c_str(), zelk::kMaxDatabaseSize), 0);
  for (const Case& c : cases) {
    RunResult r = zelk_test::run_in(p.dir.path, ZELKDUMP, c.args);
    std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
    EXPECT_NE(r.err.find(c.err_start), std::string::npos) << what << ": " << r.err;
  }
  RunResult info = zelk_test::run_in(p.dir.path, ZELKDUMP, {"info", "zelk.pdb"});
  EXPECT_NE(info.out.find("entries:       4000\n"), std::string::npos) << info.out;
  // Dates count seconds from 1904: the converter's fixed bytes, and the last
  // second a 32-bit date can name.
  EXPECT_NE(info.out.find("created:       0x06d144ae (1907-08-16 19:38:22)\n"), std::string::npos)
      << info.out;
  std::string dated = p.db;
  for (auto [bytes, shown] : {std::pair{"\xff\xff\xff\xff", "0xffffffff (2040-02-06 06:28:15)"},
                              std::pair{"\x7c\x25\xb0\x80", "0x7c25b080 (1970-01-01 00:00:00)"},
                              std::pair{"\xb4\xe1\x65\x40", "0xb4e16540 (2000-02-29 12:00:00)"},
                              std::pair{"\x00\x00\x00\x00", "0x00000000 (1904-01-01 00:00:00)"}}) {
    dated.replace(zelk::kModificationDateOffset, 4, bytes, 4);
    EXPECT_NE(dump("info", dated).out.find("modified:      " + std::string(shown) + "\n"),
              std::string::npos)
        << shown;
  }
  // verify --words: a word not found fails the run.
  write_file(p.dir / "words.txt", "w1\nnope\nw2\n");
  RunResult words =
      zelk_test::run_in(p.dir.path, ZELKDUMP, {"verify", "--words", "words.txt", "zelk.pdb"});
  EXPECT_EQ(words.status, 1) << words.out;
  EXPECT_NE(words.out.find("zelk.pdb: 1 of 3 words not found\n"), std::string::npos) << words.out;
  EXPECT_EQ(zelk_test::run_in(p.dir.path, ZELKDUMP, {"--version"}).out,
            std::string("zelkdump ") + zelk::kVersion + "\n");
}

}  // namespace

namespace {

// A small dictionary of the cases readers meet: case, accents (UTF-8 and a
// Latin-1 key), keys that begin with '-', repeated keys, a shared prefix.
const char kWords[] =
    "Apple\tthe fruit\n"
    "apple\ta tree\n"
    "apple\tits wood\n"
    "applet\ta small program\n"
    "apples\tmore than one\n"
    "-ness\ta suffix\n"
    "\xC3\x84pfel\tapples (German)\n"
    "stra\xC3\x9F"
    "e\tstreet (German)\n"
    "\xCE\xA3\xCE\xB9\xCE\xB3\xCE\xBC\xCE\xB1\tsigma (Greek)\n"
    "\xC4pfel\tapples (Latin-1)\n"
    "maple\ta tree\n"
    "zebra\tan animal\n";

std::string small_database(bool plain) {
  TempDir dir;
  write_file(dir / "d.txt", kWords);
  std::vector<std::string> args = {"-k", "64", "d.txt"};
  if (plain) args.insert(args.begin(), "-p");
  RunResult r = zelk_test::run_in(dir.path, ZELKPACK, args);
  EXPECT_EQ(r.status, 0) << r.err;
  return read_file(dir / "zelk.pdb");
}

// Five suggestions at most, the nearest: a key one edit away that comes after
// five two edits away takes the place of the last of them, and keys two away
// that come after it are not added.
TEST(Zelkdump, SuggestionsKeepTheFiveNearest) {
  TempDir dir;
  write_file(dir / "d.txt",
             "abcdefgh\t1\nabcdefgi\t2\nabcdefgj\t3\nabcdefgk\t4\nabcdefgl\t5\n"
             "abcdeg\t6\nabcdegg\t7\n");
  ASSERT_EQ(zelk_test::run_in(dir.path, ZELKPACK, {"-p", "d.txt"}).status, 0);
  Dump r = dump("lookup", read_file(dir / "zelk.pdb"), {"abcdef"});
  EXPECT_EQ(r.err,
            "zelkdump: t.pdb: 'abcdef' not found; did you mean: 'abcdeg', 'abcdefgh', "
            "'abcdefgi', 'abcdefgj', 'abcdefgk'?\n");
}

TEST(Zelkdump, Searches) {
  using S = zelk::Strategy;
  struct Case {
    S strategy;
    std::vector<std::string> keys;
    int status;
    std::string out, err;
  };
  const std::string nf = "zelkdump: t.pdb: ";
  const Case cases[] = {
      {S::kExact, {"apple"}, 0, "apple\ta tree\napple\tits wood\n", ""},
      {S::kExact, {"-ness", "zebra"}, 0, "-ness\ta suffix\nzebra\tan animal\n", ""},
      {S::kExact,
       {"aple"},
       1,
       "",
       nf + "'aple' not found; did you mean: 'Apple', 'apple', 'maple', 'apples', 'applet'?\n"},
      {S::kExact, {"qqqqqqqq"}, 1, "", nf + "'qqqqqqqq' not found\n"},
      {S::kPrefix,
       {"apple"},
       0,
       "apple\ta tree\napple\tits wood\napples\tmore than one\napplet\ta small program\n",
       ""},
      {S::kPrefix, {"\xC3"}, 0, "\xC3\x84pfel\tapples (German)\n", ""},
      {S::kPrefix, {"b", "z"}, 1, "zebra\tan animal\n", nf + "no key begins with 'b'\n"},
      {S::kNocase, {"APPLE"}, 0, "Apple\tthe fruit\napple\ta tree\napple\tits wood\n", ""},
      {S::kNocase, {"\xC3\xA4PFEL"}, 0, "\xC3\x84pfel\tapples (German)\n", ""},
      {S::kNocase,
       {"\xCF\x83\xCE\x99\xCE\x93\xCE\x9C\xCE\x91"},
       0,
       "\xCE\xA3\xCE\xB9\xCE\xB3\xCE\xBC\xCE\xB1\tsigma (Greek)\n",
       ""},
      {S::kNocase, {"STRASSE"}, 1, "", nf + "'STRASSE' not found\n"},  // simple folding only
      {S::kNocase,
       {"\xC4PFEL", "\xE4pfel"},
       1,
       "\xC4pfel\tapples (Latin-1)\n",
       nf + "'\xE4pfel' not found\n"},  // not UTF-8: only ASCII letters fold
      {S::kLev, {"Apfel"}, 0, "\xC3\x84pfel\tapples (German)\n\xC4pfel\tapples (Latin-1)\n", ""},
      {S::kLev, {"aple"}, 0, "apple\ta tree\napple\tits wood\nmaple\ta tree\n", ""},
      {S::kLev,
       {"applet"},
       0,
       "apple\ta tree\napple\tits wood\napples\tmore than one\napplet\ta small program\n",
       ""},  // the key itself too
  };
  for (bool plain : {true, false}) {
    std::string db = small_database(plain);
    for (const Case& c : cases) {
      // Its keys mix UTF-8 and Latin-1: taken as UTF-8, the bytes that are
      // not stay bytes.
      Dump d = dump("lookup", db, c.keys, c.strategy, false, "UTF-8");
      std::string what = c.keys[0] + " strategy " + std::to_string(static_cast<int>(c.strategy));
      EXPECT_EQ(d.status, c.status) << what;
      EXPECT_EQ(d.out, c.out) << what;
      EXPECT_EQ(d.err, c.err) << what;
    }
    Dump keys = dump("keys", db, {"app"});
    EXPECT_EQ(keys.status, 0);
    EXPECT_EQ(keys.out, "apple\napples\napplet\n");
    Dump none = dump("keys", db, {"q"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, nf + "no key begins with 'q'\n");
  }
  EXPECT_EQ(zelk::compare_keys("", ""), 0);  // an empty key sorts first
  EXPECT_LT(zelk::compare_keys("", "a"), 0);
}

// A damaged chunk is reported once and the command goes on; any damage, or
// output that cannot be written, shows in the exit status.
TEST(Zelkdump, DamageAndWriteFailuresShowInTheStatus) {
  Packed p;
  pack(p, false);
  Layout l = layout_of(p.db);
  std::string db = p.db;
  db[l.rec2 + 7] ^= 0x20;  // record 2 cannot be expanded
  std::string first = p.chunks.substr(0, p.chunks.find('\t'));
  std::string last_line = p.chunks.substr(p.chunks.rfind('\n', p.chunks.size() - 2) + 1);
  std::string last = last_line.substr(0, last_line.find('\t'));
  const std::string damage = "zelkdump: t.pdb: record 2 at offset";
  for (const char* command : {"list", "extract", "info", "keys"}) {
    Dump d = dump(command, db);
    EXPECT_EQ(d.status, 1) << command;
    EXPECT_EQ(d.err.find(damage), 0u) << command << ": " << d.err;
    EXPECT_EQ(d.err.find(damage, 1), std::string::npos) << command << ": reported once";
  }
  EXPECT_NE(dump("list", db).out.find("\n2\t"), std::string::npos);
  EXPECT_NE(dump("extract", db).out.find(last_line), std::string::npos) << "the rest is extracted";
  Dump batch = dump("lookup", db, {first, last});
  EXPECT_EQ(batch.status, 1);
  EXPECT_NE(batch.out.find(last_line), std::string::npos) << "the batch goes on";

  // A scan without case names the damage it meets; an index record that
  // names fewer chunks than the header has records stops a lookup.
  Dump scan = dump("lookup", db, {"absent"}, zelk::Strategy::kNocase);
  EXPECT_EQ(scan.status, 1);
  EXPECT_EQ(scan.err.find(damage), 0u) << scan.err;
  std::string fewer = p.db;
  size_t named = l.chunks - 1, at = l.index + zelk::kIndexChunkCountOffset;
  fewer[at] = static_cast<char>(named >> 8);
  fewer[at + 1] = static_cast<char>(named & 0xFF);
  Dump stopped = dump("lookup", fewer, {first});
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.err.find("index record names"), std::string::npos) << stopped.err;

  // A lookup reads only the chunks its key can be in: damage elsewhere does
  // not touch it.
  std::string last_damaged = p.db;
  auto bytes = reinterpret_cast<const unsigned char*>(p.db.data());
  last_damaged[zelk::get_long(bytes + zelk::list_entry_offset(l.chunks)) + 7] ^= 0x20;
  Dump elsewhere = dump("lookup", last_damaged, {first});
  EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
  EXPECT_EQ(elsewhere.out.rfind(first + "\t", 0), 0u);
  EXPECT_EQ(dump("lookup", last_damaged, {last}).status, 1);

  // Compressed records under a flag that says plain are not passed off as text.
  std::string wrong_flag = p.db;
  wrong_flag[l.index + 7] = 0;
  Dump extract = dump("extract", wrong_flag);
  EXPECT_EQ(extract.status, 1);
  EXPECT_EQ(extract.out, "");

  write_file(p.dir / "zelk.pdb", p.db);
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"extract", "zelk.pdb"},
                                             {"info", "zelk.pdb"},
                                             {"--help"},
                                             {"lookup", "zelk.pdb", "w1"}}) {
    RunResult r =
        zelk_test::run_in(p.dir.path, ZELKDUMP, args, "sh -c 'exec \"$0\" \"$@\" >/dev/full'");
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("zelkdump: cannot write standard output", 0), 0u) << args[0] << r.err;
  }
}

TEST(Zelkdump, InfoListAndVerifySayWhatTheDatabaseHolds) {
  EXPECT_EQ(dump("info", small_database(true)).out,
            "name:          ZelkDB\ntype:          Dict\ncreator:       Zelk\n"
            "created:       0x06d144ae (1907-08-16 19:38:22)\n"
            "modified:      0x06d144ae (1907-08-16 19:38:22)\n"
            "records:       5\nchunks:        4\ncompression:   none (flag 0)\n"
            "index record:  81 bytes\nstored bytes:  227\ntext bytes:    227\n"
            "ratio:         100.0 %\nentries:       12\nlongest key:   10 bytes\n"
            "longest value: 16 bytes\ncharset:       CP1252 (assumed: its keys are not UTF-8)\n");
  // Compressed: info's totals are the sums of list's columns (record, offset,
  // stored bytes, text bytes, entries, first key, last key).
  std::string db = small_database(false);
  std::string list = dump("list", db).out, info = dump("info", db).out;
  unsigned long stored = 0, text = 0, entries = 0, record = 0, next = 0;
  for (size_t pos = 0; pos < list.size(); pos = list.find('\n', pos) + 1) {
    unsigned long r, o, s, t, e;
    ASSERT_EQ(std::sscanf(list.c_str() + pos, "%lu\t%lx\t%lu\t%lu\t%lu\t", &r, &o, &s, &t, &e), 5);
    EXPECT_EQ(r, ++record);
    EXPECT_EQ(o, record == 1 ? zelk::record0_offset(4) + 81 : next) << "records follow each other";
    next = o + s;
    stored += s;
    text += t;
    entries += e;
  }
  EXPECT_EQ(list.substr(0, list.find('\n')).substr(list.find("\t-ness")), "\t-ness\tapple");
  EXPECT_EQ(next, db.size());
  char totals[160];
  std::snprintf(totals, sizeof totals,
                "stored bytes:  %lu\ntext bytes:    %lu\nratio:         %.1f %%\n"
                "entries:       %lu\n",
                stored, text, 100.0 * static_cast<double>(stored) / static_cast<double>(text),
                entries);
  EXPECT_NE(info.find(totals), std::string::npos) << info << totals;
  EXPECT_NE(info.find("compression:   zlib (flag 1)\n"), std::string::npos);

  // Keys with a byte order mark or a line end are sound, with warnings.
  TempDir dir;
  write_file(dir / "d.txt",
             "\xEF\xBB\xBF"
             "bom\tv\nword\n");
  ASSERT_EQ(zelk_test::run_in(dir.path, ZELKPACK, {"-p", "d.txt"}).status, 0);
  Dump verify = dump("verify", read_file(dir / "zelk.pdb"));
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out,
            "warning: record 1 at offset 0x7f: key 'word\\n' holds a line end\n"
            "warning: record 1 at offset 0x7f: key '\xEF\xBB\xBF"
            "bom' begins with a UTF-8 byte "
            "order mark\nt.pdb: sound: 1 chunk, 2 entries, 2 warnings\n");
}

TEST(Zelkdump, JsonForScripts) {
  std::string db = small_database(false);
  using Json = nlohmann::json;
  Json info = Json::parse(dump("info", db, {}, zelk::Strategy::kExact, true).out);
  EXPECT_EQ(info["file"], "t.pdb");
  EXPECT_EQ(info["name"], "ZelkDB");
  EXPECT_EQ(info["compressed"], true);
  EXPECT_EQ(info["entries"], 12);
  EXPECT_EQ(info["memory_card"], false);
  EXPECT_EQ(info["chunks"].get<int>() + 1, info["records"].get<int>());
  Json list = Json::parse(dump("list", db, {}, zelk::Strategy::kExact, true).out);
  ASSERT_EQ(list["chunks"].size(), info["chunks"].get<size_t>());
  EXPECT_EQ(list["chunks"][0]["first"], "-ness");
  EXPECT_EQ(list["chunks"][0]["record"], 1);
  size_t entries = 0;
  for (const Json& c : list["chunks"]) entries += c["entries"].get<size_t>();
  EXPECT_EQ(entries, 12u);
  db[20] = 0;
  db[32] = 1;     // attributes
  db[82] = 0x41;  // record 0's attribute byte
  Json verify = Json::parse(dump("verify", db, {}, zelk::Strategy::kExact, true).out);
  EXPECT_EQ(verify["sound"], false);
  EXPECT_EQ(verify["problems"], 2);
  EXPECT_EQ(verify["found"][0]["text"], "attributes is 0x0100, not 0");
  EXPECT_TRUE(verify["found"][0]["record"].is_null());
  EXPECT_EQ(verify["found"][1]["record"], 0);
}

TEST(Zelkdump, LookupReadsOnlyWhatItNeeds) {
#ifdef ZELK_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  // A 60 MB database looked up with 40 MB of address space.
  TempDir dir;
  std::string text;
  for (int i = 0; i < 400000; ++i) {
    text += "key" + std::to_string(i) + "\t" + std::string(140, 'v') + "\n";
  }
  write_file(dir / "d.txt", text);
  ASSERT_EQ(zelk_test::run_in(dir.path, ZELKPACK, {"-p", "-l", "-k", "65535", "d.txt"}).status, 0);
  RunResult r = zelk_test::run_in(dir.path, ZELKDUMP, {"lookup", "zelk.pdb", "key123456", "key7"},
                                  "ulimit -v 40000;");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "key123456\t" + std::string(140, 'v') + "\nkey7\t" + std::string(140, 'v') + "\n");

  // An index record of 5 MB (long keys) that does not fit: a message, never
  // an abort. (Under a few megabytes the program cannot start at all.)
  std::string long_keys;
  for (int i = 0; i < 700; ++i)
    long_keys += std::string(4000, 'k') + std::to_string(1000 + i) + "\tv\n";
  write_file(dir / "d.txt", long_keys);
  ASSERT_EQ(zelk_test::run_in(dir.path, ZELKPACK, {"-p", "-l", "-k", "8200", "d.txt"}).status, 0);
  int out_of_memory = 0;
  for (int limit = 6000; limit <= 16000; limit += 1000) {
    r = zelk_test::run_in(dir.path, ZELKDUMP, {"lookup", "zelk.pdb", "k"},
                          "ulimit -v " + std::to_string(limit) + ";");
    if (r.status == 127) continue;  // the shell could not start it
    if (r.status == 2) {
      EXPECT_EQ(r.err, "zelkdump: out of memory\n") << limit;
      ++out_of_memory;
    } else {
      EXPECT_EQ(r.status, 1) << limit << r.err;
      EXPECT_EQ(r.err.rfind("zelkdump: zelk.pdb: 'k' not found", 0), 0u) << limit << r.err;
    }
  }
  EXPECT_GT(out_of_memory, 0);
}

}  // namespace
