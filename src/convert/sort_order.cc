// The order of the sorted copy: one fast sort ranks the 127-byte keys; when
// keys repeat, the Shell sort's gap passes are replayed on those ranks to
// decide the order of lines with equal keys.
#include <algorithm>
#include <bit>
#include <cstring>

#include "convert/sort.h"
#include "format/byteorder.h"
#include "format/key_order.h"

namespace zelk {

namespace {

// 12 bytes a line: the table of a million lines stays small.
#pragma pack(push, 4)
struct Ranked {
  uint64_t prefix;  // first 8 key bytes, big-endian, zero-padded
  uint32_t line;
};
#pragma pack(pop)
static_assert(sizeof(Ranked) == 12);

size_t key_length(const LineTable& table, uint32_t line) {
  return table.key_lengths[line] & ~kKeyEndsInAddedLf;
}

// The first 8 bytes of a key, zero-padded, as a number that orders as they do.
uint64_t key_prefix(std::string_view key) {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, key.data(), std::min<size_t>(key.size(), 8));
  return get_quad(bytes);
}

// Keys hold no NUL byte, so equal prefixes mean both keys are shorter than
// 8 bytes and equal, or both are 8 bytes or longer and differ only from byte
// 8 on.
int compare_ranked(const char* data, const LineTable& table, const Ranked& x, const Ranked& y) {
  if (x.prefix != y.prefix) return x.prefix < y.prefix ? -1 : 1;
  if (key_length(table, x.line) < 8) return 0;
  char sx[kMaxSortKey + 1], sy[kMaxSortKey + 1];
  return compare_keys(sort_key(data, table, x.line, sx), sort_key(data, table, y.line, sy));
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
  size_t len = table.key_lengths[i] & ~kKeyEndsInAddedLf;
  const char* p = data + table.starts[i];
  if (!(table.key_lengths[i] & kKeyEndsInAddedLf)) return std::string_view(p, len);
  std::memcpy(scratch, p, len - 1);
  scratch[len - 1] = '\n';
  return std::string_view(scratch, len);
}

namespace {

// The lines in the order of their keys (line_at), where each group of equal
// keys begins, and the size of the largest group.
struct Ranking {
  UninitVector<uint32_t> line_at;
  std::vector<bool> group_begins;
  size_t largest_group = 1;
};

Ranking rank_lines(const char* data, const LineTable& table) {
  size_t n = table.key_lengths.size();
  UninitVector<Ranked> ranked;
  ranked.reserve(n);
  char scratch[kMaxSortKey + 1];
  for (size_t i = 0; i < n; ++i) {
    std::string_view key = sort_key(data, table, i, scratch);
    ranked.push_back({key_prefix(key), static_cast<uint32_t>(i)});
  }
  // Sort by the prefixes alone, then each run of equal prefixes by whole keys:
  // the keys of a run are then read close together.
  sort_by_prefix(ranked.data(), n, 56);
  Ranking r{UninitVector<uint32_t>(n), std::vector<bool>(n), 1};
  for (size_t begin = 0, end, group = 0; begin < n; begin = end) {
    end = begin + 1;
    while (end < n && ranked[end].prefix == ranked[begin].prefix) ++end;
    bool long_keys = key_length(table, ranked[begin].line) >= 8;  // else the run is one key
    if (end - begin > 1 && long_keys) {
      std::sort(
          ranked.begin() + static_cast<long>(begin), ranked.begin() + static_cast<long>(end),
          [&](const Ranked& x, const Ranked& y) { return compare_ranked(data, table, x, y) < 0; });
    }
    for (size_t i = begin; i < end; ++i) {
      r.line_at[i] = ranked[i].line;
      if (i == begin || (long_keys && compare_ranked(data, table, ranked[i - 1], ranked[i]) != 0)) {
        group = i;
        r.group_begins[i] = true;
      }
      r.largest_group = std::max(r.largest_group, i + 1 - group);
    }
  }
  return r;
}

// The Shell passes decide the order of equal keys. They are replayed on
// values whose rank is where the line's group begins in sorted order (equal
// for equal keys, growing with the key) and whose low bits are the line's
// place in its group; in 32 bits when both fit in compact_bits, else in 64
// with the line number below the rank.
SortedLines order_equal_keys(Ranking& r, unsigned compact_bits) {
  size_t n = r.line_at.size();
  unsigned place_bits = static_cast<unsigned>(std::bit_width(r.largest_group - 1));
  unsigned rank_bits = static_cast<unsigned>(std::bit_width(n - 1));
  if (rank_bits + place_bits <= compact_bits) {
    UninitVector<uint32_t> values(n);
    for (size_t i = 0, group = 0; i < n; ++i) {
      if (r.group_begins[i]) group = i;
      values[r.line_at[i]] = static_cast<uint32_t>(group << place_bits | (i - group));
    }
    shell_replay(values, place_bits);
    const uint32_t place_mask = (uint32_t{1} << place_bits) - 1;
    for (uint32_t& v : values) v = r.line_at[(v >> place_bits) + (v & place_mask)];
    return values;
  }
  UninitVector<uint64_t> values(n);
  for (size_t i = 0, group = 0; i < n; ++i) {
    if (r.group_begins[i]) group = i;
    values[r.line_at[i]] = uint64_t{group} << 32 | r.line_at[i];
  }
  shell_replay(values, 32);
  for (size_t i = 0; i < n; ++i) r.line_at[i] = static_cast<uint32_t>(values[i]);
  return std::move(r.line_at);
}

}  // namespace

SortedLines sort_lines(const char* data, const LineTable& table, unsigned compact_bits,
                       std::vector<bool>* group_begins) {
  Ranking ranking = rank_lines(data, table);
  if (group_begins) *group_begins = ranking.group_begins;
  if (ranking.largest_group == 1) return std::move(ranking.line_at);  // no equal keys
  return order_equal_keys(ranking, compact_bits);
}

}  // namespace zelk
