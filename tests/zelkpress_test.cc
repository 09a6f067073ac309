// zelkpress as zelkpack runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "codec/codec.h"
#include "helpers.h"
#include "toolkit/version.h"

namespace {

using zelk_test::file_exists;
using zelk_test::read_file;
using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;

std::string expand(const std::string& record) {
  std::vector<unsigned char> text;
  std::string error;
  if (!zelk::expand_record(reinterpret_cast<const unsigned char*>(record.data()), record.size(),
                           65535, text, error)) {
    return "(" + error + ")";
  }
  return std::string(text.begin(), text.end());
}

TEST(Zelkpress, CompressesAndPrintsNothing) {
  TempDir dir;
  std::string text = "apple\tfruit\npear\tfruit\n";
  write_file(dir / "c.txt", text);
  RunResult r = zelk_test::run_in(dir.path, ZELKPRESS, {"c.txt", "c.txz"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(expand(read_file(dir / "c.txz")), text);
}

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

TEST(Zelkpress, RemovesNothingButARegularFile) {
  const std::string text = "a\tb\n";
  struct Case {
    const char* what;
    std::string output;
    int status;
    std::string err;
    std::string written;  // where the record lands ("" for nowhere)
  };
  const Case cases[] = {
      {"a link to a file", "l.txz", 0, "", "target.txz"},
      {"a dangling link", "dangling.txz", 0, "", "new.txz"},
      {"a device", "/dev/null", 0, "", ""},
      {"a link to a full device", "full.txz", 1,
       "zelkpress: cannot write 'full.txz': No space left on device\n", ""},
      {"a directory", "dir", 1, "zelkpress: cannot create 'dir': Is a directory\n", ""},
      {"the input", "c.txt", 1, "zelkpress: output 'c.txt' is the input file\n", ""},
      {"the input, spelled otherwise", "./c.txt", 1,
       "zelkpress: output './c.txt' is the input file\n", ""},
      {"a link to the input", "lc.txz", 1, "zelkpress: output 'lc.txz' is the input file\n", ""},
      {"a hard link to the input", "hc.txz", 1, "zelkpress: output 'hc.txz' is the input file\n",
       ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir / "c.txt", text);
    write_file(dir / "target.txz", "old");
    symlink("target.txz", (dir / "l.txz").c_str());
    symlink("new.txz", (dir / "dangling.txz").c_str());
    symlink("/dev/full", (dir / "full.txz").c_str());
    symlink("c.txt", (dir / "lc.txz").c_str());
    link((dir / "c.txt").c_str(), (dir / "hc.txz").c_str());
    mkdir((dir / "dir").c_str(), 0755);
    RunResult r = zelk_test::run_in(dir.path, ZELKPRESS, {"c.txt", c.output});
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(read_file(dir / "c.txt"), text) << c.what << ": the input is untouched";
    if (!c.written.empty()) {
      EXPECT_EQ(expand(read_file(dir / c.written)), text) << c.what;
    }
    struct stat st;
    for (const char* name : {"l.txz", "dangling.txz", "full.txz", "lc.txz"}) {
      EXPECT_EQ(lstat((dir / name).c_str(), &st), 0) << c.what << ": " << name;
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what << ": " << name << " is still a link";
    }
    EXPECT_EQ(stat((dir / "dir").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.what;
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

TEST(Zelkpress, HelpAndVersion) {
  TempDir dir;
  RunResult help = zelk_test::run_in(dir.path, ZELKPRESS, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: zelkpress CHUNK OUTPUT\n", 0), 0u);
  RunResult version = zelk_test::run_in(dir.path, ZELKPRESS, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind(std::string("zelkpress ") + zelk::kVersion + " (libdeflate ", 0), 0u);
  RunResult full =
      zelk_test::run_in(dir.path, ZELKPRESS, {"--help"}, "sh -c 'exec \"$0\" \"$@\" >/dev/full'");
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.err, "zelkpress: cannot write standard output\n");
}

}  // namespace
