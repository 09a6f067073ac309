// A dictionary of several megabytes through zelkpack and back through
// zelkdump: every buffer refills many times over. Labelled slow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "helpers.h"
#include "toolkit/file.h"
#include "zelkdump/commands.h"

namespace {

TEST(Large, SeveralMegabytesGoThroughWhole) {
  // 60,000 entries, 3.5 MB: keys repeat, some are long, values vary in length.
  std::string text;
  for (int i = 0; i < 60000; ++i) {
    std::string key = "w" + std::to_string(i * 7919 % 20011);
    if (i % 97 == 0) key += std::string(140, 'x');
    text += key + (i % 4 ? "\t" : " /// ") + std::string(static_cast<size_t>(10 + i % 70), 'v') +
            " sense " + std::to_string(i) + "\n";
  }
  ASSERT_GT(text.size(), 3u << 20);
  for (bool plain : {false, true}) {
    zelk_test::TempDir dir;
    zelk_test::write_file(dir / "d.txt", text);
    std::vector<std::string> args = {"-k", "8192", "d.txt"};
    if (plain) args.insert(args.begin(), "-p");
    zelk_test::RunResult r = zelk_test::run_in(dir.path, ZELKPACK, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Total words    = 60000\n"), std::string::npos) << r.out;
    std::string db = zelk_test::read_file(dir / "zelk.pdb");
    zelk::Captured out, err;
    int fd = zelk_test::memory_file(db);
    const std::string name = "t.pdb";
    zelk::DumpContext cx{name, out.f, err.f, false, zelk::Charset()};
    EXPECT_EQ(zelk::run_dump(cx, {"verify", {}, zelk::Strategy::kExact, "127.0.0.1", 8080, ""}, fd,
                             db.size()),
              0);
    EXPECT_NE(out.text().find("t.pdb: sound: "), std::string::npos) << out.text();
    zelk::Captured extracted;
    cx.out = extracted.f;
    EXPECT_EQ(zelk::run_dump(cx, {"extract", {}, zelk::Strategy::kExact, "127.0.0.1", 8080, ""}, fd,
                             db.size()),
              0);
    close(fd);
    EXPECT_TRUE(extracted.text() == zelk_test::chunk_files(dir.path)) << "plain=" << plain;
  }
}

}  // namespace
