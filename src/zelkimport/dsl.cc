// DSL dictionaries: a header of #NAME, #INDEX_LANGUAGE and #CONTENTS_LANGUAGE
// lines, then cards: one or more headword lines (the first is the headword,
// the others its forms) and the indented lines of the card's body. The text
// is UTF-16 (little or big endian, by its byte order mark) or UTF-8. Markup
// in square brackets becomes text: [m1]... start lines, [ref] and <<...>>
// references become {word}, [s] media is left out (and counted), the rest
// ([b], [i], [trn], [ex], [com], [p], [c ...], [lang ...], ...) keeps its
// text; {{comments}} go, \[ and \] are brackets, ~ is the headword.
#include <algorithm>
#include <cstring>

#include "text/charset.h"
#include "text/lines.h"
#include "zelkimport/forms.h"
#include "zelkimport/import.h"

namespace zelk::import {

namespace {

// The value of a header line: #NAME "Name" -> Name.
std::string header_value(std::string_view line) {
  size_t open = line.find('"'), close = line.rfind('"');
  if (open == std::string_view::npos || close <= open) {
    size_t blank = line.find_first_of(" \t");
    return blank == std::string_view::npos ? "" : std::string(line.substr(blank + 1));
  }
  return std::string(line.substr(open + 1, close - open - 1));
}

// Text without {{comments}} (which may span lines).
std::string without_comments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t open = text.find("{{", at);
    if (open == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, open - at));
    size_t close = text.find("}}", open + 2);
    at = close == std::string_view::npos ? text.size() : close + 2;
  }
  return out;
}

// A headword line as a key: escapes resolved, {unsorted parts} left out; full
// receives the whole headword with the braces' text kept.
std::string headword_key(std::string_view line, std::string& full) {
  std::string key;
  full.clear();
  bool unsorted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char ch = line[i];
    if (ch == '\\' && i + 1 < line.size()) {
      ch = line[++i];
    } else if (ch == '{' || ch == '}') {
      unsorted = ch == '{';
      continue;
    }
    full += ch;
    if (!unsorted) key += ch;
  }
  std::string flat;
  flatten(key, " ", flat);
  return flat;
}

// A body line's markup as text.
struct Body {
  std::string text;
  long media = 0;  // [s] files left out
};

void body_line(std::string_view line, const std::string& headword, Body& body) {
  std::string& out = body.text;
  for (size_t i = 0; i < line.size(); ++i) {
    char ch = line[i];
    if (ch == '\\' && i + 1 < line.size()) {
      out += line[++i];
    } else if (ch == '~') {
      out += headword;
    } else if (line.substr(i, 2) == "<<" || line.substr(i, 2) == ">>") {
      out += ch == '<' ? '{' : '}';
      ++i;
    } else if (ch == '[') {
      size_t close = line.find(']', i);
      if (close == std::string_view::npos) {
        out += ch;
        continue;
      }
      std::string_view tag = line.substr(i + 1, close - i - 1);
      std::string_view name = tag.substr(0, tag.find(' '));
      if (name == "s") {  // a sound or picture: its file name is left out
        size_t end = line.find("[/s]", close);
        ++body.media;
        i = end == std::string_view::npos ? line.size() : end + 3;
        continue;
      }
      if (name == "ref") out += '{';
      if (name == "/ref") out += '}';
      i = close;
    } else {
      out += ch;
    }
  }
  out += '\n';
}

// Adds the card whose headword lines and body lines are given.
void add_card(Sink& sink, const std::vector<std::string_view>& heads,
              const std::vector<std::string_view>& lines, const Where& where, long& media) {
  std::vector<std::string> keys;
  std::string first_full;
  for (std::string_view head : heads) {
    std::string full, key = headword_key(head, full);
    if (keys.empty()) first_full = full;
    if (!key.empty()) keys.push_back(key);
  }
  if (keys.empty()) return skip_entry(sink, where, "", "a card without a headword");
  Body body;
  if (first_full != keys[0]) body.text = first_full + "\n";  // the unsorted parts shown
  for (std::string_view line : lines) body_line(line, keys[0], body);
  media += body.media;
  add_entry(sink, keys[0], body.text, where);
  for (size_t i = 1; i < keys.size(); ++i) add_form(sink, keys[i], keys[0], where);
}

}  // namespace

void read_dsl_text(const TextFile& file, Sink& sink) {
  std::string text = without_comments(file.data);
  LineWalk walk{text};
  std::string_view line;
  std::vector<std::string_view> heads, body;
  long card_line = 0, media = 0;
  auto finish = [&] {
    if (!heads.empty()) add_card(sink, heads, body, Where{&file.name, card_line, true}, media);
    heads.clear();
    body.clear();
  };
  bool header = true;
  while (next_line(walk, &line)) {
    if (walk.number == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    if (header && line.starts_with("#")) {
      if (line.starts_with("#NAME")) flatten(header_value(line), " ", sink.title);
      continue;
    }
    header = false;
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (line[0] == ' ' || line[0] == '\t') {
      if (heads.empty())
        die("%s:%ld: a card's text before its headword", file.name.c_str(), walk.number);
      body.push_back(line.substr(line.find_first_not_of(" \t")));
      continue;
    }
    if (!body.empty()) finish();
    if (heads.empty()) card_line = walk.number;
    heads.push_back(line);
  }
  finish();
  sink.media += media;
}

void import_dsl(const std::string& path, Sink& sink) {
  Bytes data = read_maybe_gzip(path);
  std::string_view d = view(data);
  const char* wide = d.starts_with("\xFF\xFE")   ? "UTF-16LE"
                     : d.starts_with("\xFE\xFF") ? "UTF-16BE"
                                                 : nullptr;
  if (!wide && d.size() >= 2 && d[0] != '\0' && d[1] == '\0') wide = "UTF-16LE";  // no mark
  if (!wide && d.size() >= 2 && d[0] == '\0' && d[1] != '\0') wide = "UTF-16BE";
  if (!wide) {
    read_dsl_text(TextFile{path, d}, sink);
    return;
  }
  if (d.starts_with("\xFF\xFE") || d.starts_with("\xFE\xFF")) d.remove_prefix(2);
  Converter from;
  open_converter(from, wide, "UTF-8", false);
  std::string utf8;
  Conversion r = convert(from, d, utf8, nullptr);
  if (!r.ok) die("%s: not valid %s at byte %zu", path.c_str(), wide, r.at + 1);
  data = Bytes();
  sink.source_in_utf8 = true;
  read_dsl_text(TextFile{path, utf8}, sink);
}

}  // namespace zelk::import
