#include "zelkpack/host.h"

#include <cstdint>
#include <cstring>

namespace zelk {

bool byte_order_known(const unsigned char word_bytes[2], const unsigned char long_bytes[4]) {
  uint16_t w;
  uint32_t l;
  std::memcpy(&w, word_bytes, 2);
  std::memcpy(&l, long_bytes, 4);
  bool word_known = w == 0x0201 || w == 0x0102;
  bool long_known = l == 0x04030201 || l == 0x01020304;
  return word_known && long_known;
}

bool host_order_known() {
  const uint16_t word = 0x0102;
  const uint32_t value = 0x01020304;
  unsigned char word_bytes[2], long_bytes[4];
  std::memcpy(word_bytes, &word, 2);
  std::memcpy(long_bytes, &value, 4);
  return byte_order_known(word_bytes, long_bytes);
}

}  // namespace zelk
