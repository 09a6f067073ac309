// zelkpack run as users run it: in a scratch directory, comparing exit
// status, standard output, standard error and the files it leaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/format.h"
#include "helpers.h"

namespace {

using zelk::list_entry_offset;
using zelk::record0_offset;
using zelk_test::be16;
using zelk_test::be32;
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

TEST_F(Zelkpack, LinesAreCappedAtTheChunkBudget) {
  // K = 4096: a 5000-byte line keeps 4094 bytes and a line feed; a 4094-byte
  // line without separator becomes a 4095-byte key, too long for a chunk.
  input("k\t" + std::string(4998, 'v') + "\n");
  RunResult r = run({"-p", "d.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("out/dic0000.txt"), "k\t" + std::string(4092, 'v') + "\n");
  EXPECT_EQ(r.out, "\nMAX Key Length = 1\nMAX Val Length = 4092\nTotal words    = 1\n");

  std::remove((dir / "zelk.pdb").c_str());
  input("\n" + std::string(4093, 'w') + "\n");
  r = run({"-p", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Sorting...\nWarning: Too long word in line 2, Truncated\nDone!\nError: Too Long (4097 "
            "chars) Lines in input file (line 2).\n");
  EXPECT_EQ(file("out/dic0000.txt"), "");  // opened for the entry that did not fit
  EXPECT_FALSE(file_exists(dir / "zelk.pdb"));
}

TEST_F(Zelkpack, ChunkBoundaries) {
  input("ab\t1234567\naa\t1234567\n");
  RunResult r = run({"-p", "-d", "-k", "20", "d.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "enter_key('aa', 'aa',   11)\nenter_key('ab', 'ab',   11)\n\n"
            "MAX Key Length = 2\nMAX Val Length = 7\nTotal words    = 2\n");
  EXPECT_EQ(r.err,
            "Sorting...\nDone!\nIndex record (Record 0) size = 32 bytes\n"
            "gen_body(): 1, 00000056, 00000088\nconverting record 1 of 2\n"
            "gen_body(): 2, 0000005e, 00000093\nconverting record 2 of 2\n");
  EXPECT_EQ(file("out/dic0000.txt"), "aa\t1234567\n");
  EXPECT_EQ(file("out/dic0001.txt"), "ab\t1234567\n");
  std::string db = file("zelk.pdb");
  EXPECT_EQ(db.size(), 104u + 32 + 22);
  EXPECT_EQ(db.substr(104, 32),
            std::string("\0\0\0\1\0\2\0\0\0\0\0\0\0\0\0\0\0\13\0\13aa\0aa\0ab\0ab\0", 32));

  // With K = 22 both fit exactly and stay in one chunk.
  ASSERT_EQ(run({"-p", "-k", "22", "d.txt"}).status, 0);
  EXPECT_EQ(file("out/dic0000.txt"), "aa\t1234567\nab\t1234567\n");
  EXPECT_EQ(file("zelk.pdb").size(), 96u + 24 + 22);
}

// One chunk holding two entries whose keys make an index record of exactly
// the given size: 16 + 2 + first + 1 + last + 1.
std::string index_of_size(long size) {
  long first = 30000, last = size - 20 - first;
  return std::string(static_cast<size_t>(first), 'a') + "\t\n" +
         std::string(static_cast<size_t>(last), 'b') + "\t\n";
}

TEST_F(Zelkpack, IndexRecordLimit) {
  input(index_of_size(65535));
  RunResult r = run({"-p", "-k", "65535", "d.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Index record (Record 0) size = 65535 bytes\n"), std::string::npos);
  EXPECT_EQ(r.err.find("Warning: This"), std::string::npos);

  input(index_of_size(65536));
  r = run({"-p", "-k", "65535", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Sorting...\nWarning: Too long word in line 1, Truncated\n"
            "Warning: Too long word in line 2, Truncated\nDone!\n"
            "Index record (Record 0) size = 65536 bytes\n"
            "Error: Too big Index Record...\nABORTED\n");
  std::string partial = file("zelk.pdb");
  ASSERT_EQ(partial.size(), 86u);  // header and record 0's list entry
  EXPECT_EQ(partial.substr(zelk::kRecordCountOffset), be16(2) + be32(96) + be32(0x406F8000));

  r = run({"-p", "-l", "-k", "65535", "d.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Warning: This dictionary MUST be put on Palm's SD-card or MemoryStick "
                       "(ie. VFS)\n"),
            std::string::npos);
  std::string db = file("zelk.pdb");
  EXPECT_EQ(db.size(), 96u + 65536 + 65520);
  EXPECT_EQ(db.substr(list_entry_offset(1), 4), be32(96 + 65536));  // behind the large index
}

TEST_F(Zelkpack, CompressorRunsOncePerChunkAndItsOutputIsStored) {
  compressor("echo \"$1 $2\" >> calls.log\ncp \"$1\" \"$2\"\nprintf Z >> \"$2\"\n");
  input("b\t2\na\t1\nc\t3\n");
  RunResult r = run({"-k", "7", "d.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("calls.log"),
            "out/dic0000.txt out/dic0000.txz\nout/dic0001.txt out/dic0001.txz\n"
            "out/dic0002.txt out/dic0002.txz\n");
  std::string db = file("zelk.pdb");
  size_t index_at = record0_offset(3), body = index_at + 16 + 3 * 6;
  EXPECT_EQ(db.substr(index_at, 12), std::string("\0\0\0\1\0\3\0\1\0\0\0\0", 12));
  EXPECT_EQ(db.substr(index_at + 16, 6), be16(5) + be16(5) + be16(5));
  // Final offsets count the compressed sizes, not the text sizes.
  EXPECT_EQ(db.substr(list_entry_offset(1), 24), be32(body) + be32(0x406F8001) + be32(body + 5) +
                                                     be32(0x406F8002) + be32(body + 10) +
                                                     be32(0x406F8003));
  EXPECT_EQ(db.substr(body), "a\t1\nZb\t2\nZc\t3\nZ");
}

TEST_F(Zelkpack, MissingCompressedChunkLeavesPartialFile) {
  // The compressor adds a byte to the first two chunks and leaves out the
  // third: records 1 and 2 are written, their offsets final (counting the
  // stored sizes); record 3's offset stays provisional (counting text sizes).
  compressor("case \"$1\" in *0002.txt) ;; *) cp \"$1\" \"$2\"; printf Z >> \"$2\";; esac\n");
  input("a\t1\nb\t2\nc\t3\n");
  RunResult r = run({"-k", "5", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Sorting...\nDone!\nIndex record (Record 0) size = 34 bytes\n"
            "Can not open 'out/dic0002.txz' for reading\n");
  std::string db = file("zelk.pdb");
  size_t body = record0_offset(3) + 34;
  ASSERT_EQ(db.size(), body + 10);
  EXPECT_EQ(db.substr(list_entry_offset(1), 24), be32(body) + be32(0x406F8001) + be32(body + 5) +
                                                     be32(0x406F8002) + be32(body + 8) +
                                                     be32(0x406F8003));
  EXPECT_EQ(db.substr(record0_offset(3), 34), std::string(34, '\0'));  // room for record 0
  EXPECT_EQ(db.substr(body), "a\t1\nZb\t2\nZ");

  // Without any compressor output the file ends where record 0 would begin;
  // a stale output of an earlier run would be read instead, so remove it.
  std::remove((dir / "out/dic0000.txz").c_str());
  compressor("exit 0\n");
  r = run({"-k", "5", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(file("zelk.pdb").size(), record0_offset(3));
}

TEST_F(Zelkpack, RefusesInputWithoutEntries) {
  for (std::string text : {"", "\n", "\n\n\n"}) {
    input(text);
    RunResult r = run({"-p", "d.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Sorting...\nDone!\nError: No entries in input file.\n");
    EXPECT_FALSE(file_exists(dir / "out/dic0000.txt"));
    EXPECT_FALSE(file_exists(dir / "zelk.pdb"));
  }
}

TEST_F(Zelkpack, RefusesMoreThan65534Chunks) {
  std::string text;
  for (int i = 0; i < 65535; ++i) text += "a\tb\n";
  input(text);
  RunResult r = run({"-p", "-k", "5", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Sorting...\nDone!\nError: Too many chunks (65535), at most 65534.\n");
  EXPECT_TRUE(file_exists(dir / "out/dic65534.txt"));
  EXPECT_FALSE(file_exists(dir / "zelk.pdb"));
}

TEST_F(Zelkpack, OutputThatCannotBeOpenedIsReportedAfterTheWorkFiles) {
  input("a\tx\n");
  RunResult r = run({"-p", "-o", "no/such/dir.pdb", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Sorting...\nDone!\nCan not open 'no/such/dir.pdb' for write.\n");
  EXPECT_EQ(file("out/dic0000.txt"), "a\tx\n");  // work files were written first
}

const std::string kRun20 = "Sorting...\nDone!\nIndex record (Record 0) size = 22 bytes\n";

TEST_F(Zelkpack, ReadsFromAPipe) {
  // No size to reserve ahead: the input grows as it is read, past 64 KB.
  std::string text;
  for (int i = 0; i < 9000; ++i) text += "k" + std::to_string(i) + "\tv\n";
  input(text);
  ASSERT_EQ(run({"-p", "d.txt"}).status, 0);
  std::string from_file = file("zelk.pdb");
  RunResult r = run({"-p", "/dev/stdin"}, "sh -c 'cat d.txt | exec \"$0\" \"$@\"'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(file("zelk.pdb") == from_file);
}

TEST_F(Zelkpack, WarnsAboutWhatItMangles) {
  const std::string k18 = std::string(16, 'v');  // "a\t" + 16 bytes: K - 2 = 18 at K = 20
  struct Case {
    std::string input;
    std::vector<std::string> args;
    std::string warnings;  // after the size line
  };
  const Case cases[] = {
      {"a\t" + k18 + "\n", {"-k", "20"}, ""},
      {"a\t" + k18 + "\r\n",
       {"-k", "20"},
       "Warning: 1 line cut to 18 bytes; the longest was 19 bytes.\n"},
      {"a\t" + k18 + "x\nb\t" + k18 + "xyz\n",
       {"-k", "20"},
       "Warning: 2 lines cut to 18 bytes; the longest was 21 bytes.\n"},
      // 65535 bytes before the line feed: one line cut, but not read in pieces...
      {"a\t" + std::string(65533, 'v') + "\n",
       {"-k", "65535"},
       "Warning: 1 line cut to 65533 bytes; the longest was 65535 bytes.\n"},
      // ...65536 and more are (the first piece of each is cut too).
      {"a\t" + std::string(65533, 'v') + "\n" + "b\t" + std::string(70000, 'w') + "\nc\t" +
           std::string(65534, 'u'),
       {"-k", "65535"},
       "Warning: 3 lines cut to 65533 bytes; the longest was 65535 bytes.\n"
       "Warning: 2 input lines over 65535 bytes read in pieces.\n"},
      {"\xEF\xBB\xBF"
       "a\tx\n",
       {"-k", "20"},
       "Warning: Input file starts with a byte order mark, kept in the first line's key.\n"},
      {"\xEF\xBB"
       "a\tx\n",
       {"-k", "20"},
       ""},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", c.input);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-p", "d.txt"});
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, args);
    EXPECT_EQ(r.status, 0) << c.warnings;
    size_t size_line = r.err.find("size = ");
    ASSERT_NE(size_line, std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n', size_line) + 1), c.warnings) << c.input.size();
  }
}

TEST_F(Zelkpack, WarningsComeAfterTheTraceAndNotAfterAFailure) {
  input(
      "\xEF\xBB\xBF"
      "b\t12345678901234567890\na\t1\n");
  RunResult r = run({"-p", "-d", "-k", "20", "d.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Sorting...\nDone!\nIndex record (Record 0) size = 34 bytes\n"
            "gen_body(): 1, 00000056, 0000008a\nconverting record 1 of 2\n"
            "gen_body(): 2, 0000005e, 0000008e\nconverting record 2 of 2\n"
            "Warning: 1 line cut to 18 bytes; the longest was 25 bytes.\n"
            "Warning: Input file starts with a byte order mark, kept in the first line's key.\n");

  input("\xEF\xBB\xBF" + std::string(30, 'k') + "\n");
  r = run({"-p", "-k", "20", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Sorting...\nDone!\nError: Too Long (21 chars) Lines in input file (line 1).\n");
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

TEST_F(Zelkpack, StandardOutputThatCannotBeWrittenIsAnError) {
  input("a\tx\n");
  RunResult r = run({"-p", "d.txt"}, "sh -c 'exec \"$0\" \"$@\" >/dev/full'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kRun20 + "Error: Can not write 'standard output'\n");
  EXPECT_EQ(file("zelk.pdb").size(), 122u) << "the database is written first";
}

}  // namespace
