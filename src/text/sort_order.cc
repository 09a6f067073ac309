// The order of the sorted copy: one fast sort ranks the 127-byte keys; when
// keys repeat, the Shell sort's gap passes are replayed on those ranks to
// decide the order of lines with equal keys.
#include <algorithm>
#include <bit>
#include <cstring>

#include "text/sort.h"

namespace zelk {

namespace {

struct Ranked {
  uint64_t prefix;  // first 8 key bytes, big-endian, zero-padded
  uint32_t line;
  uint32_t length;  // key length
};

uint64_t key_prefix(std::string_view key) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) {
    v = (v << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return v;
}

// Keys hold no NUL byte, so equal prefixes mean both keys are shorter than
// 8 bytes and equal, or both are 8 bytes or longer and differ only from byte
// 8 on.
int compare_ranked(const char* data, const LineTable& table, const Ranked& x, const Ranked& y) {
  if (x.prefix != y.prefix) return x.prefix < y.prefix ? -1 : 1;
  if (x.length < 8) return 0;
  char sx[kMaxSortKey + 1], sy[kMaxSortKey + 1];
  std::string_view a = sort_key(data, table, x.line, sx), b = sort_key(data, table, y.line, sy);
  size_t n = std::min(a.size(), b.size());
  int c = std::memcmp(a.data() + 8, b.data() + 8, n - 8);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool prefix_less(const Ranked& x, const Ranked& y) { return x.prefix < y.prefix; }

// Sorts by prefix, one byte at a time from the top, each bucket permuted in
// place (the American flag sort); buckets of a few thousand go to std::sort,
// which they fit in cache for.
void sort_by_prefix(Ranked* a, size_t n, int shift) {
  if (n <= 2048 || shift < 0) {
    std::sort(a, a + n, prefix_less);
    return;
  }
  auto digit = [shift](const Ranked& r) { return static_cast<size_t>(r.prefix >> shift) & 0xFF; };
  size_t count[256] = {}, next[256], end[256];
  for (size_t i = 0; i < n; ++i) ++count[digit(a[i])];
  for (size_t b = 0, sum = 0; b < 256; ++b) {
    next[b] = sum;
    sum += count[b];
    end[b] = sum;
  }
  for (size_t b = 0; b < 256; ++b) {
    while (next[b] < end[b]) {
      Ranked v = a[next[b]];
      for (size_t d = digit(v); d != b; d = digit(v)) std::swap(v, a[next[d]++]);
      a[next[b]++] = v;
    }
  }
  for (size_t b = 0, begin = 0; b < 256; begin += count[b], ++b) {
    if (count[b] > 1) sort_by_prefix(a + begin, count[b], shift - 8);
  }
}

}  // namespace

std::string_view sort_key(const char* data, const LineTable& table, size_t i, char* scratch) {
  size_t len = table.keys[i] & ~kKeyEndsInAddedLf;
  const char* p = data + table.starts[i];
  if (!(table.keys[i] & kKeyEndsInAddedLf)) return std::string_view(p, len);
  std::memcpy(scratch, p, len - 1);
  scratch[len - 1] = '\n';
  return std::string_view(scratch, len);
}

SortedLines sort_lines(const char* data, const LineTable& table, unsigned compact_bits) {
  size_t n = table.keys.size();
  BigVector<Ranked> ranked;
  ranked.reserve(n);
  char scratch[kMaxSortKey + 1];
  for (size_t i = 0; i < n; ++i) {
    std::string_view key = sort_key(data, table, i, scratch);
    ranked.push_back({key_prefix(key), static_cast<uint32_t>(i), static_cast<uint32_t>(key.size())});
  }
  // Sort by the prefixes alone, then each run of equal prefixes by whole keys:
  // the keys of a run are then read close together.
  sort_by_prefix(ranked.data(), n, 56);
  // Rank the keys; equal keys share a rank. line_at lists the lines in that
  // order, group_start where each rank's lines begin in it.
  BigVector<uint32_t> line_at(n), group_start;
  group_start.reserve(n);  // pages are taken only as groups are found
  size_t largest_group = 1;
  for (size_t begin = 0, end; begin < n; begin = end) {
    end = begin + 1;
    while (end < n && ranked[end].prefix == ranked[begin].prefix) ++end;
    bool long_keys = ranked[begin].length >= 8;  // else the whole run holds one key
    if (end - begin > 1 && long_keys) {
      std::sort(ranked.begin() + static_cast<long>(begin), ranked.begin() + static_cast<long>(end),
                [&](const Ranked& x, const Ranked& y) {
                  return compare_ranked(data, table, x, y) < 0;
                });
    }
    for (size_t i = begin; i < end; ++i) {
      line_at[i] = ranked[i].line;
      if (i == begin || (long_keys && compare_ranked(data, table, ranked[i - 1], ranked[i]) != 0)) {
        if (!group_start.empty()) {
          largest_group = std::max<size_t>(largest_group, i - group_start.back());
        }
        group_start.push_back(static_cast<uint32_t>(i));
      }
    }
  }
  if (!group_start.empty()) largest_group = std::max<size_t>(largest_group, n - group_start.back());
  BigVector<Ranked>().swap(ranked);
  if (largest_group == 1) return line_at;  // no equal keys: the sorted order is the answer

  // With equal keys the Shell passes decide their order: replay them on
  // values holding a rank and the line's place among its equals, in 32 bits
  // when both fit, else on ranks beside line numbers in 64.
  size_t groups = group_start.size();
  unsigned place_bits = static_cast<unsigned>(std::bit_width(largest_group - 1));
  unsigned rank_bits = static_cast<unsigned>(std::bit_width(groups - 1));
  if (rank_bits + place_bits <= compact_bits) {
    BigVector<uint32_t> values(n);
    for (size_t g = 0; g < groups; ++g) {
      size_t end = g + 1 < groups ? group_start[g + 1] : n;
      for (size_t i = group_start[g]; i < end; ++i) {
        values[line_at[i]] = static_cast<uint32_t>(g << place_bits | (i - group_start[g]));
      }
    }
    shell_replay(values, place_bits);
    const uint32_t place_mask = (uint32_t{1} << place_bits) - 1;
    for (size_t i = 0; i < n; ++i) values[i] = line_at[group_start[values[i] >> place_bits] + (values[i] & place_mask)];
    return values;
  }
  BigVector<uint64_t> values(n);
  for (size_t g = 0; g < groups; ++g) {
    size_t end = g + 1 < groups ? group_start[g + 1] : n;
    for (size_t i = group_start[g]; i < end; ++i) values[line_at[i]] = uint64_t{g} << 32 | line_at[i];
  }
  shell_replay(values, 32);
  for (size_t i = 0; i < n; ++i) line_at[i] = static_cast<uint32_t>(values[i]);
  return line_at;
}

}  // namespace zelk
