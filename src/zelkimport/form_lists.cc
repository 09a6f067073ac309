// Forms from lists: "form<TAB>headword" lines, UniMorph tables and
// Wiktionary extracts, each read as it comes.
#include <simdjson.h>

#include "sources/encoding.h"
#include "sources/formats.h"
#include "toolkit/file.h"
#include "zelkimport/form_sources.h"
#include "zelkimport/forms.h"

namespace zelk::import {

namespace {

enum class ListLayout { kPairs, kUniMorph, kWiktionary };

// The list's first line that says something: its first bytes read.
std::string first_line(const std::string& path) {
  sources::Input in = sources::open_input(path);
  std::string head(1 << 16, '\0');
  head.resize(sources::read_input(in, head.data(), head.size()));
  if (head.starts_with("\xEF\xBB\xBF")) head.erase(0, 3);
  for (size_t pos = 0; pos < head.size();) {
    size_t end = std::min(head.find('\n', pos), head.size());
    std::string line = head.substr(pos, end - pos);
    pos = end + 1;
    if (line.find_first_not_of(" \t\r") != std::string::npos) return line;
  }
  return "";
}

ListLayout layout_of(const std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start != std::string::npos && line[start] == '{') return ListLayout::kWiktionary;
  return std::count(line.begin(), line.end(), '\t') >= 2 ? ListLayout::kUniMorph
                                                         : ListLayout::kPairs;
}

// Records form -> headword where the headword is the source's; counts the
// others.
void take(Sink& sink, std::string_view form, std::string_view headword, const Where& where,
          const Headwords& headwords, uint8_t from) {
  const std::string* known = headwords.find(std::string(headword));
  if (!known) {
    ++sink.forms_unknown;
    return;
  }
  add_form(sink, form, *known, where, from);
}

// "form<TAB>headword" lines, or UniMorph's "lemma<TAB>form<TAB>features".
void read_lines(Sink& sink, const std::string& path, ListLayout layout, const Headwords& headwords,
                uint8_t from) {
  sources::Emit emit;
  sources::Lines lines;
  sources::open_text(lines.text, path, sources::Reading(), emit);
  std::string_view line;
  while (sources::next_line(lines, &line)) {
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    Where where{&path, lines.number, true};
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      die("%s: not a form line (%s): %s", describe(where).c_str(),
          layout == ListLayout::kPairs ? "form, a tab, its headword"
                                       : "lemma, a tab, form, a tab, features",
          quote(line).c_str());
    }
    std::string_view first = line.substr(0, tab), second = line.substr(tab + 1);
    if (layout == ListLayout::kPairs) {
      take(sink, first, second, where, headwords, from);
      continue;
    }
    second = second.substr(0, second.find('\t'));
    take(sink, second, first, where, headwords, from);
  }
}

// The language of a Wiktionary extract's first word.
std::string language_of(const std::string& line) {
  simdjson::dom::parser parser;
  simdjson::dom::object word;
  std::string_view code;
  if (parser.parse(line).get(word) || word["lang_code"].get(code)) return "";
  return std::string(code);
}

// A Wiktionary extract read by its own reader, its forms taken and the
// rest let go.
void read_wiktionary_forms(Sink& sink, const std::string& path, const std::string& head,
                           const Headwords& headwords, uint8_t from) {
  sources::Source source;
  source.path = path;
  source.format = sources::find_format("wiktionary");
  std::string language = sink.options.lang_code;
  if (language.empty()) {
    language = language_of(head);
    if (!language.empty()) {
      note(sink.messages,
           "zelkimport: %s: the forms of its words in '%s', its first word's language "
           "(--lang-code names another)\n",
           path.c_str(), language.c_str());
    }
  }
  if (!language.empty()) source.options["lang-code"] = language;
  sources::Emit emit;
  emit.take = [&](sources::Batch& batch) {
    for (const sources::Item& item : batch.items) {
      if (item.kind != sources::Kind::kForm) continue;
      take(sink, sources::text_of(batch, item, 0), sources::text_of(batch, item, 1), item.where,
           headwords, from);
    }
  };
  source.format->read(source, emit);
  sources::flush(emit);
}

}  // namespace

void read_form_list(Sink& sink, const std::string& path, const Headwords& headwords) {
  const uint8_t from = form_source(sink, path);
  std::string head = first_line(path);
  ListLayout layout = layout_of(head);
  if (layout == ListLayout::kWiktionary) {
    read_wiktionary_forms(sink, path, head, headwords, from);
  } else {
    read_lines(sink, path, layout, headwords, from);
  }
}

}  // namespace zelk::import
