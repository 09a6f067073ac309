#include "zelkimport/layout.h"

#include <algorithm>
#include <cstring>

namespace zelk::import {

namespace {

// How many of these lines (whose keys agree in their first 127 bytes) have
// a key, whole, that another of them has too, the first of each not counted.
long repeated_keys(const char* data, const LineTable& table, const uint32_t* lines, size_t n) {
  std::vector<std::string_view> keys(n);
  for (size_t i = 0; i < n; ++i) {
    std::string_view line(data + table.starts[lines[i]],
                          table.starts[lines[i] + 1] - table.starts[lines[i]]);
    keys[i] = line.substr(0, line.find('\t'));
  }
  std::sort(keys.begin(), keys.end());
  long repeated = 0;
  for (size_t i = 1; i < n; ++i) repeated += keys[i] == keys[i - 1];
  return repeated;
}

}  // namespace

Layout lay_out(std::string_view text, int chunksize) {
  Layout l;
  const char* data = text.empty() ? "" : text.data();
  l.table = scan_lines(data, text.size(), chunksize, nullptr);
  std::vector<bool> group_begins;
  l.order = sort_lines(data, l.table, 32, &group_begins);
  l.sorted = l.order;
  size_t n = l.order.size();
  for (size_t begin = 0, end; begin < n; begin = end) {
    end = begin + 1;
    while (end < n && !group_begins[end]) ++end;
    if (end - begin == 1) continue;
    std::sort(l.sorted.begin() + static_cast<long>(begin),
              l.sorted.begin() + static_cast<long>(end));
    l.repeated += repeated_keys(data, l.table, l.sorted.data() + begin, end - begin);
    for (size_t j = begin; j < end; ++j) l.moved += l.sorted[j] != l.order[j];
  }
  return l;
}

Bytes arranged_text(std::string_view text, const Layout& l, LineTable& table) {
  size_t n = l.order.size();
  UninitVector<uint32_t> source(n);  // place i gets line source[i]
  for (size_t j = 0; j < n; ++j) source[l.order[j]] = l.sorted[j];
  Bytes out(text.size());
  table = LineTable();
  table.starts.resize(n + 1);
  table.key_lengths.resize(n);
  table.long_lines = l.table.long_lines;
  size_t used = 0;
  for (size_t i = 0; i < n; ++i) {
    size_t begin = l.table.starts[source[i]], len = l.table.starts[source[i] + 1] - begin;
    std::memcpy(out.data() + used, text.data() + begin, len);
    table.starts[i] = used;
    table.key_lengths[i] = l.table.key_lengths[source[i]];
    used += len;
  }
  table.starts[n] = used;
  return out;
}

}  // namespace zelk::import
