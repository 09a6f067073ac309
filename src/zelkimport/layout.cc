#include "zelkimport/layout.h"

#include <algorithm>
#include <cstring>

namespace zelk::import {

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
    l.repeated += static_cast<long>(end - begin - 1);
    std::sort(l.sorted.begin() + static_cast<long>(begin),
              l.sorted.begin() + static_cast<long>(end));
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
