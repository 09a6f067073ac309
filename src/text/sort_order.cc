// The order of the sorted copy: one fast sort ranks the 127-byte keys; when
// keys repeat, the Shell sort's gap passes are replayed on those ranks to
// decide the order of lines with equal keys.
#include <algorithm>
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

inline uint32_t rank_of(uint64_t v) { return static_cast<uint32_t>(v >> 32); }
inline bool rank_less(uint64_t a, uint64_t b) { return rank_of(a) < rank_of(b); }

// Stable sort of one chain by rank: insertion sort while the chain is nearly
// in order, a merge sort once that gets costly.
void sort_chain(uint64_t* a, size_t n) {
  size_t budget = 8 * n + 64;
  for (size_t i = 1; i < n; ++i) {
    uint64_t v = a[i];
    size_t j = i;
    while (j > 0 && rank_of(a[j - 1]) > rank_of(v)) {
      a[j] = a[j - 1];
      --j;
      if (--budget == 0) {
        a[j] = v;
        std::stable_sort(a, a + n, rank_less);
        return;
      }
    }
    a[j] = v;
  }
}

// A pass whose gap is half the previous one: every chain is the interleaving
// of two chains sorted by the previous pass, so a stable sort of it is their
// merge, ties going to the element that stood first in the chain. Reads a,
// writes b. Each chain is merged from both ends at once, which halves the
// chain of dependent steps; the two halves meet exactly because no two
// elements of a chain compare equal once ties go by position.
void merge_pass(const uint64_t* a, uint64_t* b, size_t n, size_t gap) {
  const size_t step = 2 * gap;
  for (size_t r = 0; r < gap; ++r) {
    size_t len = (n - r + gap - 1) / gap;
    size_t len_a = (len + 1) / 2, len_b = len / 2;
    const uint64_t* pa = a + r;        // chain positions 0, 2, 4, ...
    const uint64_t* pb = a + r + gap;  // chain positions 1, 3, 5, ...
    uint64_t* out = b + r;
    if (len_b == 0) {
      out[0] = pa[0];
      continue;
    }
    size_t fa = 0, fb = 0;                   // front: next of each half
    size_t ba = len_a - 1, bb = len_b - 1;   // back: last of each half not yet taken
    size_t front = 0, back = len - 1, half = len / 2;
    for (; front < half; ++front, --back) {
      uint64_t x = pa[fa * step], y = pb[fb * step];
      bool take_a = (rank_of(x) < rank_of(y)) | ((rank_of(x) == rank_of(y)) & (fa <= fb));
      out[front * gap] = take_a ? x : y;
      fa += take_a;
      fb += !take_a;
      uint64_t u = pa[ba * step], v = pb[bb * step];
      bool last_b = (rank_of(v) > rank_of(u)) | ((rank_of(v) == rank_of(u)) & (bb >= ba));
      out[back * gap] = last_b ? v : u;
      bb -= last_b;
      ba -= !last_b;
    }
    if (front == back) {  // odd length: the one element left in the middle
      out[front * gap] = ba == fa ? pa[fa * step] : pb[fb * step];  // ba wraps when A is used up
    }
  }
}

// Any other pass: each chain stably sorted on its own. Short chains are
// sorted as the Shell sort does it, walking the array once.
void sort_pass(uint64_t* a, size_t n, size_t gap, std::vector<uint64_t>& tmp) {
  if (n / gap <= 4) {
    for (size_t i = gap; i < n; ++i) {
      for (size_t j = i; j >= gap && rank_of(a[j - gap]) > rank_of(a[j]); j -= gap) {
        std::swap(a[j - gap], a[j]);
      }
    }
    return;
  }
  if (gap == 1) {
    sort_chain(a, n);
    return;
  }
  for (size_t r = 0; r < gap; ++r) {
    size_t len = (n - r + gap - 1) / gap;
    tmp.resize(len);
    for (size_t k = 0; k < len; ++k) tmp[k] = a[r + k * gap];
    sort_chain(tmp.data(), len);
    for (size_t k = 0; k < len; ++k) a[r + k * gap] = tmp[k];
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

SortedLines sort_lines(const char* data, const LineTable& table) {
  size_t n = table.keys.size();
  BigVector<Ranked> ranked(n);
  char scratch[kMaxSortKey + 1];
  for (size_t i = 0; i < n; ++i) {
    std::string_view key = sort_key(data, table, i, scratch);
    ranked[i] = {key_prefix(key), static_cast<uint32_t>(i), static_cast<uint32_t>(key.size())};
  }
  // Sort by the prefixes alone, then each run of equal prefixes by whole keys:
  // the keys of a run are then read close together.
  std::sort(ranked.begin(), ranked.end(),
            [](const Ranked& x, const Ranked& y) { return x.prefix < y.prefix; });
  // Rank the keys; equal keys share a rank.
  SortedLines ranks(n);
  uint64_t rank = 0;
  bool ties = false;
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
      bool same = i > begin && (!long_keys || compare_ranked(data, table, ranked[i - 1], ranked[i]) == 0);
      if (i > 0 && !same) ++rank;
      ties = ties || same;
      ranks[ranked[i].line] = (rank << 32) | ranked[i].line;
    }
  }
  if (ties) {
    // With equal keys the Shell passes decide their order.
    BigVector<Ranked>().swap(ranked);
    shell_replay(ranks);
  } else {
    for (size_t i = 0; i < n; ++i) ranks[i] = ranked[i].line;
  }
  return ranks;
}

void shell_replay(BigVector<uint64_t>& a) {
  size_t n = a.size();
  BigVector<uint64_t> other;
  std::vector<uint64_t> tmp;
  size_t previous = 0;
  for (size_t gap = n / 2; gap > 0; previous = gap, gap /= 2) {
    if (previous == 2 * gap) {
      other.resize(n);
      merge_pass(a.data(), other.data(), n, gap);
      a.swap(other);
    } else {
      sort_pass(a.data(), n, gap, tmp);
    }
  }
}

}  // namespace zelk
