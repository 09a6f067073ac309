// Wiktionary extracts: JSON lines, one object a word (wiktextract's format),
// read in blocks and parsed with simdjson. The definition is the part of
// speech, the pronunciation (--pronunciation), then each sense's glosses
// (numbered when there are several) with its tags as labels and its
// examples (--examples). A sense that only says the word is a form of
// another ("form_of", "alt_of") becomes a pointer to it, as does each entry
// of "forms" but those tagged as table furniture.
#include <simdjson.h>

#include <algorithm>
#include <cstring>

#include "zelkimport/blocks.h"
#include "zelkimport/forms.h"
#include "zelkimport/import.h"

namespace zelk::import {

namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

constexpr size_t kBlock = 4 << 20;  // bytes of lines parsed at a time

// Forms tagged with one of these are not words but the inflection table's
// furniture, and are left out.
constexpr std::string_view kNotForms[] = {
    "table-tags",        "inflection-template",   "class", "romanization", "canonical", "auxiliary",
    "error-unknown-tag", "multiword-construction"};

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

// One sense as text: "(tag, tag) gloss: subgloss", then its examples.
std::string sense_text(object sense, bool examples) {
  std::string text, labels;
  for (element tag : list(sense, "tags")) {
    std::string_view t = text_of(tag);
    if (!t.empty()) labels += (labels.empty() ? "" : ", ") + std::string(t);
  }
  if (!labels.empty()) text = "(" + labels + ") ";
  std::string glosses;
  for (element gloss : list(sense, "glosses")) {
    std::string_view g = text_of(gloss);
    if (!g.empty()) glosses += (glosses.empty() ? "" : ": ") + std::string(g);
  }
  text += glosses;
  if (!examples) return text;
  for (element example : list(sense, "examples")) {
    object ex;
    if (example.get(ex) != simdjson::SUCCESS) continue;
    std::string_view e = field(ex, "text");
    if (!e.empty()) text += " \xE2\x80\x94 " + std::string(e);  // an em dash before each
  }
  return text;
}

bool is_table_furniture(object form) {
  for (element tag : list(form, "tags")) {
    std::string_view t = text_of(tag);
    if (std::find(std::begin(kNotForms), std::end(kNotForms), t) != std::end(kNotForms)) {
      return true;
    }
  }
  return false;
}

// One word's object: its entry, its pointers, its forms.
void add_word(Sink& sink, object word, const Where& where) {
  const Options& o = sink.options;
  std::string_view key = field(word, "word");
  if (key.empty()) return skip_entry(sink, where, key, "no word");
  std::string_view code = field(word, "lang_code");  // a word without one is kept
  if (!o.lang_code.empty() && !code.empty() && code != o.lang_code) return;
  std::string definition(field(word, "pos"));
  if (o.pronunciation) {
    for (element sound : list(word, "sounds")) {
      object s;
      if (sound.get(s) != simdjson::SUCCESS) continue;
      std::string_view ipa = field(s, "ipa");
      if (ipa.empty()) continue;
      definition += (definition.empty() ? "" : " ") + std::string(ipa);
      break;
    }
  }
  std::vector<std::string> senses;
  for (element e : list(word, "senses")) {
    object sense;
    if (e.get(sense) != simdjson::SUCCESS) continue;
    std::vector<std::string_view> targets = pointed_at(sense);
    for (std::string_view target : targets) add_form(sink, key, target, where);
    if (targets.empty()) {
      std::string text = sense_text(sense, o.examples);
      if (!text.empty()) senses.push_back(std::move(text));
    }
  }
  for (size_t i = 0; i < senses.size(); ++i) {
    std::string number = senses.size() > 1 ? std::to_string(i + 1) + ". " : "";
    definition += (definition.empty() ? "" : " ") + number + senses[i];
  }
  if (!senses.empty()) add_entry(sink, key, definition, where);
  for (element e : list(word, "forms")) {
    object form;
    if (e.get(form) != simdjson::SUCCESS || is_table_furniture(form)) continue;
    std::string_view f = field(form, "form");
    if (!f.empty() && f != "-") add_form(sink, f, key, where);
  }
}

// Valid UTF-8 lines: a byte that is not part of a character becomes U+FFFD
// (simdjson takes only UTF-8); each line that had one is counted and named.
void make_utf8(std::string& block, const std::string& name, long first_line, Sink& sink) {
  if (simdjson::validate_utf8(block.data(), block.size())) return;
  std::string fixed;
  fixed.reserve(block.size() + 64);
  long line = first_line;
  bool counted = false;
  for (size_t at = 0; at < block.size();) {
    size_t valid = utf8_valid_prefix(std::string_view(block).substr(at));
    std::string_view run = std::string_view(block).substr(at, valid);
    for (char ch : run) {
      if (ch == '\n') {
        ++line;
        counted = false;
      }
    }
    fixed.append(run);
    at += valid;
    if (at == block.size()) break;
    fixed += "\xEF\xBF\xBD";
    ++at;
    if (!counted) {
      counted = true;
      if (sink.invalid++ == 0) sink.first_invalid = name + ":" + std::to_string(line);
      if (sink.invalid_notes.size() < 20) {
        sink.invalid_notes.push_back(name + ":" + std::to_string(line) +
                                     ": bytes not valid UTF-8 replaced");
      }
    }
  }
  block.swap(fixed);
}

// The lines of block (whole lines, the first being line first_line + 1).
void read_lines(std::string& block, const std::string& name, long first_line, Sink& sink,
                simdjson::dom::parser& parser) {
  make_utf8(block, name, first_line + 1, sink);
  block.reserve(block.size() + simdjson::SIMDJSON_PADDING);  // simdjson reads past the end
  simdjson::dom::document_stream docs;
  // One batch for the block: a word's object may run to megabytes.
  auto error =
      parser.parse_many(block.data(), block.size(), std::max<size_t>(block.size(), 1 << 20))
          .get(docs);
  if (error) die("%s:%ld: %s", name.c_str(), first_line + 1, simdjson::error_message(error));
  size_t counted_to = 0;
  long line = first_line;
  for (auto it = docs.begin(); it != docs.end(); ++it) {
    size_t at = it.current_index();
    line += static_cast<long>(std::count(block.begin() + static_cast<long>(counted_to),
                                         block.begin() + static_cast<long>(at), '\n'));
    counted_to = at;
    element doc;
    object word;
    if ((error = (*it).get(doc)) || (error = doc.get(word))) {
      die("%s:%ld: not a JSON object: %s", name.c_str(), line + 1, simdjson::error_message(error));
    }
    add_word(sink, word, Where{&name, line + 1, true});
  }
  if (docs.truncated_bytes() > 0) {
    die("%s:%ld: a JSON object not closed", name.c_str(),
        first_line + static_cast<long>(std::count(block.begin(), block.end(), '\n')));
  }
}

}  // namespace

void read_wiktionary_text(const TextFile& file, Sink& sink) {
  std::string block(file.data);
  if (!block.empty() && block.back() != '\n') block += '\n';
  simdjson::dom::parser parser;
  read_lines(block, file.name, 0, sink, parser);
}

void import_wiktionary(const std::string& path, Sink& sink) {
  std::unique_ptr<BlockReader> reader = open_blocks(path);
  simdjson::dom::parser parser;
  std::string pending, block;
  long lines = 0;
  for (bool more = true; more;) {
    more = read_block(*reader, pending, kBlock);
    size_t end = more ? pending.rfind('\n') : pending.size();
    if (end == std::string::npos) continue;  // a line longer than a block: read on
    if (more) ++end;
    block.assign(pending, 0, end);
    pending.erase(0, end);
    if (!block.empty() && block.back() != '\n') block += '\n';
    long in_block = static_cast<long>(std::count(block.begin(), block.end(), '\n'));
    read_lines(block, path, lines, sink, parser);
    lines += in_block;
  }
}

}  // namespace zelk::import
