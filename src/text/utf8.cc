#include "text/utf8.h"

#include <utf8.h>

#include <cstdio>
#include <cstring>
#include <iterator>

namespace zelk {

size_t utf8_valid_prefix(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size(), i = 0;
  // Eight ASCII bytes at a time: most of a dictionary is ASCII.
  while (i + 8 <= n) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ull) break;
    i += 8;
  }
  return static_cast<size_t>(utf8::find_invalid(p + i, p + n) - p);
}

bool decode_utf8(std::string_view text, std::u32string& out) {
  out.clear();
  if (!is_utf8(text)) return false;
  utf8::unchecked::utf8to32(text.begin(), text.end(), std::back_inserter(out));
  return true;
}

char32_t utf8_at(std::string_view text, size_t at, size_t* length) {
  const char* begin = text.data() + at;
  const char* it = begin;
  try {
    char32_t c = utf8::next(it, text.data() + text.size());
    *length = static_cast<size_t>(it - begin);
    return c;
  } catch (const utf8::exception&) {  // not valid after all: the byte alone
    *length = 1;
    return static_cast<unsigned char>(*begin);
  }
}

void append_utf8(char32_t c, std::string& out) {
  utf8::unchecked::append(static_cast<uint32_t>(c), std::back_inserter(out));
}

void append_hex_byte(unsigned char byte, std::string& out) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

std::string printable_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t valid = utf8_valid_prefix(bytes);
    out.append(bytes.data(), valid);
    if (valid == bytes.size()) break;
    append_hex_byte(static_cast<unsigned char>(bytes[valid]), out);
    bytes.remove_prefix(valid + 1);
  }
  return out;
}

std::string escape_bytes(std::string_view text, const Escaping& how) {
  std::string out;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (out.size() >= how.max && (c & 0xC0) != 0x80) return out + "...";
    if (c == '\\' && how.double_backslash) {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && how.high_bytes)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, how.upper_hex ? "\\x%02X" : "\\x%02x", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string escape(std::string_view key) { return escape_bytes(key); }

std::string escape_short(std::string_view key, size_t max) {
  Escaping how;
  how.max = max;
  return escape_bytes(key, how);
}

}  // namespace zelk
