// DSL dictionaries (ABBYY Lingvo's source files): a header of #NAME,
// #INDEX_LANGUAGE, #CONTENTS_LANGUAGE, #SOURCE_CODE_PAGE and #INCLUDE lines,
// then cards: one or more headword lines at the start of a line, then the
// card's body, its lines indented. Every headword of a card finds its
// definition (the first as the entry, the others pointing at it); a
// headword's optional parts (colo(u)r) give every combination, its unsorted
// parts ({...}) are shown but no part of the key. {{Comments}} go and close
// with their card at the latest; "@ headword" starts a subentry, an entry
// of its own. The markup of the body (dsl_markup.cc) becomes text.
// NAME_abrv.dsl beside the file lists the abbreviations its labels use:
// they become entries too.
#include "sources/dsl.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "sources/formats.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

constexpr int kMostIncludes = 8;  // files included in one another

// The 8-bit set a #SOURCE_CODE_PAGE line names, by Lingvo's names.
std::string declared_set(std::string_view head) {
  static const std::pair<const char*, const char*> kPages[] = {
      {"Latin", "CP1252"},  {"Cyrillic", "CP1251"},         {"EasternEuropean", "CP1250"},
      {"Greek", "CP1253"},  {"Turkish", "CP1254"},          {"Hebrew", "CP1255"},
      {"Arabic", "CP1256"}, {"Baltic", "CP1257"},           {"Vietnamese", "CP1258"},
      {"Thai", "CP874"},    {"Japanese", "CP932"},          {"ChineseSimplified", "CP936"},
      {"Korean", "CP949"},  {"ChineseTraditional", "CP950"}};
  size_t at = head.find("#SOURCE_CODE_PAGE");
  if (at == std::string_view::npos) return "";
  std::string_view line = head.substr(at, head.find('\n', at) - at);
  std::string value = header_value(line);
  for (const auto& [name, set] : kPages) {
    if (value == name) return set;
  }
  return "";
}

// An open {{comment}}: where it began, and whether it stands between cards
// (a line that begins with it), where it may span cards until it closes.
struct Comment {
  bool open = false;
  bool block = false;
  long line = 0;
};

// The line without its comments; comment says what stays open at its end.
std::string without_comments(std::string_view line, long number, Comment& comment) {
  std::string out;
  size_t i = 0;
  if (!comment.open && line.starts_with("{{")) comment.block = true;
  while (i < line.size()) {
    if (comment.open) {
      size_t close = line.find("}}", i);
      if (close == std::string_view::npos) return out;
      comment.open = false;
      i = close + 2;
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      out.append(line.substr(i, 2));
      i += 2;
    } else if (line.substr(i, 2) == "{{") {
      comment = Comment{true, i == 0 && comment.block, number};
      i += 2;
    } else {
      out += line[i++];
    }
  }
  if (!comment.open) comment.block = false;
  return out;
}

// A card as read: its headword lines and body lines, comments gone.
struct Card {
  long line = 0;
  std::vector<std::string> heads, body;
};

struct Reader {
  Emit& emit;
  const Source& source;
  std::deque<std::string> names = {};  // every file read, for the places named
  int depth = 0;
  long cards = 0;
};

// Writes a card (and its subentries).
void add_card(Reader& r, const Card& card, const std::string& name) {
  Where where{&name, card.line, true};
  std::vector<Headword> heads;
  for (const std::string& line : card.heads) heads.push_back(parse_headword(line));
  std::vector<Entry> entries = card_entries(heads, card.body, r.emit.counted);
  if (entries.empty()) return skip(r.emit, where, card.heads[0], "a card without a headword");
  ++r.cards;
  for (const Entry& e : entries) {
    add_entry(r.emit, e.keys[0], e.text, where);
    for (size_t i = 1; i < e.keys.size(); ++i) add_form(r.emit, e.keys[i], e.keys[0], where);
  }
}

void read_file(Reader& r, const std::string& path);

// An "#INCLUDE" line: the file's cards, here. Its path is relative to the
// folder of the file that names it, with either kind of separator.
void include(Reader& r, std::string_view line, const std::string& from, const Where& where) {
  std::string named = header_value(line);
  std::replace(named.begin(), named.end(), '\\', '/');
  size_t slash = from.rfind('/');
  std::string path = named.starts_with('/') || slash == std::string::npos
                         ? named
                         : from.substr(0, slash + 1) + named;
  if (r.depth >= kMostIncludes) {
    return skip(r.emit, where, named, "an #INCLUDE nested too deep",
                " (" + std::to_string(kMostIncludes) + " files at most)");
  }
  ++r.depth;
  read_file(r, path);
  --r.depth;
}

// The reading of one file: its header, then its cards.
struct FileState {
  const std::string& name;
  Card card = {};
  Comment comment = {};
  bool header = true;
  std::vector<std::pair<long, std::string>> in_block = {};  // the lines of an open block comment
};

