#include "zelkimport/cuts.h"

#include <utf8proc.h>

#include <algorithm>

namespace zelk::import {

Cuts find_cuts(std::string_view value) {
  Cuts c;
  const size_t last_close = value.rfind('}');
  size_t open = std::string_view::npos;  // the '{' of the reference the text is in
  utf8proc_int32_t before = -1, state = 0;
  for (size_t at = 0; at < value.size();) {
    utf8proc_int32_t ch;
    auto len = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(value.data() + at),
                                static_cast<utf8proc_ssize_t>(value.size() - at), &ch);
    if (len <= 0) {  // not UTF-8 (the readers hand on none): a character of its own
      ch = static_cast<unsigned char>(value[at]);
      len = 1;
    }
    const auto pos = static_cast<uint32_t>(at);
    bool boundary = at == 0 || utf8proc_grapheme_break_stateful(before, ch, &state);
    if (!boundary) c.glued.push_back(pos);
    if (boundary && at > 0 && ch == ' ' && open == std::string_view::npos) {
      c.blanks.push_back(pos);
      char end = value[at - 1];
      if (end == '.' || end == '!' || end == '?') c.sentences.push_back(pos);
    }
    if (ch == '{' && open == std::string_view::npos && last_close != std::string_view::npos &&
        at < last_close) {
      open = at;
    } else if (ch == '}' && open != std::string_view::npos) {
      c.references.emplace_back(static_cast<uint32_t>(open), pos);
      open = std::string_view::npos;
    }
    before = ch;
    at += static_cast<size_t>(len);
  }
  return c;
}

namespace {

// The last of places in [low, high], or 0.
size_t last_in(const std::vector<uint32_t>& places, size_t low, size_t high) {
  auto it = std::upper_bound(places.begin(), places.end(), high);
  if (it == places.begin() || *(it - 1) < low) return 0;
  return *(it - 1);
}

bool is_glued(const Cuts& c, size_t at) {
  return std::binary_search(c.glued.begin(), c.glued.end(), static_cast<uint32_t>(at));
}

// The '{' of the reference that at is inside ('}' included), or npos.
size_t reference_around(const Cuts& c, size_t at) {
  auto it = std::upper_bound(c.references.begin(), c.references.end(), at,
                             [](size_t x, const auto& r) { return x <= r.first; });
  if (it == c.references.begin()) return std::string_view::npos;
  --it;
  return at > it->first && at <= it->second ? it->first : std::string_view::npos;
}

}  // namespace

size_t cut_at(const Cuts& cuts, std::string_view value, size_t start, size_t n) {
  const size_t end = start + n, near = start + (n - n / 4), low = std::max(near, start + 1);
  if (size_t s = last_in(cuts.sentences, low, end)) return s - start;
  if (size_t b = last_in(cuts.blanks, low, end)) return b - start;
  size_t any = 0;
  for (size_t at = end; at > start; --at) {
    if ((static_cast<unsigned char>(value[at]) & 0xC0) == 0x80 || is_glued(cuts, at)) continue;
    if (any == 0) any = at - start;
    size_t open = reference_around(cuts, at);
    if (open == std::string_view::npos) return at - start;
    at = open + 1;  // on to the '{' itself
  }
  return any;
}

}  // namespace zelk::import
