#include "zelkimport/forms.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <hunspell/hunspell.hxx>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "text/charset.h"
#include "text/keys.h"
#include "text/lines.h"
#include "toolkit/file.h"
#include "zelkimport/affixes.h"

namespace zelk::import {

using sources::file_exists;

namespace {

constexpr char kHunspellPrefix[] = "hunspell:";
constexpr const char* kHunspellFolders[] = {"/usr/share/hunspell", "/usr/share/myspell/dicts",
                                            "/usr/share/myspell"};

// The source's headwords, to find a form's headword by: exactly, or in
// lower case, as the source has its keys when they all are (dictd's).
struct Headwords {
  const std::vector<std::string>& keys;            // sorted, each once
  std::unordered_map<std::string, size_t> folded;  // lower_case(key) -> its place in keys
  bool keys_folded = true;                         // every key is in lower case

  explicit Headwords(const std::vector<std::string>& sorted) : keys(sorted) {
    folded.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      std::string f = lower_case(keys[i]);
      keys_folded = keys_folded && f == keys[i];
      folded.emplace(std::move(f), i);
    }
  }
  // The headword word stands for, or null.
  const std::string* find(const std::string& word) const {
    auto it = std::lower_bound(keys.begin(), keys.end(), word);
    if (it != keys.end() && *it == word) return &*it;
    auto f = folded.find(lower_case(word));
    return f != folded.end() ? &keys[f->second] : nullptr;
  }
};

// Reads a list of forms: "form<TAB>headword" a line.
void read_form_file(Sink& sink, const std::string& path, const Headwords& headwords) {
  Bytes data = read_whole(path);
  LineWalk walk{view(data)};
  std::string_view line;
  while (next_line(walk, &line)) {
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    Where where{&path, walk.number, true};
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      die("%s: not a form line (form, a tab, its headword): %s", describe(where).c_str(),
          quote(line).c_str());
    }
    std::string headword(line.substr(tab + 1));
    const std::string* known = headwords.find(headword);
    if (!known) {
      ++sink.forms_unknown;
      continue;
    }
    add_form(sink, line.substr(0, tab), *known, where);
  }
}

// The .aff and .dic of a Hunspell dictionary named like de_DE, or given
// as a path without the suffix.
std::string hunspell_path(const std::string& language, const char* suffix) {
  if (language.find('/') != std::string::npos) {
    if (!file_exists(language + suffix)) die("no Hunspell file %s%s", language.c_str(), suffix);
    return language + suffix;
  }
  for (const char* folder : kHunspellFolders) {
    std::string path = std::string(folder) + "/" + language + suffix;
    if (file_exists(path)) return path;
  }
  std::string package = language;
  std::transform(package.begin(), package.end(), package.begin(), [](char ch) {
    return ch == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  });
  die("no Hunspell dictionary %s%s in /usr/share/hunspell (Debian's hunspell-%s has it)",
      language.c_str(), suffix, package.c_str());
}

// A root of the word list: its word and its flags.
struct Root {
  std::string word, flags;
};

std::vector<Root> read_roots(const std::string& dic) {
  Bytes list = read_whole(dic);
  std::vector<Root> roots;
  LineWalk walk{view(list)};
  std::string_view line;
  next_line(walk, &line);  // the number of words
  while (next_line(walk, &line)) {
    line = line.substr(0, line.find_first_of(" \t"));  // morphological fields follow
    size_t slash = line.find('/');
    while (slash != std::string_view::npos && slash > 0 && line[slash - 1] == '\\') {
      slash = line.find('/', slash + 1);  // an escaped slash is part of the word
    }
    Root r{std::string(line.substr(0, slash)), ""};
    if (slash != std::string_view::npos) r.flags = line.substr(slash + 1);
    if (!r.word.empty()) roots.push_back(std::move(r));
  }
  return roots;
}

