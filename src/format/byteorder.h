// Big-endian fields, written and read byte by byte whatever the host's own
// order.
#pragma once

#include <cstdint>

namespace zelk {

// Stores the low 16 bits of value at dst, most significant byte first.
inline void put_word(unsigned char* dst, uint32_t value) {
  dst[0] = static_cast<unsigned char>(value >> 8);
  dst[1] = static_cast<unsigned char>(value);
}

// Stores value at dst, most significant byte first.
inline void put_long(unsigned char* dst, uint32_t value) {
  dst[0] = static_cast<unsigned char>(value >> 24);
  dst[1] = static_cast<unsigned char>(value >> 16);
  dst[2] = static_cast<unsigned char>(value >> 8);
  dst[3] = static_cast<unsigned char>(value);
}

inline uint16_t get_word(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline uint32_t get_long(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline uint64_t get_quad(const unsigned char* p) {
  return static_cast<uint64_t>(get_long(p)) << 32 | get_long(p + 4);
}

// The same over chars (bytes read as text).
inline uint32_t get_long(const char* p) {
  return get_long(reinterpret_cast<const unsigned char*>(p));
}
inline uint64_t get_quad(const char* p) {
  return get_quad(reinterpret_cast<const unsigned char*>(p));
}

}  // namespace zelk
