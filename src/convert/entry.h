// Entry line syntax shared by the sorting and chunking stages: how a line is
// read, capped at the chunk budget, and cut into key, separator and value.
//
// A line is at most 65535 bytes and ends after its first line feed; a longer
// physical line arrives as several lines. An entry is a key, then a tab or
// " /// " (whichever comes first), then the value; a carriage return ends the
// value.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <vector>

namespace zelk {

inline constexpr size_t kLineBufferSize = 65536;
inline constexpr size_t kMaxLineLength = kLineBufferSize - 1;
inline constexpr char kSeparator[] = " /// ";
inline constexpr size_t kSeparatorLength = 5;

// Length of the line that starts at text, given n > 0 bytes up to the end of
// the input: through the first line feed, at most 65535 bytes.
size_t line_length(const char* text, size_t n);

// What the chunk budget K allows one line of the sorted copy: a line of K - 1
// bytes or more keeps its first K - 2 and gets a line feed, a line of exactly
// K - 2 bytes gets a line feed appended, shorter lines stay; key and value
// scans stop after K - 1 bytes. Built once from K by every stage that caps
// lines, and by the warnings that say what capping cut.
struct LineCap {
  long chunksize;  // K, the most bytes of a chunk
  long kept;       // K - 2: bytes a capped line keeps before its line feed
  size_t limit;    // K - 1: where the key and value scans stop
};

inline LineCap line_cap(int chunksize) {
  return LineCap{chunksize, static_cast<long>(chunksize) - 2, static_cast<size_t>(chunksize) - 1};
}

// The least K whose lines keep a line of this many bytes (before its line
// feed) whole: the inverse of LineCap::kept.
inline long chunksize_keeping(size_t line_bytes) { return static_cast<long>(line_bytes) + 2; }

// Caps a NUL-terminated line held in a buffer of at least K bytes.
void truncate_line(char* line, const LineCap& cap);

// Bounded prefix comparison of NUL-terminated text with a pattern; 0 when the
// first n bytes match.
int xstrncmp(const char* text, const char* pattern, size_t n);

// True when " /// " begins at text (NUL-terminated).
inline bool at_separator(const char* text) {
  return xstrncmp(text, kSeparator, kSeparatorLength) == 0;
}

// Key scan over a NUL-terminated line: the number of key bytes before the
// first NUL, tab or " /// ", or limit when the key is longer; cut tells whether
// the key went on past the limit.
struct KeyScan {
  size_t length;
  bool cut;
};
KeyScan scan_key(const char* line, size_t limit);

// Separator skip at the byte where the key scan stopped: the position of the
// value.
size_t skip_separator(const char* line, size_t pos);

// Value scan: bytes before the first NUL, line feed or carriage return, at
// most limit. Reads no further than the first NUL (or limit bytes).
size_t scan_value(const char* text, size_t limit);

// Reads a stream line by line under the 65535-byte rule, through a large
// buffer.
struct LineReader {
  std::FILE* f = nullptr;
  std::vector<char> buf;
  size_t pos = 0;
  size_t end = 0;
  bool eof = false;
  bool error = false;
};
LineReader make_line_reader(std::FILE* f);
// The next line, valid until the following call; false at end of input or
// on a read error (then error is set).
bool next_line(LineReader& reader, std::string_view* line);

}  // namespace zelk
