// The byte-order probe, on the hosts this one is not (what the database holds
// is checked byte for byte in cli_test.cc).
#include <gtest/gtest.h>

#include "zelkpack/host.h"

namespace {

TEST(ByteOrder, ProbeRecognisesOnlyBigAndLittleEndianHosts) {
  struct Case {
    unsigned char word[2];
    unsigned char dword[4];
    bool ok;
  };
  // What the bytes 01 02 and 01 02 03 04 read as on a host.
  const Case cases[] = {
      {{0x01, 0x02}, {0x01, 0x02, 0x03, 0x04}, true},
      {{0x02, 0x01}, {0x04, 0x03, 0x02, 0x01}, true},
      {{0x01, 0x02}, {0x03, 0x04, 0x01, 0x02}, false},  // 0x02010403
      {{0x01, 0x01}, {0x01, 0x02, 0x03, 0x04}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(zelk::byte_order_known(c.word, c.dword), c.ok);
  EXPECT_TRUE(zelk::host_order_known());
}

}  // namespace