// hunspell keeps one character table for all its spellers and counts its
// users without a lock: two spellers made or unmade at once can leak it or
// free it under a third. Each thread's speller is made and unmade in turn.
std::mutex speller_turns;

struct UnmakeSpeller {
  void operator()(Hunspell* speller) const {
    std::lock_guard<std::mutex> turn(speller_turns);
    delete speller;
  }
};

std::unique_ptr<Hunspell, UnmakeSpeller> make_speller(const std::string& aff,
                                                      const std::string& dic) {
  std::lock_guard<std::mutex> turn(speller_turns);
  return std::unique_ptr<Hunspell, UnmakeSpeller>(new Hunspell(aff.c_str(), dic.c_str()));
}

// The forms of roots [first, last): the words derived from each root whose
// stems (the root's own, as hunspell finds them) take in a headword, each
// checked with hunspell's spell.
std::vector<Form> forms_of_roots(const std::string& aff, const std::string& dic,
                                 const AffixRules& rules, const std::vector<Root>& roots,
                                 size_t first, size_t last, const Headwords& headwords) {
  auto made = make_speller(aff, dic);
  Hunspell& speller = *made;
  std::vector<Form> forms;
  for (size_t i = first; i < last; ++i) {
    const Root& r = roots[i];
    std::vector<std::string> targets;
    if (const std::string* own = headwords.find(r.word)) {
      targets.push_back(*own);
    } else {
      for (const std::string& stem : speller.stem(r.word)) {
        const std::string* h = headwords.find(stem);
        if (h && std::find(targets.begin(), targets.end(), *h) == targets.end()) {
          targets.push_back(*h);
        }
      }
    }
    if (targets.empty()) continue;
    for (std::string& word : derived_words(rules, r.word, split_flags(rules, r.flags))) {
      if (!speller.spell(word)) continue;
      if (headwords.keys_folded) word = lower_case(word);
      for (const std::string& h : targets) forms.push_back({word, h});
    }
  }
  return forms;
}

// Every word of the dictionary's word list and what its affix rules derive
// from it that hunspell takes for a word; a form of each of the root's stems
// that is a headword. The roots are shared out among threads.
void read_hunspell(Sink& sink, const std::string& language, const Headwords& headwords) {
  std::string aff = hunspell_path(language, ".aff"), dic = hunspell_path(language, ".dic");
  Bytes aff_text = read_whole(aff);
  AffixRules rules = read_affixes(std::string(view(aff_text)));
  if (rules.encoding != "UTF-8") {
    die("%s: a Hunspell dictionary in %s; zelkimport reads those in UTF-8", aff.c_str(),
        rules.encoding.empty() ? "ISO8859-1" : rules.encoding.c_str());
  }
  std::vector<Root> roots = read_roots(dic);
  size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  std::vector<std::future<std::vector<Form>>> parts;
  for (size_t t = 0; t < threads; ++t) {
    size_t first = roots.size() * t / threads, last = roots.size() * (t + 1) / threads;
    parts.push_back(std::async(std::launch::async, forms_of_roots, std::cref(aff), std::cref(dic),
                               std::cref(rules), std::cref(roots), first, last,
                               std::cref(headwords)));
  }
  const std::string where_name = kHunspellPrefix + language;
  Where where{&where_name, 0, false};
  for (auto& part : parts) {
    for (const Form& f : part.get()) add_form(sink, f.form, f.headword, where);
  }
}

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

}  // namespace

void add_form(Sink& sink, std::string_view form, std::string_view headword, const Where& where) {
  std::string f, h;
  if (!clean_key(sink, form, where, f) || !clean_key(sink, headword, where, h)) return;
  if (f == h) return;  // a form equal to its own headword says nothing
  sink.forms.push_back({std::move(f), std::move(h)});
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
        read_form_file(sink, given, headwords);
      }
    }
    sink.keys = std::vector<std::string>();
  }
  if (sink.forms.empty()) return;
  keep_forms_of_written_headwords(sink);
  if (sink.forms.empty()) return;
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
