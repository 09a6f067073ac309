// zelkpack on full devices and with too little memory: the exact message and
// status, never a crash or a success over a short file. `ctest -L fault`.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "helpers.h"

namespace {

using zelk_test::RunResult;
using zelk_test::TempDir;
using zelk_test::write_file;

const std::string kBegin = "Sorting...\nDone!\n";
const std::string kSize22 = "Index record (Record 0) size = 22 bytes\n";

class Fault : public zelk_test::ZelkpackRun {};

TEST_F(Fault, FullDevices) {
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

TEST_F(Fault, TooLittleMemory) {
#ifdef ZELK_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  std::string text;  // many short lines: the sort's tables fail first
  for (int i = 0; i < 6'000'000; ++i) text += "a\tb\n";
  input(text);
  RunResult r = run({"-p", "d.txt"}, "ulimit -v 100000;");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "Sorting...\nError: No more memory\n");
}

}  // namespace
