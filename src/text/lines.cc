#include "text/lines.h"

namespace zelk {

bool next_line(LineWalk& walk, std::string_view* line, bool strip_cr) {
  if (walk.pos >= walk.text.size()) return false;
  size_t end = walk.text.find('\n', walk.pos);
  if (end == std::string_view::npos) end = walk.text.size();
  *line = walk.text.substr(walk.pos, end - walk.pos);
  walk.pos = end + 1;
  ++walk.number;
  if (strip_cr && !line->empty() && line->back() == '\r') line->remove_suffix(1);
  return true;
}

}  // namespace zelk
