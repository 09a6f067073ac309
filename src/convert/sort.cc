#include "convert/sort.h"

#include <cstring>
#include <memory>
#include <new>

#include "convert/entry.h"
#include "convert/settings.h"
#include "toolkit/error.h"

namespace zelk {

namespace {

// The length of a line's key under capping (the line's first K - 2 bytes and
// a line feed when it is K - 2 bytes or longer), with kKeyEndsInAddedLf set
// when the key ends in that added line feed. real is the number of input
// bytes in the capped text; added tells whether the line feed follows them.
// cut: the key goes on past 127 bytes.
uint8_t capped_key_length(const char* p, size_t len, const LineCap& cap, bool* cut) {
  long n = static_cast<long>(len);
  bool added = n >= cap.kept;
  size_t real = n > cap.kept ? static_cast<size_t>(cap.kept) : len;
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

}  // namespace

LineTable scan_lines(const char* data, size_t size, int chunksize, std::FILE* warnings) {
  LineTable t;
  const LineCap cap = line_cap(chunksize);
  if (const void* nul = std::memchr(data, '\0', size)) {
    size_t nul_at = static_cast<size_t>(static_cast<const char*>(nul) - data);
    for (size_t pos = 0; pos <= nul_at; pos += line_length(data + pos, size - pos)) ++t.nul_line;
    return t;
  }
  // Room for lines of 32 bytes on average; pages are taken only as lines are
  // found, and a denser input makes the tables grow.
  t.starts.reserve(size / 32 + 2);
  t.key_lengths.reserve(size / 32 + 1);
  size_t pos = 0;
  bool piece_follows = false;  // the piece before ended without a line feed (65535 bytes)
  bool counted = false;        // the physical line being read is counted already
  while (pos < size) {
    size_t len = line_length(data + pos, size - pos);
    // A piece that follows one without line feed and is more than the line
    // feed itself: the physical line has more than 65535 bytes.
    if (piece_follows && !counted && data[pos] != '\n') {
      ++t.long_lines;
      counted = true;
    }
    piece_follows = data[pos + len - 1] != '\n';
    if (!piece_follows) counted = false;
    bool cut;
    t.starts.push_back(pos);
    t.key_lengths.push_back(capped_key_length(data + pos, len, cap, &cut));
    if (cut && warnings) {
      std::fprintf(warnings, "Warning: Too long word in line %zu, Truncated\n",
                   t.key_lengths.size());
    }
    pos += len;
  }
  if (t.key_lengths.size() >= UINT32_MAX) throw std::bad_alloc();
  t.starts.push_back(pos);
  return t;
}

void write_sorted(File& copy, const char* data, const LineTable& table, const SortedLines& order) {
  std::vector<char> buf(1 << 20);
  size_t used = 0;
  const size_t ahead = 16;  // lines are read in no order: ask for them early
  for (size_t i = 0; i < order.size(); ++i) {
    if (i + ahead < order.size()) {
      __builtin_prefetch(data + table.starts[order[i + ahead]]);
    }
    uint32_t line = order[i];
    size_t begin = table.starts[line], len = table.starts[line + 1] - begin;
    if (buf.size() - used < len + 1) {
      write_bytes(copy, buf.data(), used);
      used = 0;
    }
    std::memcpy(buf.data() + used, data + begin, len);
    used += len;
    if (data[begin + len - 1] != '\n') buf[used++] = '\n';
  }
  write_bytes(copy, buf.data(), used);
}

File sort_dic(File input, int chunksize, Stats& stats) {
  std::fprintf(stderr, "Sorting...\n");
  UninitVector<char> in;
  if (!load_input(input.f, in)) die("Can not open '%s'\n", input.path.c_str());
  input = File();

  LineTable table = scan_lines(in.data(), in.size(), chunksize, stderr);
  if (table.nul_line) die("Error: NUL byte in line %ld of input file.\n", table.nul_line);
  stats.long_input_lines = table.long_lines;
  stats.byte_order_mark = in.size() >= 3 && std::memcmp(in.data(), "\xEF\xBB\xBF", 3) == 0;
  SortedLines order = sort_lines(in.data(), table);

  std::string path = sorted_copy_path();
  File copy = open_file(path, "wb");
  if (!copy.f) die("Can't open '%s' for write\n", path.c_str());
  write_sorted(copy, in.data(), table, order);
  close_file(copy);
  in = UninitVector<char>();

  File sorted = open_file(path, "rb");
  if (!sorted.f) die("Can't open '%s' for read\n", path.c_str());
  std::fprintf(stderr, "Done!\n");
  return sorted;
}

}  // namespace zelk
