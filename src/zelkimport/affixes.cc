#include "zelkimport/affixes.h"

#include <algorithm>
#include <sstream>

#include "text/utf8.h"

namespace zelk::import {

namespace {

std::vector<ConditionUnit> parse_condition(const std::string& text) {
  std::vector<ConditionUnit> units;
  std::u32string chars;
  if (text == "." || !decode_utf8(text, chars)) return units;
  for (size_t i = 0; i < chars.size(); ++i) {
    ConditionUnit u;
    if (chars[i] == '.') {
      u.any = true;
    } else if (chars[i] == '[') {
      size_t end = chars.find(']', i);
      if (end == std::u32string::npos) end = chars.size();
      u.negated = i + 1 < end && chars[i + 1] == '^';
      u.set = chars.substr(i + 1 + (u.negated ? 1 : 0), end - i - 1 - (u.negated ? 1 : 0));
      i = end;
    } else {
      u.set = chars.substr(i, 1);
    }
    units.push_back(std::move(u));
  }
  return units;
}

bool unit_matches(const ConditionUnit& u, char32_t c) {
  if (u.any) return true;
  bool in = u.set.find(c) != std::u32string::npos;
  return in != u.negated;
}

// The condition against the root's first (prefix) or last (suffix) characters.
bool condition_met(const Affix& a, const std::u32string& root) {
  size_t n = a.condition.size();
  if (n > root.size()) return false;
  size_t start = a.prefix ? 0 : root.size() - n;
  for (size_t i = 0; i < n; ++i) {
    if (!unit_matches(a.condition[i], root[start + i])) return false;
  }
  return true;
}

bool has(const std::vector<std::string>& flags, const std::string& flag) {
  return !flag.empty() && std::find(flags.begin(), flags.end(), flag) != flags.end();
}

// A word and its characters, decoded once for every affix tried on it.
struct Word {
  const std::string& text;
  std::u32string chars;
  bool valid;
  explicit Word(const std::string& t) : text(t), valid(decode_utf8(t, chars)) {}
};

// The word the affix makes of root (UTF-8), or "" when it does not apply.
std::string affixed(const Affix& a, const Word& word) {
  const std::string& root = word.text;
  if (!word.valid || !condition_met(a, word.chars)) return {};
  if (a.prefix) {
    if (!root.starts_with(a.strip)) return {};
    return a.add + root.substr(a.strip.size());
  }
  if (!root.ends_with(a.strip)) return {};
  return root.substr(0, root.size() - a.strip.size()) + a.add;
}

}  // namespace

AffixRules read_affixes(const std::string& aff) {
  AffixRules rules;
  std::istringstream lines(aff);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string tag;
    words >> tag;
    if (tag == "FLAG") words >> rules.flag_type;
    if (tag == "SET") words >> rules.encoding;
    if (tag == "NEEDAFFIX") words >> rules.needaffix;
    if (tag == "ONLYINCOMPOUND") words >> rules.onlyincompound;
    if (tag == "FORBIDDENWORD") words >> rules.forbidden;
    if (tag == "CIRCUMFIX") words >> rules.circumfix;
    if (tag != "PFX" && tag != "SFX") continue;
    std::string flag, strip, add, condition;
    words >> flag >> strip >> add;
    if ((strip == "Y" || strip == "N") && !add.empty() &&
        add.find_first_not_of("0123456789") == std::string::npos) {
      continue;  // the header: flag, cross product, count
    }
    words >> condition;
    Affix a;
    a.prefix = tag == "PFX";
    a.flag = flag;
    a.strip = strip == "0" ? "" : strip;
    size_t slash = add.find('/');
    if (slash != std::string::npos) {
      a.continuation = split_flags(rules, add.substr(slash + 1));
      add.resize(slash);
    }
    a.add = add == "0" ? "" : add;
    a.condition = parse_condition(condition.empty() ? "." : condition);
    rules.affixes.push_back(std::move(a));
  }
  // The cross product is given in each header line: set it on the entries.
  std::istringstream again(aff);
  while (std::getline(again, line)) {
    std::istringstream words(line);
    std::string tag, flag, cross;
    words >> tag >> flag >> cross;
    if ((tag != "PFX" && tag != "SFX") || (cross != "Y" && cross != "N")) continue;
    for (Affix& a : rules.affixes) {
      if (a.flag == flag && a.prefix == (tag == "PFX")) a.cross = cross == "Y";
    }
  }
  for (size_t i = 0; i < rules.affixes.size(); ++i) {
    rules.by_flag[rules.affixes[i].flag].push_back(i);
  }
  return rules;
}

