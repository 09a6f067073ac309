// Tab files written by other converters (key, tab, value, with the escapes
// backslash-n, backslash-t and two backslashes) and spreadsheets saved as CSV (RFC 4180).
#include <algorithm>

#include "toolkit/file.h"
#include "zelkimport/forms.h"
#include "zelkimport/import.h"

namespace zelk::import {

namespace {

std::string_view drop_bom(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

// \n and \t become a line feed and a tab, \\ a backslash; with bars, \|
// a bar; any other backslash stays as it is.
void unescape(std::string_view in, std::string& out, bool bars = false) {
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

// A key's alternates: "go|went|gone" is go, went and gone (PyGlossary's
// convention), "\|" a bar; each unescaped.
std::vector<std::string> alternates(std::string_view key) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t i = 0; i <= key.size(); ++i) {
    if (i < key.size() && key[i] == '\\') {
      ++i;
      continue;
    }
    if (i == key.size() || key[i] == '|') {
      unescape(key.substr(begin, i - begin), parts.emplace_back(), true);
      begin = i + 1;
    }
  }
  return parts;
}

}  // namespace

void read_tab_text(const TextFile& file, Sink& sink) {
  std::string_view text = drop_bom(file.data);
  // Definitions in HTML, as PyGlossary writes them: line breaks as <br />.
  bool markup = sink.options.markup_given ? sink.options.markup
                                          : text.find("<br />") != std::string_view::npos;
  std::string value;
  bool leading = true;  // no entry yet: "##name<TAB>..." lines are the file's info
  LineWalk walk{text};
  std::string_view line;
  while (next_line(walk, &line)) {
    long line_no = walk.number;
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    Where where{&file.name, line_no, true};
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      skip_entry(sink, where, line, "no tab between key and definition");
      continue;
    }
    std::vector<std::string> keys = alternates(line.substr(0, tab));
    unescape(line.substr(tab + 1), value);
    if (leading && keys[0].starts_with("##")) {
      if (keys[0] == "##name") flatten(value, " ", sink.title);
      ++sink.skipped["info lines (##...)"];
      continue;
    }
    leading = false;
    add_entry(sink, keys[0], value, where, markup);
    for (size_t i = 1; i < keys.size(); ++i) add_form(sink, keys[i], keys[0], where);
  }
}

namespace {

// Where a CSV reader is in its text.
struct CsvCursor {
  std::string_view text;
  char delimiter;
  size_t pos = 0;
  long line_no = 1;
};

// Appends the bytes up to the next delimiter or line break to field.
void take_unquoted(CsvCursor& c, std::string& field) {
  while (c.pos < c.text.size() && c.text[c.pos] != c.delimiter && c.text[c.pos] != '\n' &&
         c.text[c.pos] != '\r') {
    field += c.text[c.pos++];
  }
}

// A quoted field from its opening quote on ("" is a quote); what stands
// between the closing quote and the delimiter is kept.
void take_quoted(CsvCursor& c, std::string& field, const std::string& name, long first_line) {
  ++c.pos;
  for (;;) {
    if (c.pos >= c.text.size()) die("%s:%ld: quoted field never closed", name.c_str(), first_line);
    char ch = c.text[c.pos++];
    if (ch == '"') {
      if (c.pos < c.text.size() && c.text[c.pos] == '"') {
        field += '"';
        ++c.pos;
        continue;
      }
      break;
    }
    if (ch == '\n') ++c.line_no;
    field += ch;
  }
  take_unquoted(c, field);
}

// One record: fields up to an unquoted line break.
void take_record(CsvCursor& c, std::vector<std::string>& fields, const std::string& name) {
  long first_line = c.line_no;
  fields.clear();
  for (;;) {
    std::string& field = fields.emplace_back();
    if (c.pos < c.text.size() && c.text[c.pos] == '"') {
      take_quoted(c, field, name, first_line);
    } else {
      take_unquoted(c, field);
    }
    if (c.pos < c.text.size() && c.text[c.pos] == c.delimiter) {
      ++c.pos;
      continue;
    }
    if (c.pos < c.text.size() && c.text[c.pos] == '\r') ++c.pos;
    if (c.pos < c.text.size() && c.text[c.pos] == '\n') ++c.pos;
    ++c.line_no;
    return;
  }
}

}  // namespace

