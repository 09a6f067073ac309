// Line capping, the separator test and the chunk budget's operand.
#include "text/line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zelkpack/cmdline.h"

namespace {

std::string capped(const std::string& line, int k) {
  static char buf[65536];
  std::memset(buf, 'X', sizeof buf);  // whatever an earlier line left there
  std::memcpy(buf, line.c_str(), line.size() + 1);
  zelk::truncate_line(buf, zelk::line_cap(k));
  return buf;
}

TEST(Line, TruncateLineCapsAtTheBudget) {
  struct Case {
    std::string line;
    int k;
    std::string want;
  };
  const Case cases[] = {
      {std::string(4999, 'a') + "\n", 4096, std::string(4094, 'a') + "\n"},
      {std::string(4095, 'a'), 4096, std::string(4094, 'a') + "\n"},  // K - 1 bytes
      {std::string(4094, 'a'), 4096, std::string(4094, 'a') + "\n"},  // K - 2: LF appended
      {std::string(4093, 'a') + "\n", 4096, std::string(4093, 'a') + "\n\n"},
      {std::string(4093, 'a'), 4096, std::string(4093, 'a')},  // K - 3: unchanged
      {std::string(4089, 'a'), 4096, std::string(4089, 'a')},  // K - 7: stores land past the end
      {"x\n", 2, "\n"},
      {"\n", 3, "\n\n"},
      {"abc\n", 3, "a\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(capped(c.line, c.k), c.want) << c.line.size() << " K=" << c.k;
}

TEST(Line, SeparatorAndValueScans) {
  EXPECT_EQ(zelk::scan_key("x ///", 100).length,
            5u);  // a separator cut short by the line end is none
  EXPECT_TRUE(zelk::scan_key("abcdef\tv", 3).cut);
  EXPECT_FALSE(zelk::scan_key("abc\tv", 3).cut);
  EXPECT_EQ(zelk::scan_value("b\rc\n", 100), 1u);
  EXPECT_EQ(zelk::scan_value("bcd", 2), 2u);
  EXPECT_EQ(zelk::xstrncmp("ab", "abc", 3), -1);
  EXPECT_EQ(zelk::xstrncmp("\xff", "a", 1), -1 - 'a');  // bytes compare as signed
  EXPECT_EQ(zelk::xstrncmp("anything", "x", 0), 0);
}

TEST(Line, LinesEndAfterALineFeedOrAt65535Bytes) {
  std::string text = "ab\ncd";
  EXPECT_EQ(zelk::line_length(text.data(), text.size()), 3u);
  EXPECT_EQ(zelk::line_length(text.data() + 3, 2), 2u);
  std::string longer(70000, 'x');
  EXPECT_EQ(zelk::line_length(longer.data(), longer.size()), 65535u);
}

TEST(CommandLine, ChunkSizeIsReadLikeAtoiAndSaturates) {
  struct Case {
    const char* text;
    int want;
  };
  const Case cases[] = {{"4096", 4096},
                        {" \t+20x", 20},
                        {"-5", -5},
                        {"abc", 0},
                        {"", 0},
                        {"- 5", 0},
                        {"99999999999", 2147483647},
                        {"-99999999999", -2147483647 - 1},
                        {"2147483648", 2147483647},
                        {"0x10", 0}};
  for (const Case& c : cases) EXPECT_EQ(zelk::read_chunk_size(c.text), c.want) << c.text;
}

}  // namespace
