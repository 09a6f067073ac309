// Big-endian output whatever the host: a probe at start-up picks the 16- and
// 32-bit converters, and the writers store converted values in memory order.
#pragma once

#include <cstdint>

namespace zelk {

using WordConverter = uint16_t (*)(uint16_t);
using LongConverter = uint32_t (*)(uint32_t);

// The two converter slots, empty until SwapChoose has run.
extern WordConverter SwapWord;
extern LongConverter SwapLong;

uint16_t SwapWord21(uint16_t v);    // exchanges the two bytes
uint16_t SwapWord12(uint16_t v);    // identity
uint32_t SwapLong4321(uint32_t v);  // reverses the four bytes
uint32_t SwapLong1234(uint32_t v);  // identity

// Sets both slots for this host; false when its byte order is neither
// big- nor little-endian. The memory-order bytes 01 02 / 01 02 03 04 are
// passed in so other hosts can be tried in tests.
bool SwapChoose();
bool swap_choose_for(const unsigned char word_bytes[2], const unsigned char long_bytes[4]);

// Store a value big-endian at dst (2 or 4 bytes) through the chosen slot.
void put_word(unsigned char* dst, uint32_t value);  // low 16 bits
void put_long(unsigned char* dst, uint32_t value);

// Big-endian values read back, whatever the host.
inline uint16_t get_word(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t get_long(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace zelk
