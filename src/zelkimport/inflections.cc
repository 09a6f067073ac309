#include "zelkimport/inflections.h"

#include <algorithm>

#include "zelkimport/inflection_data.h"

namespace zelk::import {

namespace {

struct BuiltIn {
  const char* language;
  const char* text;
};

const BuiltIn kBuiltIn[] = {{"de", kInflectionsDe},
                            {"en", kInflectionsEn},
                            {"es", kInflectionsEs},
                            {"fr", kInflectionsFr},
                            {"it", kInflectionsIt}};

bool has_field(std::string_view morph, std::string_view name) {
  for (size_t at = 0; at < morph.size();) {
    size_t end = std::min(morph.find(' ', at), morph.size());
    if (morph.substr(at, end - at).starts_with(name)) return true;
    at = end + 1;
  }
  return false;
}

bool ends_in(const std::string& add, const std::vector<std::string>& endings) {
  return std::any_of(endings.begin(), endings.end(),
                     [&](const std::string& e) { return add.ends_with(e); });
}

// Whether a's flag is in map and a is among the affixes it means.
bool listed(const std::map<std::string, Endings>& map, const Affix& a) {
  auto it = map.find(a.flag);
  if (it == map.end()) return false;
  const Endings& e = it->second;
  if (!e.endings.empty() && !ends_in(a.add, e.endings)) return false;
  return std::none_of(e.but.begin(), e.but.end(), [&](const std::string& b) {
    size_t arrow = b.find('>');
    if (arrow == std::string::npos) return b == a.add;
    return b.compare(0, arrow, a.strip) == 0 && b.compare(arrow + 1, b.npos, a.add) == 0;
  });
}

// What one affix does to a word (made, with the others): inflects it, or
// makes no form (kind).
const char* kind_of(const Inflections& in, const Root& root, const Affix& a,
                    const std::string& made) {
  if (in.numbers.count(a.flag)) return kNumber;
  // l', qu', dell' (or with ’): an elided word glued on.
  if (a.add.ends_with("'") || a.add.ends_with("\xE2\x80\x99") || listed(in.glued, a)) {
    return kGlued;
  }
  auto making = in.glued_making.find(a.flag);
  if (making != in.glued_making.end() && ends_in(made, making->second)) return kGlued;
  if (in.fields && !a.morph.empty()) {
    if (has_field(a.morph, "dp:")) return kGlued;
    if (has_field(a.morph, "ds:")) return kDerivation;
    if (has_field(a.morph, "is:") || has_field(a.morph, "ip:") || has_field(a.morph, "po:")) {
      return "";
    }
  }
  if (!in.inflecting.count(a.flag)) return kDerivation;
  auto with = in.with.find(a.flag);
  if (with != in.with.end() &&
      std::find(root.flags.begin(), root.flags.end(), with->second) == root.flags.end()) {
    return kDerivation;
  }
  return "";
}

bool is_apart(const Inflections& in, const Affix& a) {
  if (listed(in.apart, a)) return true;
  return std::any_of(in.apart_fields.begin(), in.apart_fields.end(),
                     [&](const std::string& f) { return has_field(a.morph, f); });
}

// Whether the source has a word of its own that an affix like a (of its
// flag, and apart as a is) makes of the root: then none of those is a form.
bool source_has_apart(const Inflections& in, const AffixFile& rules, const Root& root,
                      const Affix& a, const std::function<bool(const std::string&)>& is_headword) {
  auto it = rules.by_flag.find(a.flag);
  if (it == rules.by_flag.end()) return false;
  for (size_t i : it->second) {
    const Affix& b = rules.affixes[i];
    if (b.prefix != a.prefix || !is_apart(in, b)) continue;
    std::string word = apply_affix(rules, b, root.word);
    if (!word.empty() && is_headword(word)) return true;
  }
  return false;
}

size_t common_start(const std::string& a, const std::string& b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

Inflections read_inflections(std::string_view text) {
  Inflections in;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = std::min(text.find('\n', pos), text.size());
    const std::vector<std::string_view> words = words_of(text.substr(pos, end - pos));
    const std::vector<std::string> w(words.begin(), words.end());
    pos = end + 1;
    if (w.empty()) continue;
    const std::string& what = w[0];
    if (what == "fields") in.fields = true;
    if (what == "numbers") in.numbers.insert(w.begin() + 1, w.end());
    if (what == "roots" && w.size() == 2 && w[1] == "apart") in.roots_apart = true;
    if (what == "apart" && w.size() == 3 && w[1] == "field") {
      in.apart_fields.insert(w[2]);
    } else if (what == "glued" && w.size() > 3 && w[2] == "making") {
      in.glued_making[w[1]].assign(w.begin() + 3, w.end());
    } else if ((what == "glued" || what == "apart") && w.size() >= 2) {
      // FLAG... [ending E... [but A...]]
      auto ending = std::find(w.begin() + 1, w.end(), "ending");
      auto but = std::find(ending, w.end(), "but");
      Endings e;
      e.endings.assign(ending == w.end() ? ending : ending + 1, but);
      if (but != w.end()) e.but.assign(but + 1, w.end());
      for (auto f = w.begin() + 1; f != ending; ++f)
        (what == "glued" ? in.glued : in.apart)[*f] = e;
    }
    if (what != "inflect") continue;
    if (w.size() == 4 && (w[2] == "with" || w[2] == "of")) {
      in.inflecting.insert(w[1]);
      (w[2] == "with" ? in.with : in.of)[w[1]] = w[3];
      continue;
    }
    in.inflecting.insert(w.begin() + 1, w.end());
  }
  return in;
}

Inflections inflections_for(const std::string& dictionary) {
  std::string language = dictionary.substr(dictionary.rfind('/') + 1);
  language = language.substr(0, language.find_first_of("_-."));
  for (const BuiltIn& b : kBuiltIn) {
    if (language != b.language) continue;
    Inflections in = read_inflections(b.text);
    in.language = language;
    return in;
  }
  return {};
}

std::string known_languages() {
  std::string list;
  for (const BuiltIn& b : kBuiltIn) list += (list.empty() ? "" : ", ") + std::string(b.language);
  return list;
}

Lemma lemma_of(const Inflections& in, const AffixFile& rules, const Root& root, const Made& made,
               const std::function<bool(const std::string&)>& is_headword) {
  Lemma lemma;
  // The words it inflects: the root, or what an "of" flag makes of it;
  // then the derivations among its affixes put on them, in their order.
  std::vector<std::string> bases{root.word};
  bool inflected = false, suffix_inflected = false;
  for (const Affix* a : made.affixes) {
    if (a->strip.empty() && a->add.empty()) continue;  // it changes nothing
    const char* kind = kind_of(in, root, *a, made.word);
    if (kind == kGlued || kind == kNumber) {
      lemma.kind = kind;
      return lemma;
    }
    if (*kind) {  // a derivation: on the root, never on an inflected word
      if (!a->prefix && suffix_inflected) {
        lemma.kind = kDerivation;
        return lemma;
      }
      for (std::string& b : bases) b = apply_affix(rules, *a, b);
      std::erase(bases, std::string());
      continue;
    }
    inflected = true;
    suffix_inflected |= !a->prefix;
    if (is_apart(in, *a) && source_has_apart(in, rules, root, *a, is_headword)) {
      lemma.kind = kApart;
      return lemma;
    }
    auto of = in.of.find(a->flag);
    if (of == in.of.end()) continue;
    std::vector<std::string> made_by;
    for (const Made& m : derived_words(rules, Root{root.word, {of->second}, ""})) {
      if (m.affixes.size() == 1) made_by.push_back(m.word);
    }
    bases = std::move(made_by);
  }
  if (!inflected) {
    lemma.kind = kDerivation;
    return lemma;
  }
  // The headword among them nearest the form.
  size_t best = 0;
  for (const std::string& b : bases) {
    if (b == made.word || !is_headword(b)) continue;
    size_t shared = common_start(b, made.word);
    if (!lemma.form || shared > best) {
      lemma = Lemma{true, b, ""};
      best = shared;
    }
  }
  return lemma;
}

}  // namespace zelk::import
