// The lines of a text held in memory, walked one after the other and
// numbered, for readers of line-based sources and for messages.
#pragma once

#include <cstddef>
#include <string_view>

namespace zelk {

// Walks the lines of a text held in memory, numbering them from 1.
struct LineWalk {
  std::string_view text;
  size_t pos = 0;
  long number = 0;  // of the line last handed out
};

// The next line, without its line feed and, with strip_cr, without a
// carriage return before that; false past the end.
bool next_line(LineWalk& walk, std::string_view* line, bool strip_cr = true);

}  // namespace zelk
