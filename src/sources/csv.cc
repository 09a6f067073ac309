// Spreadsheets saved as CSV (RFC 4180): a record a line (LF or CRLF), or
// more where a quoted field holds line breaks; "" in a quoted field is a
// quote, and what follows its closing quote is taken as it stands. The key,
// the definition and a cell of forms (walks|walked) come from the columns
// given.
#include "sources/formats.h"
#include "sources/tab.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

constexpr size_t kBlock = 1 << 20;

// A CSV text read as it comes: records are taken from buf from pos on.
struct Csv {
  TextStream text;
  char delimiter = ',';
  std::string buf;
  size_t pos = 0;
  long line = 1;  // of pos
};

// One record from c.pos, or false when buf ends inside it and more may come
// (pos stays where the record starts). Raises for a quoted field never closed.
bool take_record(Csv& c, std::vector<std::string>& fields, const std::string& name, bool more) {
  const std::string& t = c.buf;
  size_t p = c.pos;
  long line = c.line;
  fields.clear();
  for (;;) {
    std::string& field = fields.emplace_back();
    if (p < t.size() && t[p] == '"') {
      for (++p;;) {
        if (p >= t.size()) {
          if (more) return false;
          die("%s:%ld: quoted field never closed", name.c_str(), c.line);
        }
        char ch = t[p++];
        if (ch == '"' && p < t.size() && t[p] == '"') {
          field += '"';
          ++p;
          continue;
        }
        if (ch == '"') {
          if (p == t.size() && more) return false;
          break;
        }
        line += ch == '\n';
        field += ch;
      }
    }
    // A record ends at a line feed (a carriage return before it is no text).
    auto ends = [&](size_t at) { return t[at] == '\r' && at + 1 < t.size() && t[at + 1] == '\n'; };
    while (p < t.size() && t[p] != c.delimiter && t[p] != '\n' && !ends(p)) field += t[p++];
    if (p + 1 >= t.size() && more) return false;  // a line end may be cut
    if (p < t.size() && t[p] == c.delimiter) {
      ++p;
      continue;
    }
    if (p < t.size() && t[p] == '\r') ++p;
    if (p < t.size() && t[p] == '\n') ++p;
    c.pos = p;
    c.line = line + 1;
    return true;
  }
}

const char* check_delimiter(const std::string& value) {
  bool ok = value.size() == 1 && value != "\"" && value != "\n" && value != "\r";
  return ok ? nullptr : "takes one character other than a quote or a line break";
}

void read_csv(const Source& source, Emit& emit) {
  std::string delimiter = option(source, "delimiter");
  Csv c;
  c.delimiter = delimiter[0];
  open_text(c.text, source.path, source.reading, emit);
  const size_t key = static_cast<size_t>(number_option(source, "key-column"));
  const size_t value = static_cast<size_t>(number_option(source, "value-column"));
  const size_t forms = static_cast<size_t>(number_option(source, "forms-column"));
  const bool header = flag_option(source, "header");
  std::vector<std::string> fields;
  long record = 0, empty = 0;
  bool more = read_text(c.text, c.buf, kBlock);
  while (c.pos < c.buf.size() || more) {
    long first_line = c.line;
    if (c.pos == c.buf.size() || !take_record(c, fields, source.path, more)) {
      c.buf.erase(0, c.pos);  // room for the rest of the record
      c.pos = 0;
      more = read_text(c.text, c.buf, std::max(kBlock, c.buf.size()));
      continue;
    }
    Where where{&source.path, first_line, true};
    if (++record == 1 && header) {
      skip(emit, where, fields[0], "the header row", "", true);
      continue;
    }
    if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
    if (fields.size() < std::max(key, value)) {
      skip(emit, where, key <= fields.size() ? fields[key - 1] : fields[0], "too few columns",
           " (" + std::to_string(fields.size()) + " of " + std::to_string(std::max(key, value)) +
               ")");
      continue;
    }
    add_entry(emit, fields[key - 1], fields[value - 1], where);
    if (forms == 0 || forms > fields.size()) continue;
    if (fields[forms - 1].find_first_not_of(" \t") == std::string::npos) continue;
    for (const std::string& form : alternates(fields[forms - 1], &empty)) {
      add_form(emit, form, fields[key - 1], where);
    }
  }
  if (empty) emit.counted["empty alternate keys left out (a||b)"] += empty;
  flush(emit);
}

}  // namespace

extern const Format kCsv{
    "csv",
    "CSV files of spreadsheets (RFC 4180): a key column, a definition column, a column of forms",
    {".csv", ".CSV"},
    {},
    "",
    nullptr,
    {{"key-column", "N", "the key's column, from 1", {}, 1, 1 << 20, "1"},
     {"value-column", "N", "the definition's column, from 1", {}, 1, 1 << 20, "2"},
     {"forms-column",
      "N",
      "the column of a row's forms, separated by |, from 1",
      {},
      1,
      1 << 20,
      "0"},
     {"header", nullptr, "the first row names the columns"},
     {"delimiter", "CHAR", "the field delimiter", {}, 0, 0, ",", check_delimiter}},
    read_csv};

}  // namespace zelk::sources
