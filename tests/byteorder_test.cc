// The byte-order probe, on the hosts this one is not (what the database holds
// is checked byte for byte in cli_test.cc).
#include "pdb/byteorder.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
