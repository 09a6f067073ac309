// Forms from a Hunspell dictionary: the words its affix rules make of each
// root, kept where they inflect a headword of the source and hunspell
// takes them back.
#include <algorithm>
#include <cstring>
#include <future>
#include <hunspell/hunspell.hxx>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "text/charset.h"
#include "text/keys.h"
#include "text/lines.h"
#include "toolkit/file.h"
#include "zelkimport/affixes.h"
#include "zelkimport/form_sources.h"
#include "zelkimport/forms.h"
#include "zelkimport/inflections.h"

namespace zelk::import {

using sources::file_exists;

namespace {

constexpr const char* kHunspellFolders[] = {"/usr/share/hunspell", "/usr/share/myspell/dicts",
                                            "/usr/share/myspell"};
constexpr char kNotTaken[] = "not taken back by hunspell";

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

// The character set an affix file names with SET (ISO8859-1 without one),
// as iconv knows it.
std::string set_of(std::string_view aff) {
  std::string set = "ISO8859-1";
  for (size_t pos = 0; pos < aff.size();) {
    size_t end = std::min(aff.find('\n', pos), aff.size());
    std::string_view line = aff.substr(pos, end - pos);
    pos = end + 1;
    if (!line.starts_with("SET") || line.size() < 4 || (line[3] != ' ' && line[3] != '\t')) {
      continue;
    }
    line.remove_prefix(4);
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    line = line.substr(start);
    set = std::string(line.substr(0, line.find_first_of(" \t\r")));
    break;
  }
  if (set.starts_with("microsoft-")) set.erase(0, std::strlen("microsoft-"));  // microsoft-cp1251
  return set;
}

bool is_utf8_name(const std::string& set) { return set == "UTF-8" || set == "utf-8"; }

// A file's text in UTF-8; what is not text of its set stops the import.
std::string text_in_utf8(const std::string& path, const Bytes& bytes, const std::string& set) {
  if (is_utf8_name(set)) return std::string(view(bytes));
  Converter from;
  if (!try_open(from, set, "UTF-8")) {
    die("%s: a Hunspell dictionary in %s, a character set iconv does not know", path.c_str(),
        set.c_str());
  }
  std::string out;
  Conversion c = convert(from, view(bytes), out, nullptr);
  if (!c.ok) die("%s: byte %zu is no text of its set, %s", path.c_str(), c.at, set.c_str());
  return out;
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

// A Hunspell dictionary, read for its forms.
struct Dictionary {
  std::string aff, dic;  // the files
  std::string set;       // their character set
  AffixFile rules;       // in UTF-8
  std::vector<Root> roots;
  std::unordered_set<std::string> words;  // the roots' words
  Inflections inflections;
};

Dictionary read_dictionary(const std::string& language) {
  Dictionary d;
  d.aff = hunspell_path(language, ".aff");
  d.dic = hunspell_path(language, ".dic");
  Bytes aff = read_whole(d.aff);
  d.set = set_of(view(aff));
  d.rules = read_affixes(text_in_utf8(d.aff, aff, d.set));
  aff = Bytes();
  std::string list = text_in_utf8(d.dic, read_whole(d.dic), d.set);
  LineWalk walk{list};
  std::string_view line;
  next_line(walk, &line);  // the number of words
  Root root;
  while (next_line(walk, &line)) {
    if (read_root(d.rules, line, root)) d.roots.push_back(root);
  }
  for (const Root& r : d.roots) d.words.insert(r.word);
  d.inflections = inflections_for(language);
  if (d.inflections.language.empty()) {
    // Without a file of its language, its rules' fields alone can say.
    d.inflections.fields = std::any_of(d.rules.affixes.begin(), d.rules.affixes.end(),
                                       [](const Affix& a) { return !a.morph.empty(); });
    if (!d.inflections.fields) {
      die("hunspell:%s: which of its affix rules inflect a word is not known (zelkimport knows "
          "the dictionaries of %s; its affix file says nothing of its own); --forms FILE takes "
          "a list of forms",
          language.c_str(), known_languages().c_str());
    }
  }
  return d;
}

// Whether one of the words a single affix makes of the root is a headword:
// else no form of the root's can point at a headword.
bool derives_headword(const AffixFile& rules, const Root& root,
                      const std::function<bool(const std::string&)>& is_headword) {
  for (const std::string& flag : root.flags) {
    auto it = rules.by_flag.find(flag);
    if (it == rules.by_flag.end()) continue;
    for (size_t i : it->second) {
      std::string word = apply_affix(rules, rules.affixes[i], root.word);
      if (!word.empty() && is_headword(word)) return true;
    }
  }
  return false;
}

// What a thread found: forms, and those left out by kind.
struct Found {
  std::vector<Form> forms;
  std::map<std::string, long> left_out;
};

// The forms of roots [first, last).
Found forms_of_roots(const Dictionary& d, size_t first, size_t last, const Headwords& headwords,
                     uint8_t from) {
  auto made_speller = make_speller(d.aff, d.dic);
  Hunspell& speller = *made_speller;
  Converter to_set;  // words for hunspell, in its set
  if (!is_utf8_name(d.set)) open_converter(to_set, "UTF-8", d.set, false);
  auto in_set = [&](const std::string& word) {
    if (!is_open(to_set)) return word;
    std::string out;
    return convert(to_set, word, out, nullptr).ok ? out : std::string();
  };
  auto is_headword = [&](const std::string& w) { return headwords.find(w) != nullptr; };
  Found found;
  for (size_t i = first; i < last; ++i) {
    const Root& root = d.roots[i];
    const bool own = is_headword(root.word);
    if (!own && !derives_headword(d.rules, root, is_headword)) continue;
    for (Made& m : derived_words(d.rules, root)) {
      if (m.affixes.empty()) continue;
      Lemma lemma = lemma_of(d.inflections, d.rules, root, m, is_headword);
      if (!lemma.form) {
        if (own && *lemma.kind) ++found.left_out[lemma.kind];
        continue;
      }
      // With "roots apart", a word of the list in its own right that the
      // source has too (king, not k + -ing; news, not new + -s) is that
      // word; else it is a form as well (fr: est of être, the east too).
      if (d.inflections.roots_apart && d.words.count(m.word) && is_headword(m.word)) {
        ++found.left_out[kApart];
        continue;
      }
      // hunspell takes it for a word (that it stems back to the root is
      // what the tests check: stem costs four times what spell does).
      std::string word = in_set(m.word);
      if (word.empty() || !speller.spell(word)) {
        ++found.left_out[kNotTaken];
        continue;
      }
      const std::string* h = headwords.find(lemma.word);
      if (headwords.keys_folded) m.word = lower_case(m.word);
      found.forms.push_back({std::move(m.word), *h, from});
    }
  }
  return found;
}

// A word made of several roots is a form of each (suis: être, suivre),
// but of a root another of them extends only when none is longer: fired of
// fire, not fir.
std::vector<Form> nearest(std::vector<Form> forms) {
  std::sort(forms.begin(), forms.end(), [](const Form& a, const Form& b) {
    return std::tie(a.form, a.headword) < std::tie(b.form, b.headword);
  });
  std::vector<Form> kept;
  for (size_t i = 0; i < forms.size();) {
    size_t end = i;
    while (end < forms.size() && forms[end].form == forms[i].form) ++end;
    for (size_t j = i; j < end; ++j) {
      bool extended = false;
      for (size_t k = i; k < end && !extended; ++k) {
        extended = forms[k].headword.size() > forms[j].headword.size() &&
                   forms[k].headword.starts_with(forms[j].headword);
      }
      if (!extended) kept.push_back(std::move(forms[j]));
    }
    i = end;
  }
  return kept;
}

}  // namespace

void read_hunspell(Sink& sink, const std::string& language, const Headwords& headwords) {
  const Dictionary d = read_dictionary(language);
  const std::string name = "hunspell:" + language;
  const uint8_t from = form_source(sink, name);
  size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  std::vector<std::future<Found>> parts;
  for (size_t t = 0; t < threads; ++t) {
    size_t first = d.roots.size() * t / threads, last = d.roots.size() * (t + 1) / threads;
    parts.push_back(std::async(std::launch::async, forms_of_roots, std::cref(d), first, last,
                               std::cref(headwords), from));
  }
  std::vector<Form> forms;
  for (auto& part : parts) {
    Found found = part.get();
    forms.insert(forms.end(), std::make_move_iterator(found.forms.begin()),
                 std::make_move_iterator(found.forms.end()));
    for (const auto& [kind, count] : found.left_out) sink.forms_left_out[kind] += count;
  }
  Where where{&name, 0, false};
  for (const Form& f : nearest(std::move(forms))) add_form(sink, f.form, f.headword, where, f.from);
}

}  // namespace zelk::import
