#include "convert/entry.h"

#include <cstring>

namespace zelk {

size_t line_length(const char* text, size_t n) {
  size_t max = n < kMaxLineLength ? n : kMaxLineLength;
  const void* lf = std::memchr(text, '\n', max);
  return lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : max;
}

void truncate_line(char* line, const LineCap& cap) {
  long len = static_cast<long>(std::strlen(line));
  // The line feed goes in for lines of K - 7 bytes and more, not only from
  // K - 2 on: below K - 2 it lands behind the terminating NUL, where no scan
  // looks, so the text changes only as the header says.
  if (len >= cap.kept - 5) line[cap.kept] = '\n';
  line[cap.limit] = '\0';
}

int xstrncmp(const char* text, const char* pattern, size_t n) {
  for (size_t i = 0;; ++i) {
    if (i == n) return 0;
    if (text[i] == '\0') return -1;
    if (text[i] != pattern[i]) {
      return static_cast<signed char>(text[i]) - static_cast<signed char>(pattern[i]);
    }
  }
}

KeyScan scan_key(const char* line, size_t limit) {
  size_t i = 0;
  while (line[i] != '\0' && line[i] != '\t' && !at_separator(line + i)) {
    if (i == limit) return {i, true};
    ++i;
  }
  return {i, false};
}

size_t skip_separator(const char* line, size_t pos) {
  if (line[pos] == '\t') return pos + 1;
  if (at_separator(line + pos)) return pos + kSeparatorLength;
  return pos;
}

size_t scan_value(const char* text, size_t limit) {
  // The first of the three, found by memchr one after the other, each in
  // what is left before the one found before it (the NUL first: it ends
  // the line's text).
  size_t n = limit;
  for (char stop : {'\0', '\n', '\r'}) {
    if (const void* at = std::memchr(text, stop, n)) {
      n = static_cast<size_t>(static_cast<const char*>(at) - text);
    }
  }
  return n;
}

LineReader make_line_reader(std::FILE* f) {
  LineReader reader;
  reader.f = f;
  reader.buf.resize(1 << 20);
  return reader;
}

bool next_line(LineReader& r, std::string_view* line) {
  if (r.end - r.pos < kMaxLineLength && !r.eof) {
    std::memmove(r.buf.data(), r.buf.data() + r.pos, r.end - r.pos);
    r.end -= r.pos;
    r.pos = 0;
    while (r.end < r.buf.size() && !r.eof) {
      size_t n = std::fread(r.buf.data() + r.end, 1, r.buf.size() - r.end, r.f);
      r.end += n;
      if (n == 0) {
        r.eof = true;
        r.error = std::ferror(r.f) != 0;
      }
    }
  }
  if (r.pos == r.end) return false;
  size_t n = line_length(r.buf.data() + r.pos, r.end - r.pos);
  *line = std::string_view(r.buf.data() + r.pos, n);
  r.pos += n;
  return true;
}

}  // namespace zelk
