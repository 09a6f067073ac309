#include "pdb/byteorder.h"

#include <cstring>

namespace zelk {

WordConverter SwapWord = nullptr;
LongConverter SwapLong = nullptr;

uint16_t SwapWord21(uint16_t v) { return static_cast<uint16_t>(((v >> 8) & 0xFF) + (v << 8)); }
uint16_t SwapWord12(uint16_t v) { return v; }

uint32_t SwapLong4321(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
uint32_t SwapLong1234(uint32_t v) { return v; }

bool swap_choose_for(const unsigned char word_bytes[2], const unsigned char long_bytes[4]) {
  uint16_t w;
  uint32_t l;
  std::memcpy(&w, word_bytes, 2);
  std::memcpy(&l, long_bytes, 4);
  if (w == 0x0201) {
    SwapWord = SwapWord21;
  } else if (w == 0x0102) {
    SwapWord = SwapWord12;
  } else {
    return false;
  }
  if (l == 0x04030201) {
    SwapLong = SwapLong4321;
  } else if (l == 0x01020304) {
    SwapLong = SwapLong1234;
  } else {
    return false;
  }
  return true;
}

bool SwapChoose() {
  static const unsigned char word_bytes[2] = {1, 2};
  static const unsigned char long_bytes[4] = {1, 2, 3, 4};
  return swap_choose_for(word_bytes, long_bytes);
}

void put_word(unsigned char* dst, uint32_t value) {
  uint16_t v = SwapWord(static_cast<uint16_t>(value));
  std::memcpy(dst, &v, 2);
}

void put_long(unsigned char* dst, uint32_t value) {
  uint32_t v = SwapLong(value);
  std::memcpy(dst, &v, 4);
}

}  // namespace zelk
