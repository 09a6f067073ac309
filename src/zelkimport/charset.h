// Character set conversion with iconv, entry by entry.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace zelk::import {

struct Converter {
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter();
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  std::string from, to;  // as the user named them
};

// Opens a conversion; fails with "unknown character set" when iconv has none.
void open_converter(Converter& c, const std::string& from, const std::string& to, bool translit);
inline bool is_open(const Converter& c) { return c.cd != reinterpret_cast<iconv_t>(-1); }

// The result of a conversion: ok, or where it stopped (bytes into the input).
struct Conversion {
  bool ok = true;
  size_t at = 0;
};

// What becomes of a character the output set has not: transliterated (when
// translit is open: the same conversion with //TRANSLIT), else replaced by
// replacement; counted either way. A transliteration that gives only '?' is
// counted as replaced.
struct Unmappable {
  Converter* translit = nullptr;
  const std::string* replacement = nullptr;
  long transliterated = 0;
  long replaced = 0;
};

// Converts in; on a character the output set has not, returns its offset in
// in (unless unmappable says what to write instead).
Conversion convert(Converter& c, std::string_view in, std::string& out, Unmappable* unmappable);

// Offset of the first byte that is not part of valid UTF-8, or in.size().
size_t utf8_valid_prefix(std::string_view in);
// The code point of the (valid) UTF-8 character at in[at], and its length.
char32_t utf8_at(std::string_view in, size_t at, size_t* length);

}  // namespace zelk::import