void end_card(Reader& r, FileState& f) {
  if (!f.card.heads.empty()) add_card(r, f.card, f.name);
  f.card = Card{};
}

void take_line(Reader& r, FileState& f, std::string_view line, long number) {
  Where where{&f.name, number, true};
  if (f.header && line.starts_with('#')) {
    if (line.starts_with("#NAME") && r.depth == 0 && r.emit.title.empty()) {
      r.emit.title = header_value(line);
    }
    if (line.starts_with("#INCLUDE")) include(r, line, f.name, where);
    return;
  }
  if (line.starts_with("#INCLUDE")) {
    end_card(r, f);
    return include(r, line, f.name, where);
  }
  const bool indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
  const bool blank = line.find_first_not_of(" \t") == std::string_view::npos;
  if (!blank) f.header = false;
  if (f.comment.open && !f.comment.block && !indented && !blank &&
      line.find("}}") == std::string_view::npos) {
    // A line that starts a card ends the comment of the card before.
    warn(r.emit, Where{&f.name, f.comment.line, true},
         "a comment ({{) not closed at its card's end: closed there");
    f.comment.open = false;
  }
  if (f.comment.open && f.comment.block) f.in_block.emplace_back(number, line);
  bool was_block = f.comment.open && f.comment.block;
  std::string text = without_comments(line, number, f.comment);
  if (f.comment.open && f.comment.block && !was_block) f.in_block.clear();
  if (was_block && !f.comment.open) f.in_block.clear();
  if (text.find_first_not_of(" \t") == std::string::npos) return;
  if (indented) {
    if (f.card.heads.empty()) {
      return skip(r.emit, where, "", "a card's text before its headword");
    }
    f.card.body.push_back(text.substr(text.find_first_not_of(" \t")));
    return;
  }
  if (!f.card.body.empty()) end_card(r, f);
  if (f.card.heads.empty()) f.card.line = number;
  f.card.heads.push_back(std::move(text));
}

void read_file(Reader& r, const std::string& path) {
  const std::string& name = r.names.emplace_back(path);
  Lines lines;
  open_text(lines.text, name, r.source.reading, r.emit, declared_set);
  FileState f{name};
  std::string_view line;
  while (next_line(lines, &line)) take_line(r, f, line, lines.number);
  if (f.comment.open && f.comment.block) {
    // Never closed: the comment was its first line alone; the rest is read.
    warn(r.emit, Where{&name, f.comment.line, true},
         "a comment ({{) never closed: only its own line left out");
    std::vector<std::pair<long, std::string>> rest = std::move(f.in_block);
    f.comment = Comment{};
    for (const auto& [number, text] : rest) take_line(r, f, text, number);
  }
  if (f.comment.open) {
    warn(r.emit, Where{&name, f.comment.line, true},
         "a comment ({{) not closed at its card's end: closed there");
  }
  end_card(r, f);
}

// NAME_abrv.dsl (or .dsl.dz) beside NAME.dsl, if there is one.
std::string abbreviations_beside(const std::string& path) {
  std::string base = path;
  for (const char* ending : {".dsl.dz", ".dsl"}) {
    if (base.ends_with(ending)) {
      base.resize(base.size() - std::strlen(ending));
      break;
    }
  }
  if (base.ends_with("_abrv")) return "";
  for (const char* ending : {"_abrv.dsl", "_abrv.dsl.dz"}) {
    if (file_exists(base + ending)) return base + ending;
  }
  return "";
}

void read_dsl(const Source& source, Emit& emit) {
  Reader r{emit, source};
  read_file(r, source.path);
  std::string abbreviations = abbreviations_beside(source.path);
  if (!abbreviations.empty()) {
    long before = r.cards;
    read_file(r, abbreviations);
    emit.counted["abbreviations written as entries (" +
                 abbreviations.substr(abbreviations.rfind('/') + 1) + ")"] += r.cards - before;
  }
  flush(emit);
}

bool sniff_dsl(std::string_view head) {
  std::string ascii;  // UTF-16's zero bytes and a byte order mark left out
  for (char ch : head.substr(0, 256)) {
    if (ch != '\0' && static_cast<unsigned char>(ch) < 0x80) ascii += ch;
  }
  return ascii.starts_with("#NAME") || ascii.starts_with("#INDEX_LANGUAGE") ||
         ascii.starts_with("#CONTENTS_LANGUAGE");
}

}  // namespace

extern const Format kDsl{
    "dsl",
    "DSL dictionaries (ABBYY Lingvo's source files): UTF-16, UTF-8 or an 8-bit set, plain or "
    "dictzip",
    {".dsl", ".dsl.dz"},
    {},
    "",
    sniff_dsl,
    {},
    read_dsl};

}  // namespace zelk::sources
