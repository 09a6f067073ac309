// The text toolkit: line capping, the separator test, the line walker, UTF-8
// and escaping for messages; and the chunk budget's operand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/line.h"
#include "text/utf8.h"
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

TEST(Line, WalkerNumbersLinesAndDropsTheirEnds) {
  zelk::LineWalk walk{"a\r\n\nb\r"};
  std::string_view line;
  std::string seen;
  while (zelk::next_line(walk, &line))
    seen += std::to_string(walk.number) + "[" + std::string(line) + "]";
  EXPECT_EQ(seen, "1[a]2[]3[b]");
  zelk::LineWalk raw{"a\r\n"};
  ASSERT_TRUE(zelk::next_line(raw, &line, false));
  EXPECT_EQ(line, "a\r");
  EXPECT_FALSE(zelk::next_line(raw, &line, false));
}

// Every UTF-8 boundary once: how much of the text is valid, and what the
// decoder, the encoder and the printable form make of it.
TEST(Utf8, ValidPrefixDecodingAndPrintableForm) {
  const std::pair<std::string, size_t> cases[] = {
      {"ab", 2},
      {"\xC2\x80", 2},  // U+0080, the least of two bytes
      {"\xDF\xBF", 2},
      {"\xC0\x81", 0},  // overlong
      {"\xC1\xBF", 0},
      {"a\xE0\x9F\xBF", 1},  // overlong in three bytes
      {"\xE0\xA0\x80", 3},
      {"\xED\xA0\x80", 0},  // the first surrogate
      {"\xED\xBF\xBF", 0},  // the last
      {"\xEF\xBC\xA1", 3},
      {"\xF0\x8F\xBF\xBF", 0},  // overlong in four bytes
      {"\xF0\x90\x90\x80", 4},
      {"\xF4\x90\x80\x80", 0},   // above U+10FFFF
      {"\xF4\x8F\xBF\xBFz", 5},  // U+10FFFF itself
      {"abcdefgh\xC3", 8},       // cut short after the eight-byte stride
      {"abcdefghijklmnop\xFF", 16},
      {"\xC3\xA9\xFF", 2},
      {"\x80", 0},
  };
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(zelk::utf8_valid_prefix(text), valid) << text;
    std::u32string chars;
    bool whole = valid == text.size();
    ASSERT_EQ(zelk::decode_utf8(text, chars), whole) << text;
    std::string printable = zelk::printable_utf8(text);
    EXPECT_TRUE(zelk::is_utf8(printable)) << text;
    if (whole) {
      std::string back;
      for (char32_t c : chars) zelk::append_utf8(c, back);
      EXPECT_EQ(back, text);
      EXPECT_EQ(printable, text);
      size_t length;
      EXPECT_EQ(zelk::utf8_at(text, 0, &length), chars[0]) << text;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[valid]));
      EXPECT_EQ(printable.substr(0, valid + 4), text.substr(0, valid) + hex) << text;
    }
  }
}

TEST(Utf8, EscapingForMessages) {
  struct Case {
    std::string text;
    zelk::Escaping how;
    std::string want;
  };
  std::string e_acute = "\xC3\xA9", key = "x", cut = "x";
  for (int i = 0; i < 100; ++i) key += e_acute;
  for (int i = 0; i < 30; ++i) cut += e_acute;
  const Case cases[] = {
      {"a\tb\\\x01\x7F\r\n", {}, "a\\tb\\\\\\x01\\x7f\\r\\n"},
      {"a\\\x1F\xFF", {false, true, true, 60}, "a\\\\x1F\\xFF"},
      {"\xC3\xA9", {false, true, false, 60}, "\xC3\xA9"},
      {key, {true, false, false, 60}, cut + "..."},  // 61 bytes, not into the 31st character
      {std::string(61, 'k'), {true, false, false, 60}, std::string(60, 'k') + "..."},
      {std::string(60, 'k'), {true, false, false, 60}, std::string(60, 'k')},
  };
  for (const Case& c : cases) EXPECT_EQ(zelk::escape_bytes(c.text, c.how), c.want) << c.text;
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
