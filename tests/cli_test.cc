// zelkpack run as users run it: in a scratch directory, comparing exit
// status, standard output, standard error and the files it leaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"

namespace {

using zelk_test::file_exists;
using zelk_test::read_file;
using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;

const std::string kStats1 = "\nMAX Key Length = 1\nMAX Val Length = 1\nTotal words    = 1\n";

class Zelkpack : public zelk_test::ZelkpackRun {};

TEST_F(Zelkpack, SingleEntryDatabaseIsTheDocumented122Bytes) {
  input("a\tx\n");
  RunResult r = run({"-p", "d.txt"});
  static const unsigned char golden[122] = {
      0x5A, 0x65, 0x6C, 0x6B, 0x44, 0x42, 0,    0,
      0,    0,    0,    0,    0,    0,    0,    0,  // "ZelkDB"
      0,    0,    0,    0,    0,    0,    0,    0,
      0,    0,    0,    0,    0,    0,    0,    0,     // name padding
      0,    0,    0,    0,                             // attributes, version
      0x06, 0xD1, 0x44, 0xAE, 0x06, 0xD1, 0x44, 0xAE,  // dates
      0,    0,    0,    0,    0,    0,    0,    0,
      0,    0,    0,    0,    0,    0,    0,    0,     // backup .. sort info
      0x44, 0x69, 0x63, 0x74, 0x5A, 0x65, 0x6C, 0x6B,  // "Dict" "Zelk"
      0,    0,    0,    0,    0,    0,    0,    0,     // seed, next list
      0x00, 0x02,                                      // two records
      0x00, 0x00, 0x00, 0x60, 0x40, 0x6F, 0x80, 0x00,  // record 0 at 96
      0x00, 0x00, 0x00, 0x76, 0x40, 0x6F, 0x80, 0x01,  // record 1 at 118
      0x00, 0x00,                                      // gap
      0,    0,    0,    1,    0,    1,    0,    0,
      0,    0,    0,    0,    0,    0,    0,    0,  // index fixed words
      0x00, 0x04,                                   // record 1 size
      0x61, 0x00, 0x61, 0x00,                       // "a" "a"
      0x61, 0x09, 0x78, 0x0A};                      // "a\tx\n"
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kStats1);
  EXPECT_EQ(r.err, "Sorting...\nDone!\nIndex record (Record 0) size = 22 bytes\n");
  EXPECT_EQ(file("zelk.pdb"), std::string(reinterpret_cast<const char*>(golden), 122));
  EXPECT_EQ(file("out/zelksort.dic"), "a\tx\n");
  EXPECT_EQ(file("out/dic0000.txt"), "a\tx\n");
}

TEST_F(Zelkpack, CommandLineRules) {
  const std::string usage =
      "zelkpack v1.2 -- 2002/Nov./12\n"
      "Usage : zelkpack [-n dict_name] [-o out_file] [-l] dic-file\n"
      "        -n : specify Dictionary Name [default : ZelkDB]\n"
      "        -o : specify Output File Name [default : zelk.pdb]\n"
      "        -l : allow large index dictionary\n"
      "## zelkpack generate 'zelk.pdb' as result\n";
  const std::string ok = "Sorting...\nDone!\nIndex record (Record 0) size = 22 bytes\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::string output;  // database expected, "" when none
  };
  const Case cases[] = {
      {{}, 1, usage, ""},
      {{"-p", "d.txt", "-l"}, 1, usage, ""},
      {{"d.txt", "e.txt"}, 1, usage, ""},
      {{"-n"}, 1, "Need operand for '-n'\n", ""},
      {{"-n", "Name"}, 1, usage, ""},
      {{"-x", "-O"}, 1, "Illegal option 'x'\nNeed operand for '-O'\n", ""},
      {{"-x", "-p", "d.txt"}, 0, "Illegal option 'x'\n" + ok, "zelk.pdb"},
      {{"-", "-p", "d.txt"}, 0, std::string("Illegal option '\0'\n", 19) + ok, "zelk.pdb"},
      {{"--", "-p", "d.txt"}, 0, "Illegal option '-'\n" + ok, "zelk.pdb"},
      {{"-o", "-x", "-P", "d.txt"}, 0, ok, "-x"},
      {{"-output", "o.pdb", "-s", "-S", "-p", "d.txt"}, 0, ok, "o.pdb"},
      {{"-d", "-D", "-p", "d.txt"}, 0, ok, "zelk.pdb"},
      {{"-k", "1", "d.txt"}, 1, "Error: Chunk size 1 out of range (2..65535)\n", ""},
      {{"-k", "65536", "x"}, 1, "Error: Chunk size 65536 out of range (2..65535)\n", ""},
      {{"missing.txt"}, 1, "Can not open 'missing.txt'\n", ""},
      {{"-p", "."}, 1, "Can not open '.'\n", ""},
      {{"-p", ""}, 1, "Can not open ''\n", ""},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", "a\tx\n");
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, c.args);
    std::string what = c.args.empty() ? "(none)" : c.args[0] + " ...";
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.err, c.err) << what;
    EXPECT_EQ(r.out, c.status == 0 ? kStats1 : "") << what;
    if (!c.output.empty()) {
      EXPECT_EQ(read_file(scratch / c.output).size(), 122u) << what;
    }
    // Refusals before the input is read leave no work directory behind.
    if (c.status != 0) {
      EXPECT_FALSE(file_exists(scratch / "out")) << what;
    }
  }
}

