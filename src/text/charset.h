// Character set conversion with iconv, one text at a time: zelkimport's
// entries into and out of UTF-8, zelkdump's keys and values for display.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace zelk {

struct Converter {
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter();
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  std::string from, to;  // as the user named them
};

// Opens a conversion; false when iconv has none.
bool try_open(Converter& c, const std::string& from, const std::string& to, bool translit = false);

// The same, raising "cannot convert from X to Y: unknown character set".
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
// in (unless unmappable says what to write instead), out then holding what
// came before it.
Conversion convert(Converter& c, std::string_view in, std::string& out, Unmappable* unmappable);

}  // namespace zelk
