#include "text/fold.h"

#include <utf8proc.h>

#include <cstdlib>

namespace zelk {

namespace {

bool is_blank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

std::string without_blanks(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char ch : text) {
    if (!is_blank(ch)) kept += ch;
  }
  return kept;
}

char ascii_lower(char ch) {
  return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

}  // namespace

std::string case_folded(std::string_view text) {
  utf8proc_uint8_t* folded = nullptr;
  utf8proc_ssize_t n = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
      static_cast<utf8proc_ssize_t>(text.size()), &folded,
      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
  std::string out;
  if (n >= 0) {
    out.assign(reinterpret_cast<const char*>(folded), static_cast<size_t>(n));
  } else {  // not UTF-8
    out.assign(text);
    for (char& ch : out) ch = ascii_lower(ch);
  }
  std::free(folded);
  return out;
}

bool same_but_for_case_and_blanks(std::string_view a, std::string_view b) {
  // ASCII first, byte by byte; text beyond it through Unicode's folding.
  size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && is_blank(a[i])) ++i;
    while (j < b.size() && is_blank(b[j])) ++j;
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    if ((a[i] | b[j]) & 0x80) break;
    if (ascii_lower(a[i]) != ascii_lower(b[j])) return false;
    ++i;
    ++j;
  }
  return case_folded(without_blanks(a)) == case_folded(without_blanks(b));
}

}  // namespace zelk
