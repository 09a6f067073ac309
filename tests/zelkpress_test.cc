// zelkpress as zelkpack runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "codec/codec.h"
#include "helpers.h"
#include "toolkit/version.h"

namespace {

using zelk_test::file_exists;
using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;

TEST(Zelkpress, FailuresLeaveNoOutput) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{}, 2, "usage: zelkpress CHUNK OUTPUT\n"},
      {{"c.txt"}, 2, "usage: zelkpress CHUNK OUTPUT\n"},
      {{"c.txt", "o.txz", "x"}, 2, "usage: zelkpress CHUNK OUTPUT\n"},
      {{"", "o.txz"}, 2, "usage: zelkpress CHUNK OUTPUT\n"},
      {{"c.txt", ""}, 2, "usage: zelkpress CHUNK OUTPUT\n"},
      {{"missing.txt", "o.txz"},
       1,
       "zelkpress: cannot open 'missing.txt': No such file or directory\n"},
      {{"dir", "o.txz"}, 1, "zelkpress: cannot read 'dir': Is a directory\n"},
      {{"c.txt", "no/o.txz"},
       1,
       "zelkpress: cannot create 'no/o.txz': No such file or directory\n"},
      {{"c.txt", "/dev/full"}, 1, "zelkpress: cannot write '/dev/full': No space left on device\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir / "c.txt", "a\tb\n");
    write_file(dir / "o.txz", "stale output of an earlier run");
    mkdir((dir / "dir").c_str(), 0755);
    RunResult r = zelk_test::run_in(dir.path, ZELKPRESS, c.args);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    if (c.status == 1 && c.args[1] == "o.txz") {
      EXPECT_FALSE(file_exists(dir / "o.txz")) << c.err;  // the stale output is gone
    }
  }
  struct stat st;
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "an output that is a device is written, not replaced";
}

// However the output names the chunk (itself, a hard link, a symbolic link),
// the chunk is left as it was.
TEST(Zelkpress, OutputThatIsTheChunkIsRefused) {
  for (const char* output : {"c.txt", "./c.txt", "hard.txz", "sym.txz"}) {
    TempDir dir;
    write_file(dir / "c.txt", "a\tb\n");
    ASSERT_EQ(link((dir / "c.txt").c_str(), (dir / "hard.txz").c_str()), 0);
    ASSERT_EQ(symlink("c.txt", (dir / "sym.txz").c_str()), 0);
    RunResult r = zelk_test::run_in(dir.path, ZELKPRESS, {"c.txt", output});
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err, std::string("zelkpress: output '") + output + "' is the input file\n");
    EXPECT_EQ(zelk_test::read_file(dir / "c.txt"), "a\tb\n") << output;
  }
}

TEST(Zelkpress, OutOfMemoryIsAMessage) {
#ifdef ZELK_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  TempDir dir;
  write_file(dir / "c.txt", "a\tb\n");
  RunResult r = zelk_test::run_in(dir.path, ZELKPRESS, {"c.txt", "c.txz"}, "ulimit -v 6000;");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zelkpress: cannot compress 'c.txt': Cannot allocate memory\n");
  EXPECT_FALSE(file_exists(dir / "c.txz"));
}

// A write that fails into a regular file (here past a file size limit of
// 512 bytes, with the signal for it ignored) leaves no part of a record
// behind. The chunk's text hardly compresses, so its record is over the limit.
TEST(Zelkpress, FailedWriteRemovesThePartialOutput) {
  TempDir dir;
  std::string text;
  unsigned state = 1;
  for (int i = 0; i < 4000; ++i) {
    state = state * 1103515245 + 12345;
    text += static_cast<char>('a' + (state >> 16) % 26);
  }
  write_file(dir / "c.txt", text + "\tb\n");
  RunResult r =
      zelk_test::run_in(dir.path, ZELKPRESS, {"c.txt", "c.txz"}, "trap '' XFSZ; ulimit -f 1;");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zelkpress: cannot write 'c.txz': File too large\n");
  EXPECT_FALSE(file_exists(dir / "c.txz"));
}

}  // namespace
