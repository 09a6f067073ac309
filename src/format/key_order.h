// The order of keys in a database, one comparator for the writer that sorts
// them and the reader that finds them: unsigned bytes over the first
// kMaxSortKey bytes of a key (keys that share those stand together, in an
// order of the sort's own).
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

#include "format/format.h"

namespace zelk {

inline int compare_keys(std::string_view a, std::string_view b) {
  a = a.substr(0, std::min(a.size(), kMaxSortKey));
  b = b.substr(0, std::min(b.size(), kMaxSortKey));
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace zelk