TEST_F(Zelkpack, DatabaseNameComesFromTheLastNOperandCutTo31Bytes) {
  input("a\tx\n");
  ASSERT_EQ(run({"-nfoo", "Name", "-p", "d.txt"}).status, 0);
  EXPECT_EQ(file("zelk.pdb").substr(0, 32), "Name" + std::string(28, '\0'));
  std::string forty(40, 'N');
  ASSERT_EQ(run({"-n", forty, "-p", "d.txt"}).status, 0);
  EXPECT_EQ(file("zelk.pdb").substr(0, 32), std::string(31, 'N') + '\0');
}

TEST_F(Zelkpack, EntryLineSyntax) {
  struct Case {
    std::string line;
    std::string chunk;  // what the chunk file holds for it
  };
  const Case cases[] = {
      {"apple\tfruit\n", "apple\tfruit\n"},
      {"apple /// fruit\r\n", "apple\tfruit\n"},
      {"a\tb /// c\n", "a\tb /// c\n"},
      {"apple /// x\ty\n", "apple\tx\ty\n"},
      {"word\n", "word\n\t\n"},
      {"a ///b\tc\n", "a ///b\tc\n"},
      {"\tvalue\n", "\tvalue\n"},
      {"a\tb\rc\n", "a\tb\n"},
      {"\r\n", "\r\n\t\n"},
      {"no line feed\tat end", "no line feed\tat end\n"},
      {"x /// ", "x\t\n"},
      {"x ///", "x ///\n\t\n"},  // the copy ends every line with a line feed
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", c.line);
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, {"-p", "d.txt"});
    EXPECT_EQ(r.status, 0) << c.line;
    EXPECT_EQ(read_file(scratch / "out/dic0000.txt"), c.chunk) << c.line;
  }
}

TEST_F(Zelkpack, IndexRecordOf65535BytesIsAllowed) {  // 16 + 2 + 30000 + 1 + 35515 + 1
  input(std::string(30000, 'a') + "\t\n" + std::string(35515, 'b') + "\t\n");
  EXPECT_EQ(run({"-p", "-k", "65535", "d.txt"}).status, 0);
}

// Whatever stands at ./zelkpress, only the file it leaves counts.
TEST_F(Zelkpack, MisbehavingCompressors) {
  struct Case {
    const char* script;
    int status;
    std::string err_end;  // how standard error ends
  };
  const std::string ok = "Index record (Record 0) size = 22 bytes\n";
  const Case cases[] = {
      {"exit 0\n", 1, "Can not open 'out/dic0000.txz' for reading\n"},
      {"printf stored > \"$2\"; exit 3\n", 0, ok},
      {"head -c 65536 /dev/zero > \"$2\"\n", 1,
       "Error: Record 1 too big (65536 bytes), at most 65535.\n"},
      {"mkdir \"$2\"\n", 1, "Can not open 'out/dic0000.txz' for reading\n"},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", "a\tx\n");
    zelk_test::write_script(scratch / "zelkpress", c.script);
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, {"d.txt"});
    EXPECT_EQ(r.status, c.status) << c.script;
    EXPECT_TRUE(r.err.ends_with(c.err_end)) << c.script << r.err;
    if (c.status == 0) {
      EXPECT_EQ(read_file(scratch / "zelk.pdb").substr(96 + 16), std::string("\0\x06"
                                                                             "a\0a\0",
                                                                             6) +
                                                                     "stored");
    }
  }
}

TEST_F(Zelkpack, RefusesOutputThatWouldDestroyTheInputOrTheWorkFiles) {
  const std::string text = "a\tx\n";
  struct Case {
    std::string output;
    std::string err;  // "" when the run goes ahead
  };
  const char* const input_is = "is the input file.\n";
  const char* const work_dir = "is in the work directory.\n";
  const Case cases[] = {
      {"d.txt", input_is},
      {"./d.txt", input_is},
      {"link.txt", input_is},
      {"hard.txt", input_is},
      {"sub/../d.txt", input_is},
      {"out/dic0000.txt", work_dir},
      {"out/zelk.pdb", work_dir},
      {"./out//x.pdb", work_dir},
      {"work/x.pdb", work_dir},
      {"outside.pdb", ""},
      {"out.pdb", ""},
  };
  for (bool out_exists : {false, true}) {
    for (const Case& c : cases) {
      TempDir scratch;
      write_file(scratch / "d.txt", text);
      symlink("d.txt", (scratch / "link.txt").c_str());
      link((scratch / "d.txt").c_str(), (scratch / "hard.txt").c_str());
      mkdir((scratch / "sub").c_str(), 0755);
      if (out_exists) mkdir((scratch / "out").c_str(), 0755);
      symlink("out", (scratch / "work").c_str());
      RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, {"-p", "-o", c.output, "d.txt"});
      std::string what = c.output + (out_exists ? " (out exists)" : "");
      if (c.err.empty()) {
        EXPECT_EQ(r.status, 0) << what << r.err;
        continue;
      }
      if (c.output == "work/x.pdb" && !out_exists) {
        // A link to a work directory not made yet: the run makes out/ and
        // writes there, where nothing of the run is overwritten.
        EXPECT_EQ(r.status, 0) << what;
        continue;
      }
      EXPECT_EQ(r.status, 1) << what;
      EXPECT_EQ(r.err, "Error: Output file '" + c.output + "' " + c.err) << what;
      EXPECT_EQ(r.out, "") << what;
      EXPECT_EQ(read_file(scratch / "d.txt"), text) << what;
      EXPECT_EQ(file_exists(scratch / "out"), out_exists) << what << ": nothing created";
      EXPECT_FALSE(file_exists(scratch / "out/zelksort.dic")) << what;
    }
  }
}

}  // namespace