void read_csv_text(const TextFile& file, Sink& sink) {
  const Options& o = sink.options;
  CsvCursor c{drop_bom(file.data), o.delimiter};
  std::vector<std::string> fields;
  long record = 0;
  const size_t needed = static_cast<size_t>(std::max(o.key_column, o.value_column));
  while (c.pos < c.text.size()) {
    long first_line = c.line_no;
    take_record(c, fields, file.name);
    ++record;
    if (record == 1 && o.header) continue;
    Where where{&file.name, first_line, true};
    if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
    if (fields.size() < needed) {
      size_t key = static_cast<size_t>(o.key_column) - 1;
      skip_entry(sink, where, key < fields.size() ? fields[key] : fields[0], "too few columns",
                 " (" + std::to_string(fields.size()) + " of " + std::to_string(needed) + ")");
      continue;
    }
    const std::string& key = fields[static_cast<size_t>(o.key_column) - 1];
    add_entry(sink, key, fields[static_cast<size_t>(o.value_column) - 1], where);
    size_t forms = static_cast<size_t>(o.forms_column);
    if (forms == 0 || forms > fields.size()) continue;
    for (const std::string& form : alternates(fields[forms - 1])) {
      if (!form.empty()) add_form(sink, form, key, where);
    }
  }
}

namespace {

// A whole text file, in UTF-8: escapes and quotes are found only after
// conversion, since a byte such as '\\' can be half of a character elsewhere.
// The set a byte order mark names: UTF-16 or UTF-32 in either order, or null.
const char* wide_charset(std::string_view data) {
  if (data.starts_with(std::string_view("\xFF\xFE\0\0", 4))) return "UTF-32LE";
  if (data.starts_with(std::string_view("\0\0\xFE\xFF", 4))) return "UTF-32BE";
  if (data.starts_with("\xFF\xFE")) return "UTF-16LE";
  if (data.starts_with("\xFE\xFF")) return "UTF-16BE";
  return nullptr;
}

Bytes read_as_utf8(const std::string& path, Sink& sink) {
  Bytes data = read_whole(path);
  std::string_view text = view(data);
  const char* wide = sink.options.from.empty() ? wide_charset(text) : nullptr;
  if (!wide && !is_open(sink.from_source)) {
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
      long line = 1 + static_cast<long>(
                          std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n'));
      const char* guess = nul % 2 ? "UTF-16LE" : "UTF-16BE";
      die("%s:%ld: a NUL byte: the file is not UTF-8 text; if it is UTF-16 without a byte order "
          "mark, give --from %s",
          path.c_str(), line, guess);
    }
    return data;
  }
  std::string utf8;
  Converter wide_source;
  Converter* from = &sink.from_source;
  if (wide) {
    open_converter(wide_source, wide, "UTF-8", false);
    from = &wide_source;
    text.remove_prefix(std::string_view(wide).find("32") != std::string_view::npos ? 4 : 2);
  }
  Conversion r = convert(*from, text, utf8, nullptr);
  if (!r.ok && wide)
    die("%s: not valid %s at byte %zu", path.c_str(), wide, r.at + 1 + (data.size() - text.size()));
  if (!r.ok) {
    long line = 1;
    for (size_t i = 0; i < r.at; ++i) line += data[i] == '\n';
    die("%s:%ld: not valid %s", path.c_str(), line, sink.options.from.c_str());
  }
  if (wide)
    note(sink.messages, "zelkimport: %s: read as %s (its byte order mark)\n", path.c_str(), wide);
  sink.source_in_utf8 = true;
  return Bytes(utf8.begin(), utf8.end());
}

}  // namespace

void import_tab(const std::string& path, Sink& sink) {
  Bytes data = read_as_utf8(path, sink);
  sink.out.reserve(sink.out.size() + data.size());
  read_tab_text(TextFile{path, view(data)}, sink);
}

void import_csv(const std::string& path, Sink& sink) {
  Bytes data = read_as_utf8(path, sink);
  sink.out.reserve(sink.out.size() + data.size());
  read_csv_text(TextFile{path, view(data)}, sink);
}

}  // namespace zelk::import
