#include "zelkimport/forms.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "text/charset.h"
#include "text/keys.h"
#include "zelkimport/form_sources.h"

namespace zelk::import {

namespace {

constexpr char kHunspellPrefix[] = "hunspell:";

// The forms of each form key, in the order first met: its headwords, each once.
struct Grouped {
  std::string form;
  std::vector<std::string> headwords;
};

std::vector<Grouped> group_forms(const std::vector<Form>& forms) {
  std::vector<Grouped> groups;
  std::unordered_map<std::string, size_t> at;
  at.reserve(forms.size());
  for (const Form& f : forms) {
    auto [it, added] = at.emplace(f.form, groups.size());
    if (added) groups.push_back({f.form, {}});
    std::vector<std::string>& h = groups[it->second].headwords;
    if (std::find(h.begin(), h.end(), f.headword) == h.end()) h.push_back(f.headword);
  }
  return groups;
}

// The pointer text: --form-text, else "→ %s" where the output's set has the
// arrow, else "-> %s".
std::string pointer_pattern(Sink& sink) {
  if (!sink.options.form_text.empty()) return sink.options.form_text;
  std::string arrow = "\xE2\x86\x92 %s", out;
  if (!is_open(sink.to_output) || convert(sink.to_output, arrow, out, nullptr).ok) return arrow;
  return "-> %s";
}

// The text in the output's character set, as an entry's key is written;
// false when the set cannot write it.
bool in_output(Sink& sink, const std::string& utf8, std::string& out) {
  if (!is_open(sink.to_output)) {
    out = utf8;
    return true;
  }
  Unmappable uncounted = sink.unmappable;
  return convert(sink.to_output, utf8, out, &uncounted).ok;
}

// Leaves out the forms whose headword is no key of an entry written: a
// pointer leads to a word the reader finds, or it is not written (and is
// counted).
void keep_forms_of_written_headwords(Sink& sink) {
  std::unordered_map<std::string, const std::string*> wanted;  // key as written -> headword
  for (const Form& f : sink.forms) {
    std::string key;
    if (in_output(sink, f.headword, key)) wanted.emplace(std::move(key), &f.headword);
  }
  std::unordered_set<std::string> written;
  std::string_view text = view(sink.out);
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    auto it = wanted.find(std::string(line.substr(0, line.find('\t'))));
    if (it != wanted.end()) written.insert(*it->second);
  }
  std::erase_if(sink.forms, [&](const Form& f) {
    bool dangling = !written.count(f.headword);
    sink.forms_unknown += dangling;
    if (dangling && sink.dropped) sink.dropped->push_back(f);
    return dangling;
  });
}

// Counts for each source the forms it gave, each form once however many
// headwords it points at.
void count_forms_by_source(Sink& sink) {
  std::vector<std::pair<uint8_t, std::string_view>> given;
  given.reserve(sink.forms.size());
  for (const Form& f : sink.forms) given.emplace_back(f.from, f.form);
  std::sort(given.begin(), given.end());
  given.erase(std::unique(given.begin(), given.end()), given.end());
  sink.forms_from.assign(sink.form_sources.size(), 0);
  for (const auto& g : given) ++sink.forms_from[g.first];
}

}  // namespace

Headwords::Headwords(const std::vector<std::string>& sorted) : keys(sorted) {
  folded.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    std::string f = lower_case(keys[i]);
    keys_folded = keys_folded && f == keys[i];
    folded.emplace(std::move(f), i);
  }
}

const std::string* Headwords::find(const std::string& word) const {
  auto it = std::lower_bound(keys.begin(), keys.end(), word);
  if (it != keys.end() && *it == word) return &*it;
  // Lower-case ASCII is its own lower case.
  bool folded_already = std::none_of(word.begin(), word.end(), [](char ch) {
    return (ch >= 'A' && ch <= 'Z') || static_cast<unsigned char>(ch) >= 0x80;
  });
  auto f = folded.find(folded_already ? word : lower_case(word));
  return f != folded.end() ? &keys[f->second] : nullptr;
}

uint8_t form_source(Sink& sink, const std::string& name) {
  auto it = std::find(sink.form_sources.begin(), sink.form_sources.end(), name);
  if (it != sink.form_sources.end()) return static_cast<uint8_t>(it - sink.form_sources.begin());
  if (sink.form_sources.size() > 255) die("more than 255 lists of forms: %s", name.c_str());
  sink.form_sources.push_back(name);
  return static_cast<uint8_t>(sink.form_sources.size() - 1);
}

void add_form(Sink& sink, std::string_view form, std::string_view headword, const Where& where,
              uint8_t from) {
  std::string f, h;
  if (!clean_key(sink, form, where, f) || !clean_key(sink, headword, where, h)) return;
  if (f == h) return;  // a form equal to its own headword says nothing
  sink.forms.push_back({std::move(f), std::move(h), from});
}

std::string pointer_text(const std::string& pattern, const std::vector<std::string>& headwords) {
  std::string joined;
  for (const std::string& h : headwords) joined += (joined.empty() ? "" : ", ") + h;
  std::string text = pattern;
  size_t at = text.find("%s");
  return at == std::string::npos ? text + " " + joined : text.replace(at, 2, joined);
}

void write_forms(Sink& sink) {
  if (!sink.options.forms.empty()) {
    std::sort(sink.keys.begin(), sink.keys.end());
    sink.keys.erase(std::unique(sink.keys.begin(), sink.keys.end()), sink.keys.end());
    Headwords headwords(sink.keys);
    for (const std::string& given : sink.options.forms) {
      if (given.starts_with(kHunspellPrefix)) {
        read_hunspell(sink, given.substr(std::strlen(kHunspellPrefix)), headwords);
      } else {
        read_form_list(sink, given, headwords);
      }
    }
    sink.keys = std::vector<std::string>();
  }
  if (sink.forms.empty()) return;
  keep_forms_of_written_headwords(sink);
  count_forms_by_source(sink);
  const std::string pattern = pointer_pattern(sink);
  const std::string where_name = "(forms)";
  std::vector<Grouped> groups = group_forms(sink.forms);
  sink.forms = std::vector<Form>();
  std::unordered_set<std::string> gained;
  size_t before = sink.out.size();
  sink.first_form_line = sink.written;
  for (size_t i = 0; i < groups.size(); ++i) {
    Where where{&where_name, static_cast<long>(i) + 1, false};
    const Grouped& g = groups[i];
    gained.insert(g.headwords.begin(), g.headwords.end());
    if (!sink.options.copy_forms) {
      write_entry(sink, g.form, pointer_text(pattern, g.headwords), where,
                  layout_budget(sink.options));
      continue;
    }
    for (const std::string& h : g.headwords) {
      for (const std::string& value : sink.definitions[h]) {
        write_entry(sink, g.form, value, where, layout_budget(sink.options));
      }
    }
  }
  sink.form_entries = static_cast<long>(groups.size());
  sink.form_headwords = static_cast<long>(gained.size());
  sink.form_bytes = sink.out.size() - before;
}

}  // namespace zelk::import
