// zelkpack under faults and at its limits: full devices, a file size limit,
// too little memory, work files it cannot write, compressors that misbehave.
// Every case ends in the exact message and status, never a crash or a
// success over a short file. Run alone with `ctest -L fault`.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "format/format.h"
#include "helpers.h"

namespace {

using zelk_test::file_exists;
using zelk_test::read_file;
using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;
using zelk_test::write_script;

const std::string kBegin = "Sorting...\nDone!\n";
const std::string kSize22 = "Index record (Record 0) size = 22 bytes\n";

class Fault : public zelk_test::ZelkpackRun {};

TEST_F(Fault, FullDevices) {
  input("a\tx\n");
  struct Case {
    const char* link;  // work file made a link to /dev/full, or "" for -o /dev/full
    std::string err;
  };
  const Case cases[] = {
      {"", kBegin + kSize22 + "Error: Can not write '/dev/full'\n"},
      {"out/zelksort.dic", "Sorting...\nError: Can not write 'out/zelksort.dic'\n"},
      {"out/dic0000.txt", kBegin + "Error: Can not write 'out/dic0000.txt'\n"},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", "a\tx\n");
    mkdir((scratch / "out").c_str(), 0755);
    std::vector<std::string> args = {"-p", "d.txt"};
    if (*c.link) {
      ASSERT_EQ(symlink("/dev/full", (scratch / c.link).c_str()), 0);
    } else {
      args = {"-p", "-o", "/dev/full", "d.txt"};
    }
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(Fault, FileSizeLimitIsAWriteError) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "key" + std::to_string(i) + "\tvalue\n";
  input(text);  // about 40 KB, over the limit of a few kilobytes
  RunResult r = run({"-p", "d.txt"}, "ulimit -f 8;");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Sorting...\nError: Can not write 'out/zelksort.dic'\n");
  size_t kept = read_file(dir / "out/zelksort.dic").size();  // what fitted stays
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, text.size());
}

TEST_F(Fault, TooLittleMemory) {
#ifdef ZELK_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  // Fails while reading the input, and, with a smaller input of many short
  // lines, while building the tables that sort it.
  struct Case {
    size_t lines;
    const char* line;
    std::string limit;
  };
  const Case cases[] = {{4'000'000, "the line of a large input\tvalue\n", "ulimit -v 100000;"},
                        {6'000'000, "a\tb\n", "ulimit -v 100000;"}};
  for (const Case& c : cases) {
    std::string text;
    text.reserve(c.lines * std::string(c.line).size());
    for (size_t i = 0; i < c.lines; ++i) text += c.line;
    input(text);
    RunResult r = run({"-p", "d.txt"}, c.limit);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "Sorting...\nError: No more memory\n");
  }
}

TEST_F(Fault, TooLittleMemoryToCompressBuiltIn) {
#ifdef ZELK_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  // Whatever the limit, compressing built in either does all the work (fewer
  // threads, the same database) or ends the run as any allocation failure.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "word" + std::to_string(i) + "\tthe fruit of a tree\n";
  input(text);
  ASSERT_EQ(run({"-k", "1024", "d.txt"}).status, 0);
  const std::string database = read_file(dir / "zelk.pdb");
  int failed = 0, done = 0;
  for (int limit : {9000, 12000, 16000, 20000, 30000, 60000}) {
    std::remove((dir / "zelk.pdb").c_str());
    RunResult r = run({"-k", "1024", "d.txt"}, "ulimit -v " + std::to_string(limit) + ";");
    if (r.status == 0) {
      ++done;
      EXPECT_TRUE(read_file(dir / "zelk.pdb") == database) << limit;
    } else {
      ++failed;
      EXPECT_EQ(r.status, 1) << limit;
      EXPECT_EQ(r.err.substr(r.err.size() - std::min<size_t>(r.err.size(), 22)),
                "Error: No more memory\n")
          << limit;
    }
  }
  EXPECT_GT(failed, 0) << "9 MB is too little for the compressor";
  EXPECT_GT(done, 0) << "60 MB is enough";
}