std::vector<std::string> split_flags(const AffixRules& rules, const std::string& field) {
  std::vector<std::string> flags;
  if (rules.flag_type == "num") {
    std::istringstream numbers(field);
    std::string n;
    while (std::getline(numbers, n, ',')) flags.push_back(n);
  } else if (rules.flag_type == "long") {
    for (size_t i = 0; i + 1 < field.size(); i += 2) flags.push_back(field.substr(i, 2));
  } else if (rules.flag_type == "UTF-8") {
    for (size_t i = 0; i < field.size();) {
      size_t length = 1;
      utf8_at(field, i, &length);
      flags.push_back(field.substr(i, length));
      i += length;
    }
  } else {
    for (char ch : field) flags.emplace_back(1, ch);
  }
  return flags;
}

namespace {

// The affixes of the kind asked (prefixes or suffixes) that these flags take.
std::vector<const Affix*> taken(const AffixRules& rules, const std::vector<std::string>& flags,
                                bool prefix) {
  std::vector<const Affix*> found;
  for (const std::string& f : flags) {
    auto it = rules.by_flag.find(f);
    if (it == rules.by_flag.end()) continue;
    for (size_t i : it->second) {
      if (rules.affixes[i].prefix == prefix) found.push_back(&rules.affixes[i]);
    }
  }
  return found;
}

}  // namespace

std::vector<std::string> derived_words(const AffixRules& rules, const std::string& root,
                                       const std::vector<std::string>& flags) {
  std::vector<std::string> words;
  if (has(flags, rules.forbidden)) return words;
  if (!has(flags, rules.needaffix) && !has(flags, rules.onlyincompound)) words.push_back(root);
  auto usable = [&](const Affix& a) { return !has(a.continuation, rules.onlyincompound); };
  auto lone = [&](const Affix& a) { return !has(a.continuation, rules.circumfix); };
  std::vector<const Affix*> prefixes = taken(rules, flags, true);
  Word base(root);
  for (const Affix* s : taken(rules, flags, false)) {
    if (!usable(*s)) continue;
    std::string suffixed = affixed(*s, base);
    if (suffixed.empty()) continue;
    if (lone(*s)) words.push_back(suffixed);
    Word word(suffixed);
    for (const Affix* more : taken(rules, s->continuation, false)) {  // a suffix it allows
      if (!usable(*more) || !lone(*more)) continue;
      std::string again = affixed(*more, word);
      if (!again.empty()) words.push_back(again);
    }
    std::vector<const Affix*> with = prefixes;  // a prefix with it
    for (const Affix* p : taken(rules, s->continuation, true)) with.push_back(p);
    for (const Affix* p : with) {
      if (!p->cross || !s->cross || !usable(*p) || lone(*s) != lone(*p)) continue;
      std::string both = affixed(*p, word);
      if (!both.empty()) words.push_back(both);
    }
  }
  for (const Affix* p : prefixes) {
    if (!usable(*p) || !lone(*p)) continue;
    std::string prefixed = affixed(*p, base);
    if (!prefixed.empty()) words.push_back(prefixed);
  }
  std::sort(words.begin() + (words.empty() || words[0] != root ? 0 : 1), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}

}  // namespace zelk::import
