#include "text/sort.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/error.h"
#include "common/settings.h"
#include "text/line.h"

namespace zelk {

namespace {

// The key of one line under capping: the line's first K - 2 bytes and a line
// feed when it is K - 2 bytes or longer. real is the number of input bytes in
// that capped text; added tells whether the line feed follows them.
uint8_t line_key(const char* p, size_t len, int chunksize, bool* cut) {
  long k = chunksize;
  long n = static_cast<long>(len);
  bool added = n >= k - 2;
  size_t real = n >= k - 1 ? static_cast<size_t>(k - 2) : len;
  *cut = false;
  size_t i = 0;
  for (; i < real; ++i) {
    if (p[i] == '\t') break;
    if (p[i] == ' ' && i + kSeparatorLength <= real &&
        std::memcmp(p + i, kSeparator, kSeparatorLength) == 0) {
      break;
    }
    if (i == kMaxSortKey) {
      *cut = true;
      return static_cast<uint8_t>(i);
    }
  }
  if (i < real || !added) return static_cast<uint8_t>(i);
  if (i == kMaxSortKey) {  // the added line feed would be the 128th byte
    *cut = true;
    return static_cast<uint8_t>(i);
  }
  return static_cast<uint8_t>((i + 1) | kKeyEndsInAddedLf);
}

uint64_t key_prefix(std::string_view key) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) {
    v = (v << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return v;
}

int compare_keys(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

struct Ranked {
  uint64_t prefix;  // first 8 key bytes, big-endian, zero-padded
  uint32_t line;
};

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
// merge, ties going to the element that stood first in the chain.
void merge_pass(std::vector<uint64_t>& a, size_t gap, std::vector<uint64_t>& tmp) {
  size_t n = a.size();
  for (size_t r = 0; r < gap; ++r) {
    size_t len = (n - r + gap - 1) / gap;
    size_t len_a = (len + 1) / 2, len_b = len / 2;
    tmp.resize(len);
    size_t ia = 0, ib = 0, out = 0;
    while (ia < len_a && ib < len_b) {
      uint64_t x = a[r + 2 * ia * gap], y = a[r + (2 * ib + 1) * gap];
      if (rank_of(x) < rank_of(y) || (rank_of(x) == rank_of(y) && ia <= ib)) {
        tmp[out++] = x;
        ++ia;
      } else {
        tmp[out++] = y;
        ++ib;
      }
    }
    for (; ia < len_a; ++ia) tmp[out++] = a[r + 2 * ia * gap];
    for (; ib < len_b; ++ib) tmp[out++] = a[r + (2 * ib + 1) * gap];
    for (size_t k = 0; k < len; ++k) a[r + k * gap] = tmp[k];
  }
}

void sort_pass(std::vector<uint64_t>& a, size_t gap, std::vector<uint64_t>& tmp) {
  if (gap == 1) {
    sort_chain(a.data(), a.size());
    return;
  }
  size_t n = a.size();
  for (size_t r = 0; r < gap; ++r) {
    size_t len = (n - r + gap - 1) / gap;
    tmp.resize(len);
    for (size_t k = 0; k < len; ++k) tmp[k] = a[r + k * gap];
    sort_chain(tmp.data(), len);
    for (size_t k = 0; k < len; ++k) a[r + k * gap] = tmp[k];
  }
}

}  // namespace

LineTable scan_lines(const char* data, size_t size, int chunksize, std::FILE* warnings) {
  LineTable t;
  const void* nul = std::memchr(data, '\0', size);
  size_t nul_at = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : size;
  size_t pos = 0;
  long line = 0;
  while (pos < size) {
    ++line;
    size_t len = line_length(data + pos, size - pos);
    if (pos + len > nul_at) {
      t.nul_line = line;
      t.starts.clear();
      return t;
    }
    pos += len;
  }
  if (static_cast<unsigned long>(line) >= UINT32_MAX) throw std::bad_alloc();
  t.starts.reserve(static_cast<size_t>(line) + 1);
  t.keys.reserve(static_cast<size_t>(line));
  pos = 0;
  for (long i = 1; i <= line; ++i) {
    size_t len = line_length(data + pos, size - pos);
    bool cut;
    t.starts.push_back(pos);
    t.keys.push_back(line_key(data + pos, len, chunksize, &cut));
    if (cut && warnings) std::fprintf(warnings, "Warning: Too long word in line %ld, Truncated\n", i);
    pos += len;
  }
  t.starts.push_back(pos);
  return t;
}

std::string_view sort_key(const char* data, const LineTable& table, size_t i, char* scratch) {
  size_t len = table.keys[i] & ~kKeyEndsInAddedLf;
  const char* p = data + table.starts[i];
  if (!(table.keys[i] & kKeyEndsInAddedLf)) return std::string_view(p, len);
  std::memcpy(scratch, p, len - 1);
  scratch[len - 1] = '\n';
  return std::string_view(scratch, len);
}

std::vector<uint32_t> sort_lines(const char* data, const LineTable& table) {
  size_t n = table.keys.size();
  std::vector<Ranked> ranked(n);
  char scratch[kMaxSortKey + 1];
  for (size_t i = 0; i < n; ++i) {
    ranked[i] = {key_prefix(sort_key(data, table, i, scratch)), static_cast<uint32_t>(i)};
  }
  std::sort(ranked.begin(), ranked.end(), [&](const Ranked& x, const Ranked& y) {
    if (x.prefix != y.prefix) return x.prefix < y.prefix;
    char sx[kMaxSortKey + 1], sy[kMaxSortKey + 1];
    return compare_keys(sort_key(data, table, x.line, sx), sort_key(data, table, y.line, sy)) < 0;
  });

  // Rank the keys; equal 127-byte keys share a rank. Without equal keys the
  // sorted order is the answer; with them the Shell passes decide.
  auto same_key = [&](size_t i) {
    char sx[kMaxSortKey + 1], sy[kMaxSortKey + 1];
    return ranked[i - 1].prefix == ranked[i].prefix &&
           compare_keys(sort_key(data, table, ranked[i - 1].line, sx),
                        sort_key(data, table, ranked[i].line, sy)) == 0;
  };
  bool ties = false;
  for (size_t i = 1; i < n && !ties; ++i) ties = same_key(i);
  std::vector<uint32_t> order;
  if (!ties) {
    order.resize(n);
    for (size_t i = 0; i < n; ++i) order[i] = ranked[i].line;
    return order;
  }
  std::vector<uint64_t> ranks(n);
  uint64_t rank = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && !same_key(i)) ++rank;
    ranks[ranked[i].line] = (rank << 32) | ranked[i].line;
  }
  std::vector<Ranked>().swap(ranked);
  shell_replay(ranks);
  order.resize(n);
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(ranks[i]);
  return order;
}

