// Byte order and the database's fixed parts, against bytes typed from the
// format description.
#include "pdb/format.h"

#include <gtest/gtest.h>

#include <string>

#include "pdb/byteorder.h"

namespace {

std::string bytes(const unsigned char* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

TEST(ByteOrder, WritersStoreBigEndianOnThisHost) {
  ASSERT_TRUE(zelk::SwapChoose());
  struct Case {
    uint32_t value;
    bool word;
    std::string want;
  };
  const Case cases[] = {
      {0x1234, true, "\x12\x34"},
      {0, true, std::string("\0\0", 2)},
      {0x12345, true, std::string("\x23\x45", 2)},  // only the low 16 bits
      {0x406F8000, false, std::string("\x40\x6F\x80\0", 4)},
      {96, false, std::string("\0\0\0\x60", 4)},
  };
  for (const Case& c : cases) {
    unsigned char out[4] = {};
    if (c.word) {
      zelk::put_word(out, c.value);
    } else {
      zelk::put_long(out, c.value);
    }
    EXPECT_EQ(bytes(out, c.want.size()), c.want) << c.value;
  }
}

TEST(ByteOrder, ProbeRecognisesOnlyBigAndLittleEndianHosts) {
  struct Case {
    unsigned char word[2];
    unsigned char dword[4];
    bool ok;
    zelk::WordConverter w;
    zelk::LongConverter l;
  };
  // What the bytes 01 02 and 01 02 03 04 read as on a host.
  const Case cases[] = {
      {{0x01, 0x02}, {0x01, 0x02, 0x03, 0x04}, true, zelk::SwapWord21, zelk::SwapLong4321},
      {{0x02, 0x01}, {0x04, 0x03, 0x02, 0x01}, true, zelk::SwapWord12, zelk::SwapLong1234},
      {{0x01, 0x02}, {0x03, 0x04, 0x01, 0x02}, false, zelk::SwapWord21, nullptr},  // 0x02010403
      {{0x01, 0x01}, {0x01, 0x02, 0x03, 0x04}, false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    zelk::SwapWord = nullptr;
    zelk::SwapLong = nullptr;
    EXPECT_EQ(zelk::swap_choose_for(c.word, c.dword), c.ok);
    EXPECT_EQ(zelk::SwapWord, c.w);
    EXPECT_EQ(zelk::SwapLong, c.l);
  }
  EXPECT_EQ(zelk::SwapWord21(0x1234), 0x3412);
  EXPECT_EQ(zelk::SwapLong4321(0x406F8000), 0x00806F40u);
  ASSERT_TRUE(zelk::SwapChoose());
}

TEST(Format, IndexRecordListsSizesThenKeys) {
  ASSERT_TRUE(zelk::SwapChoose());
  std::vector<zelk::IndexEntry> entries = {{"a", "bc", 300}, {"d", "e", 0x10005}};
  EXPECT_EQ(zelk::index_record_size(entries), 16 + 7 + 6);
  std::vector<unsigned char> r = zelk::build_index_record(entries, true);
  EXPECT_EQ(std::string(r.begin(), r.end()),
            std::string("\0\0\0\1\0\2\0\1\0\0\0\0\0\0\0\0"  // fixed words, flag 1
                        "\1\x2c\0\5"                        // sizes, low 16 bits
                        "a\0bc\0d\0e\0",
                        29));
  EXPECT_EQ(zelk::build_index_record(entries, false)[7], 0);
}

}  // namespace
