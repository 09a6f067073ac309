#include "text/keys.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "text/case_folding.h"
#include "text/utf8.h"

namespace zelk {

namespace {

char32_t fold(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
  const CaseFolding* end = std::end(kCaseFoldings);
  const CaseFolding* it =
      std::lower_bound(std::begin(kCaseFoldings), end, c,
                       [](const CaseFolding& f, char32_t x) { return f.from < x; });
  return it != end && it->from == c ? it->to : c;
}

// Levenshtein distance over two sequences, row by row; limit + 1 as soon as
// a whole row exceeds limit (no path through it can come back below).
template <class T>
size_t distance(const T* a, size_t n, const T* b, size_t m, size_t limit) {
  if ((n > m ? n - m : m - n) > limit) return limit + 1;
  static thread_local std::vector<size_t> row;
  row.resize(m + 1);
  for (size_t j = 0; j <= m; ++j) row[j] = j;
  for (size_t i = 1; i <= n; ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    size_t best = i;
    for (size_t j = 1; j <= m; ++j) {
      size_t up = row[j];
      row[j] = std::min({up + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = up;
      best = std::min(best, row[j]);
    }
    if (best > limit) return limit + 1;
  }
  return std::min(row[m], limit + 1);
}

}  // namespace

std::string fold_case(std::string_view key) {
  static thread_local std::u32string chars;
  std::string out;
  out.reserve(key.size());
  if (!decode_utf8(key, chars)) {
    for (char c : key) out += c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    return out;
  }
  for (char32_t c : chars) append_utf8(fold(c), out);
  return out;
}

std::vector<std::string> case_variants(char32_t c) {
  char32_t folded = fold(c);
  std::vector<char32_t> chars{c};
  if (folded != c) chars.push_back(folded);
  for (const CaseFolding& f : kCaseFoldings) {
    if (f.to == folded && f.from != c) chars.push_back(f.from);
  }
  std::vector<std::string> out;
  for (char32_t x : chars) {
    out.emplace_back();
    append_utf8(x, out.back());
  }
  return out;
}

size_t edit_distance(std::string_view a, std::string_view b, size_t limit) {
  static thread_local std::u32string ca, cb;
  if (decode_utf8(a, ca) && decode_utf8(b, cb)) {
    return distance(ca.data(), ca.size(), cb.data(), cb.size(), limit);
  }
  return distance(reinterpret_cast<const unsigned char*>(a.data()), a.size(),
                  reinterpret_cast<const unsigned char*>(b.data()), b.size(), limit);
}

// Full case folding, with utf8proc.
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

std::string search_folded(std::string_view text) {
  bool ascii = true;
  for (char ch : text) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
  if (ascii) {  // the usual case, without utf8proc's allocations
    std::string out(text);
    for (char& ch : out) ch = ascii_lower(ch);
    return out;
  }
  utf8proc_uint8_t* folded = nullptr;
  utf8proc_ssize_t n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &folded,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE |
                                                  UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK));
  std::string out;
  if (n >= 0) {
    out.assign(reinterpret_cast<const char*>(folded), static_cast<size_t>(n));
  } else {
    out.assign(text);
    for (char& ch : out) ch = ascii_lower(ch);
  }
  std::free(folded);
  return out;
}

std::vector<std::string> search_variants(char32_t c) {
  static std::mutex lock;
  static std::map<char32_t, std::vector<std::string>> known;
  {
    std::lock_guard held(lock);
    auto it = known.find(c);
    if (it != known.end()) return it->second;
  }
  // The scripts with cases and accents, where a word's first letter may
  // stand in another form.
  static const std::pair<char32_t, char32_t> kRanges[] = {
      {0x41, 0x7B}, {0xC0, 0x250}, {0x370, 0x530}, {0x1E00, 0x2000}};
  std::string mine;
  append_utf8(c, mine);
  std::string first = search_folded(mine);
  size_t length = 1;
  if (!first.empty()) utf8_at(first, 0, &length);
  first.resize(std::min(length, first.size()));
  std::vector<std::string> found = case_variants(c);
  for (const auto& [from, to] : kRanges) {
    for (char32_t x = from; x < to; ++x) {
      std::string one;
      append_utf8(x, one);
      if (!first.empty() && search_folded(one).starts_with(first)) found.push_back(one);
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  std::lock_guard held(lock);
  return known.emplace(c, std::move(found)).first->second;
}

std::string lower_case(std::string_view text) {
  std::u32string chars;
  std::string out;
  bool ascii = true;
  for (char ch : text) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
  if (ascii || !decode_utf8(text, chars)) {
    out.assign(text);
    for (char& ch : out) ch = ascii_lower(ch);
    return out;
  }
  out.reserve(text.size());
  for (char32_t c : chars) {
    append_utf8(static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c))), out);
  }
  return out;
}

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