TEST_F(Fault, WorkFilesThatCannotBeWritten) {
  input("a\tx\n");
  write_file(dir / "out", "a file where the work directory should be");
  RunResult r = run({"-p", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Sorting...\nCan't open 'out/zelksort.dic' for write\n");

  TempDir other;
  write_file(other / "d.txt", "a\tx\n");
  mkdir((other / "out").c_str(), 0755);
  mkdir((other / "out/dic0000.txt").c_str(), 0755);
  r = zelk_test::run_in(other.path, ZELKPACK, {"-p", "d.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kBegin + "Can not open 'out/dic0000.txt' for write\n");
}

TEST_F(Fault, MisbehavingCompressors) {
  struct Case {
    const char* what;
    std::string script;
    int status;
    std::string err_end;  // end of standard error (a shell may report a crash before it)
    size_t record;        // size of record 1 when the run succeeds
  };
  const std::string cannot = "Can not open 'out/dic0000.txz' for reading\n";
  const Case cases[] = {
      {"crashes", "kill -SEGV $$\n", 1, cannot, 0},
      {"fails without output", "exit 3\n", 1, cannot, 0},
      {"writes an empty file", ": > \"$2\"\n", 0, "", 0},
      {"writes more than K, as much as a record holds", "head -c 65535 /dev/zero > \"$2\"\n", 0, "",
       65535},
      {"writes 65536 bytes", "head -c 65536 /dev/zero > \"$2\"\n", 1,
       "Error: Record 1 too big (65536 bytes), at most 65535.\n", 0},
      {"output is a directory", "mkdir \"$2\"\n", 1, cannot, 0},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", "a\tx\n");
    write_script(scratch / "zelkpress", c.script);
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, {"-k", "100", "d.txt"});
    EXPECT_EQ(r.status, c.status) << c.what;
    ASSERT_GE(r.err.size(), c.err_end.size()) << c.what;
    EXPECT_EQ(r.err.substr(r.err.size() - c.err_end.size()), c.err_end) << c.what << ": " << r.err;
    if (c.status == 0) {
      EXPECT_EQ(read_file(scratch / "zelk.pdb").size(), 96u + 22 + c.record) << c.what;
    }
  }

  // A compressor that writes nothing leaves an earlier run's output to be
  // read as if it had just been written.
  input("a\tx\n");
  compressor("cp \"$1\" \"$2\"\n");
  ASSERT_EQ(run({"d.txt"}).status, 0);
  compressor("exit 0\n");
  input("b\ty\n");
  RunResult r = run({"d.txt"});
  EXPECT_EQ(r.status, 0);
  std::string db = read_file(dir / "zelk.pdb");
  EXPECT_EQ(db.substr(db.size() - 4), "a\tx\n");
}

TEST_F(Fault, LimitsOfLinesAndKeys) {
  struct Case {
    std::string text;
    std::string chunk;  // what out/dic0000.txt holds
  };
  const Case cases[] = {
      // A line of 65535 bytes with its line feed is one line...
      {"k\t" + std::string(65532, 'v') + "\n", "k\t" + std::string(65531, 'v') + "\n"},
      // ...one of 65536 arrives as two: its first 65535 bytes, then the line feed.
      {"k\t" + std::string(65533, 'v') + "\n", "k\t" + std::string(65531, 'v') + "\n"},
      {std::string(999, 'q') + "\tv\n", std::string(999, 'q') + "\tv\n"},
      {std::string(5000, 'q') + "\tv\n", std::string(5000, 'q') + "\tv\n"},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    write_file(scratch / "d.txt", c.text);
    RunResult r = zelk_test::run_in(scratch.path, ZELKPACK, {"-p", "-k", "65535", "d.txt"});
    EXPECT_EQ(r.status, 0) << c.text.size() << r.err;
    EXPECT_TRUE(read_file(scratch / "out/dic0000.txt") == c.chunk) << c.text.size();
    // The index record keeps every key whole.
    std::string key = c.chunk.substr(0, c.chunk.find('\t'));
    EXPECT_NE(read_file(scratch / "zelk.pdb").find(key + '\0' + key + '\0'), std::string::npos);
  }
}

TEST_F(Fault, ExactlyTheLargestNumberOfChunks) {
  std::string text;
  for (int i = 0; i < 65534; ++i) text += "a\tb\n";
  input(text);
  RunResult r = run({"-p", "-l", "-k", "5", "d.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string db = read_file(dir / "zelk.pdb");
  EXPECT_EQ(db.substr(zelk::kRecordCountOffset, 2), "\xff\xff");  // 65535 records
  EXPECT_EQ(db.size(), 80u + 8 * 65535 + 16 + 65534 * 6 + 65534 * 4);
}

}  // namespace
