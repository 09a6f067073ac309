// Wiktionary extracts: JSON lines, one object a word and part of speech
// (wiktextract's format), read in blocks and parsed with simdjson. The
// definition is the part of speech, the pronunciation (--pronunciation),
// then each sense's glosses (numbered when there are several) with its tags
// as labels and its examples (--examples). A sense that says the word is a
// form of another ("form_of", "alt_of") points at it too; so does each entry
// of "forms" that is a word.
#include <simdjson.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstring>

#include "sources/formats.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

constexpr size_t kBlock = 4 << 20;  // bytes of lines parsed at a time

// Forms tagged with one of these are the inflection table's furniture.
constexpr std::string_view kNotForms[] = {"table-tags", "inflection-template", "class",
                                          "romanization", "auxiliary"};

std::string_view text_of(element e) {
  std::string_view s;
  return e.get_string().get(s) == simdjson::SUCCESS ? s : std::string_view();
}

std::string_view field(object o, const char* name) {
  element e;
  return o[name].get(e) == simdjson::SUCCESS ? text_of(e) : std::string_view();
}

// The elements of an array field; none when it is missing or no array.
std::vector<element> list(object o, const char* name) {
  std::vector<element> items;
  array a;
  if (o[name].get(a) != simdjson::SUCCESS) return items;
  for (element e : a) items.push_back(e);
  return items;
}

bool has_tag(object o, std::string_view tag) {
  for (element t : list(o, "tags")) {
    if (text_of(t) == tag) return true;
  }
  return false;
}

// The words a sense's form_of or alt_of names.
std::vector<std::string_view> pointed_at(object sense) {
  std::vector<std::string_view> words;
  for (const char* name : {"form_of", "alt_of"}) {
    for (element target : list(sense, name)) {
      object t;
      if (target.get(t) != simdjson::SUCCESS) continue;
      std::string_view w = field(t, "word");
      if (!w.empty()) words.push_back(w);
    }
  }
  return words;
}

// One sense as text: "(tag, tag) gloss: subgloss", then its examples; empty
// when it has no gloss (or says so).
std::string sense_text(object sense, bool examples) {
  if (has_tag(sense, "no-gloss")) return "";
  std::string glosses;
  for (const char* name : {"glosses", "raw_glosses"}) {
    for (element gloss : list(sense, name)) {
      std::string_view g = text_of(gloss);
      if (g.empty()) continue;
      // A parent gloss, then the sub-gloss: "inflection of x: first-person".
      if (!glosses.empty()) glosses += glosses.back() == ':' ? " " : ": ";
      glosses += g;
    }
    if (!glosses.empty()) break;
  }
  if (glosses.empty()) return "";
  std::string labels;
  for (element tag : list(sense, "tags")) {
    std::string_view t = text_of(tag);
    if (!t.empty()) labels += (labels.empty() ? "" : ", ") + std::string(t);
  }
  std::string text = labels.empty() ? glosses : "(" + labels + ") " + glosses;
  if (!examples) return text;
  for (element example : list(sense, "examples")) {
    object ex;
    if (example.get(ex) != simdjson::SUCCESS) continue;
    std::string_view e = field(ex, "text");
    if (!e.empty()) text += " \xE2\x80\x94 " + std::string(e);  // an em dash before each
  }
  return text;
}

bool has_letter(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    utf8proc_int32_t c;
    auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                              static_cast<utf8proc_ssize_t>(text.size() - at), &c);
    if (n <= 0) return false;
    utf8proc_category_t cat = utf8proc_category(c);
    if (cat >= UTF8PROC_CATEGORY_LU && cat <= UTF8PROC_CATEGORY_LO) return true;
    at += static_cast<size_t>(n);
  }
  return false;
}

// Whether a "forms" entry is a word: not the table's furniture, not "-".
bool is_form(object form, std::string_view f) {
  for (std::string_view tag : kNotForms) {
    if (has_tag(form, tag)) return false;
  }
  return f != "-" && has_letter(f);
}

struct Settings {
  std::string lang_code;
  bool examples, pronunciation, skip_bad_lines;
};

std::string first_ipa(object word) {
  for (element sound : list(word, "sounds")) {
    object s;
    if (sound.get(s) != simdjson::SUCCESS) continue;
    std::string_view ipa = field(s, "ipa");
    if (!ipa.empty()) return std::string(ipa);
  }
  return "";
}

