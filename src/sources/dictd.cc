// dictd databases: NAME.index lists each headword with the offset and length
// of its definition in NAME.dict (or NAME.dict.dz, dictzip), as base64
// digits. Definitions usually repeat their headword on their first line:
// that line goes (--keep-headword keeps it); the 00-database-* entries are
// the database's information (--metadata keeps them).
#include "sources/formats.h"
#include "text/keys.h"
#include "text/lines.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

// dictd's base64 numbers: "A".."/" are 0..63, most significant first; false
// for an empty or invalid one.
bool decode_dictd_number(std::string_view digits, unsigned long long* value) {
  if (digits.empty() || digits.size() > 10) return false;  // 60 bits at most
  unsigned long long v = 0;
  for (char ch : digits) {
    int d;
    if (ch >= 'A' && ch <= 'Z') {
      d = ch - 'A';
    } else if (ch >= 'a' && ch <= 'z') {
      d = ch - 'a' + 26;
    } else if (ch >= '0' && ch <= '9') {
      d = ch - '0' + 52;
    } else if (ch == '+') {
      d = 62;
    } else if (ch == '/') {
      d = 63;
    } else {
      return false;
    }
    v = v * 64 + static_cast<unsigned>(d);
  }
  *value = v;
  return true;
}

bool is_metadata(std::string_view headword) {
  return headword.starts_with("00-database-") || headword.starts_with("00database");
}

// The definition without its first line when that is the headword again,
// often in another case ("AMS" for ams) or spaced otherwise.
std::string_view drop_headword_line(std::string_view definition, std::string_view headword) {
  size_t start = definition.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return definition;
  size_t end = definition.find('\n', start);
  if (end == std::string_view::npos) return definition;
  std::string_view first = definition.substr(start, end - start);
  if (first.size() > 4 * headword.size() + 16) return definition;  // not the headword alone
  if (!same_but_for_case_and_blanks(first, headword)) return definition;
  return definition.substr(end + 1);
}

// The database's short name: 00-database-short's text, without a first
// line that names the entry itself.
std::string short_name(std::string_view text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start != std::string_view::npos && text.substr(start).starts_with("00")) {
    size_t line_end = text.find('\n', start);
    text = line_end == std::string_view::npos ? std::string_view() : text.substr(line_end + 1);
  }
  std::string flat;
  flatten_blanks(text, flat);
  return flat;
}

struct Fields {
  std::string_view headword;
  unsigned long long offset, length;
};

// An index line's three fields; raises naming the line when it has not.
Fields index_fields(std::string_view line, const Where& where) {
  size_t tab1 = line.find('\t');
  size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos) {
    die("%s: not an index line (headword, offset and length separated by tabs): %s",
        describe(where).c_str(), quote(line).c_str());
  }
  size_t tab3 = line.find('\t', tab2 + 1);
  Fields f{line.substr(0, tab1), 0, 0};
  std::string_view off = line.substr(tab1 + 1, tab2 - tab1 - 1);
  std::string_view len =
      line.substr(tab2 + 1, tab3 == std::string_view::npos ? tab3 : tab3 - tab2 - 1);
  if (!decode_dictd_number(off, &f.offset)) {
    die("%s: bad offset %s (base64 digits expected)", describe(where).c_str(), quote(off).c_str());
  }
  if (!decode_dictd_number(len, &f.length)) {
    die("%s: bad length %s (base64 digits expected)", describe(where).c_str(), quote(len).c_str());
  }
  return f;
}

void read_dictd_text(const std::string& index_name, std::string_view index,
                     const std::string& data_name, std::string_view data, const Source& source,
                     Emit& emit) {
  const bool metadata = flag_option(source, "metadata");
  const bool keep_headword = flag_option(source, "keep-headword");
  Decoder decoder;
  open_decoder(decoder, source.reading.from, source.reading.stray);
  std::string key_buf, value_buf;
  LineWalk walk{index};
  std::string_view line;
  while (next_line(walk, &line)) {
    if (line.empty()) continue;
    Where where{&index_name, walk.number, true};
    Fields f = index_fields(line, where);
    if (f.offset > data.size() || f.length > data.size() - f.offset) {
      die("%s: bytes %llu to %llu are past the end of %s (%zu bytes)",
          describe(where, f.headword).c_str(), f.offset, f.offset + f.length, data_name.c_str(),
          data.size());
    }
    std::string_view definition = data.substr(f.offset, f.length);
    if (f.headword == "00-database-short" || f.headword == "00databaseshort") {
      emit.title = short_name(decode_piece(decoder, definition, value_buf, emit.damage, where));
    }
    if (!metadata && is_metadata(f.headword)) {
      skip(emit, where, f.headword, "dictd metadata (00-database-*)", "", true);
      continue;
    }
    if (!keep_headword) definition = drop_headword_line(definition, f.headword);
    std::string_view key = decode_piece(decoder, f.headword, key_buf, emit.damage, where);
    add_entry(emit, key, decode_piece(decoder, definition, value_buf, emit.damage, where), where);
  }
  flush(emit);
}

void read_dictd(const Source& source, Emit& emit) {
  std::string base = source.path;
  if (base.ends_with(".index")) base.resize(base.size() - 6);
  std::string data_name = base + ".dict.dz";
  if (!file_exists(data_name)) data_name = base + ".dict";
  if (!file_exists(data_name)) {
    die("%s: no definitions beside it (%s.dict.dz or %s.dict)", source.path.c_str(), base.c_str(),
        base.c_str());
  }
  Bytes index = read_all(source.path);
  Bytes data = read_all(data_name);
  emit.expected = index.size() + data.size();
  read_dictd_text(source.path, view(index), data_name, view(data), source, emit);
}

// An index line: a headword, then an offset and a length in base64 digits.
bool sniff_dictd(std::string_view head) {
  std::string_view line = head.substr(0, head.find('\n'));
  size_t tab1 = line.find('\t');
  size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos) return false;
  unsigned long long v;
  std::string_view len = line.substr(tab2 + 1);
  if (!len.empty() && len.back() == '\r') len.remove_suffix(1);
  return decode_dictd_number(line.substr(tab1 + 1, tab2 - tab1 - 1), &v) &&
         decode_dictd_number(len.substr(0, len.find('\t')), &v);
}

}  // namespace

extern const Format kDictd{
    "dictd",
    "dictd databases: NAME.index beside NAME.dict or NAME.dict.dz",
    {".index"},
    {".dict.dz", ".dict"},
    ".index",
    sniff_dictd,
    {{"metadata", nullptr, "keep the 00-database-* entries"},
     {"keep-headword", nullptr, "keep a definition's first line when it is the headword"}},
    read_dictd};

}  // namespace zelk::sources