void shell_replay(std::vector<uint64_t>& a) {
  std::vector<uint64_t> tmp;
  size_t previous = 0;
  for (size_t gap = a.size() / 2; gap > 0; previous = gap, gap /= 2) {
    if (previous == 2 * gap) {
      merge_pass(a, gap, tmp);
    } else {
      sort_pass(a, gap, tmp);
    }
  }
}

File sort_dic(File input, int chunksize) {
  std::fprintf(stderr, "Sorting...\n");
  std::vector<char> data;
  if (!read_all(input.f, data)) die("Can not open '%s'\n", input.path.c_str());
  input = File();

  LineTable table = scan_lines(data.data(), data.size(), chunksize, stderr);
  if (table.nul_line) die("Error: NUL byte in line %ld of input file.\n", table.nul_line);
  std::vector<uint32_t> order = sort_lines(data.data(), table);

  std::string path = sorted_copy_path();
  File copy = open_file(path, "wb");
  if (!copy.f) die("Can't open '%s' for write\n", path.c_str());
  set_buffer(copy, 1 << 20);
  for (uint32_t line : order) {
    uint64_t begin = table.starts[line], end = table.starts[line + 1];
    write_bytes(copy, data.data() + begin, end - begin);
    if (data[end - 1] != '\n') write_bytes(copy, "\n", 1);
  }
  close_file(copy);
  std::vector<char>().swap(data);

  File sorted = open_file(path, "rb");
  if (!sorted.f) die("Can't open '%s' for read\n", path.c_str());
  std::fprintf(stderr, "Done!\n");
  return sorted;
}

}  // namespace zelk