// One word's object: its entry, its pointers, its forms.
void add_word(Emit& emit, object word, const Where& where, const Settings& s) {
  std::string_view key = field(word, "word");
  if (key.empty()) return skip(emit, where, "", "no word");
  std::string_view code = field(word, "lang_code");  // a word without one is kept
  if (!s.lang_code.empty() && !code.empty() && code != s.lang_code) {
    return skip(emit, where, key, "another language (--lang-code)", "", true);
  }
  std::vector<std::string> senses;
  bool pointers = false;
  for (element e : list(word, "senses")) {
    object sense;
    if (e.get(sense) != simdjson::SUCCESS) continue;
    for (std::string_view target : pointed_at(sense)) {
      add_form(emit, key, target, where);
      pointers = true;
    }
    std::string text = sense_text(sense, s.examples);
    if (!text.empty()) senses.push_back(std::move(text));
  }
  if (!senses.empty()) {
    std::string definition(field(word, "pos"));
    if (s.pronunciation) {
      std::string ipa = first_ipa(word);
      if (!ipa.empty()) definition += (definition.empty() ? "" : " ") + ipa;
    }
    for (size_t i = 0; i < senses.size(); ++i) {
      std::string number = senses.size() > 1 ? std::to_string(i + 1) + ". " : "";
      definition += (definition.empty() ? "" : " ") + number + senses[i];
    }
    add_entry(emit, key, definition, where);
  } else if (!pointers) {
    skip(emit, where, key, "no gloss in any sense");
  }
  long not_words = 0;
  for (element e : list(word, "forms")) {
    object form;
    if (e.get(form) != simdjson::SUCCESS) continue;
    std::string_view f = field(form, "form");
    if (is_form(form, f)) {
      add_form(emit, f, key, where);
    } else {
      ++not_words;
    }
  }
  if (not_words) emit.counted["forms that are no words, left out (table tags, '-')"] += not_words;
}

// A line that is no JSON object: the end of the import, or with
// --bad-lines skip one line skipped.
void bad_line(Emit& emit, const Where& where, const char* error, const Settings& s) {
  if (!s.skip_bad_lines) {
    die("%s: not a JSON object: %s (--bad-lines skip leaves such lines out)",
        describe(where).c_str(), error);
  }
  skip(emit, where, "", "not a JSON object", std::string(" (") + error + ")");
}

// The lines of text one by one, from line first (1-based): the way to find
// which line is broken.
void read_one_by_one(std::string_view text, long first, const std::string& name, Emit& emit,
                     simdjson::dom::parser& parser, const Settings& s) {
  long line = first;
  for (size_t at = 0; at < text.size(); ++line) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view one = text.substr(at, end - at);
    at = end + 1;
    if (one.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    Where where{&name, line, true};
    object word;
    auto error = parser.parse(one.data(), one.size()).get(word);
    if (error) {
      bad_line(emit, where, simdjson::error_message(error), s);
    } else {
      add_word(emit, word, where, s);
    }
  }
}

// The lines of block, whole lines, the first being line first.
void read_lines(std::string& block, long first, const std::string& name, Emit& emit,
                simdjson::dom::parser& parser, const Settings& s) {
  const size_t size = block.size();
  block.reserve(size + simdjson::SIMDJSON_PADDING);  // simdjson reads past the end
  simdjson::dom::document_stream docs;
  // One batch for the block: a word's object may run to megabytes.
  size_t done = 0;  // bytes of the block whose words were handed on
  long line = first;
  if (!parser.parse_many(block.data(), size, std::max<size_t>(size, 1 << 20)).get(docs)) {
    for (auto it = docs.begin(); it != docs.end(); ++it) {
      size_t at = it.current_index();
      element doc;
      object word;
      if ((*it).get(doc) || doc.get(word)) break;
      line += static_cast<long>(std::count(block.begin() + static_cast<long>(done),
                                           block.begin() + static_cast<long>(at), '\n'));
      done = at;
      add_word(emit, word, Where{&name, line, true}, s);
      done = block.find('\n', at);
      done = done == std::string::npos ? size : done + 1;
      ++line;
    }
  }
  // Whatever did not parse as a stream of objects, a line at a time.
  if (done < size) {
    read_one_by_one(std::string_view(block).substr(done, size - done), line, name, emit, parser, s);
  }
}

void read_wiktionary(const Source& source, Emit& emit) {
  Settings s{option(source, "lang-code"), flag_option(source, "examples"),
             flag_option(source, "pronunciation"), option(source, "bad-lines") == "skip"};
  TextStream text;
  open_text(text, source.path, source.reading, emit);
  simdjson::dom::parser parser;
  std::string pending, block;
  long line = 1;
  for (bool more = true; more;) {
    more = read_text(text, pending, kBlock);
    size_t end = more ? pending.rfind('\n') : pending.size();
    if (end == std::string::npos) continue;  // a line longer than a block: read on
    if (more) ++end;
    block.assign(pending, 0, end);
    pending.erase(0, end);
    long lines = static_cast<long>(std::count(block.begin(), block.end(), '\n'));
    if (!block.empty() && block.back() != '\n') block += '\n';
    read_lines(block, line, source.path, emit, parser, s);
    line += lines;
  }
  flush(emit);
}

bool sniff_wiktionary(std::string_view head) {
  size_t start = head.find_first_not_of(" \t\r\n");
  return start != std::string_view::npos && head[start] == '{' &&
         head.substr(start, head.find('\n', start) - start).find("\"word\"") !=
             std::string_view::npos;
}

}  // namespace

extern const Format kWiktionary{
    "wiktionary",
    "Wiktionary extracts: JSON lines, one object a word (wiktextract's format), plain or gzip",
    {".jsonl", ".jsonl.gz", ".json.gz"},
    {},
    "",
    sniff_wiktionary,
    {{"lang-code", "CODE", "only the words of this language (its code, such as en)"},
     {"examples", nullptr, "each sense's examples too"},
     {"pronunciation", nullptr, "each word's first IPA too"},
     {"bad-lines",
      "WORD",
      "a line that is no JSON object: stop (the import ends) or skip",
      {"stop", "skip"},
      0,
      0,
      "stop"}},
    read_wiktionary};

}  // namespace zelk::sources
