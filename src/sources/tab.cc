// Tab files written by other converters: a key (or several, go|went|gone), a
// tab, the definition, with the escapes \n, \t and two backslashes;
// definitions in HTML (as PyGlossary writes them, line breaks as <br />)
// become text; "##name<TAB>..." lines before the first entry are the file's
// information.
#include "sources/tab.h"

#include "sources/formats.h"
#include "sources/markup.h"

namespace zelk::sources {

void unescape(std::string_view in, std::string& out, bool bars) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 1 < in.size()) {
      char next = in[i + 1];
      if (next == 'n' || next == 't' || next == '\\' || (bars && next == '|')) {
        out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        ++i;
        continue;
      }
    }
    out += in[i];
  }
}

std::vector<std::string> alternates(std::string_view cell, long* empty) {
  std::vector<std::string> parts;
  long blank = 0;
  size_t begin = 0;
  std::string part;
  for (size_t i = 0; i <= cell.size(); ++i) {
    if (i < cell.size() && cell[i] == '\\') {
      ++i;
      continue;
    }
    if (i < cell.size() && cell[i] != '|') continue;
    unescape(cell.substr(begin, i - begin), part, true);
    size_t first = part.find_first_not_of(" \t"), last = part.find_last_not_of(" \t");
    if (first == std::string::npos) {
      ++blank;
    } else {
      parts.push_back(part.substr(first, last - first + 1));
    }
    begin = i + 1;
  }
  if (parts.empty() && cell.find_first_not_of(" \t") != std::string_view::npos) {
    // "|" alone: a key of its own
    unescape(cell, parts.emplace_back());
    return parts;
  }
  if (parts.empty()) return parts;
  *empty += blank;
  return parts;
}

namespace {

void read_tab(const Source& source, Emit& emit) {
  Lines lines;
  open_text(lines.text, source.path, source.reading, emit);
  std::string mode = option(source, "markup");
  if (mode.empty()) {  // HTML when the text's start holds PyGlossary's line breaks
    read_text(lines.text, lines.buf, 4 << 20);
    mode = lines.buf.find("<br />") != std::string::npos ? "html" : "none";
  }
  const bool markup = mode == "html";
  std::string value, text;
  bool leading = true;  // no entry yet: "##name<TAB>..." lines are the file's information
  long empty = 0;
  std::string_view line;
  while (next_line(lines, &line)) {
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    Where where{&source.path, lines.number, true};
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      skip(emit, where, line, "no tab between key and definition");
      continue;
    }
    std::vector<std::string> keys = alternates(line.substr(0, tab), &empty);
    if (keys.empty()) keys.emplace_back();  // no key: left out, and said so
    unescape(line.substr(tab + 1), value);
    if (leading && keys[0].starts_with("##")) {
      if (keys[0] == "##name") emit.title = value;
      skip(emit, where, keys[0], "information lines (##...)", "", true);
      continue;
    }
    leading = false;
    add_entry(emit, keys[0], markup ? markup_to_text(value) : value, where);
    for (size_t i = 1; i < keys.size(); ++i) add_form(emit, keys[i], keys[0], where);
  }
  if (empty) emit.counted["empty alternate keys left out (a||b)"] += empty;
  flush(emit);
}

}  // namespace

extern const Format kTab{
    "tab",
    "key<TAB>definition lines (\\n, \\t escaped; key|alternate|...; HTML with <br />)",
    {".txt", ".tab", ".tsv"},
    {},
    "",
    nullptr,
    {markup_option()},
    read_tab};

}  // namespace zelk::sources
