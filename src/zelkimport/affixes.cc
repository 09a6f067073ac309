#include "zelkimport/affixes.h"

#include <algorithm>
#include <cstdlib>

#include "text/utf8.h"

namespace zelk::import {

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  for (size_t at = 0;;) {
    at = line.find_first_not_of(" \t\r", at);
    if (at == std::string_view::npos || line[at] == '#') break;
    size_t end = line.find_first_of(" \t\r", at);
    if (end == std::string_view::npos) end = line.size();
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

namespace {

std::vector<ConditionUnit> parse_condition(std::string_view text) {
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

// The text without the characters IGNORE names.
std::string without_ignored(const AffixFile& rules, std::string_view text) {
  if (rules.ignore.empty()) return std::string(text);
  std::u32string chars;
  if (!decode_utf8(text, chars)) return std::string(text);
  std::string out;
  for (char32_t c : chars) {
    if (rules.ignore.find(c) == std::u32string::npos) append_utf8(c, out);
  }
  return out;
}

// Morphological fields, an AM number standing for its alias's.
std::string morph_of(const AffixFile& rules, const std::vector<std::string_view>& words,
                     size_t from) {
  std::string morph;
  for (size_t i = from; i < words.size(); ++i) {
    std::string_view w = words[i];
    bool number = !rules.morph_aliases.empty() && !w.empty() &&
                  w.find_first_not_of("0123456789") == std::string_view::npos;
    size_t n = number ? std::strtoul(std::string(w).c_str(), nullptr, 10) : 0;
    if (number && n >= 1 && n <= rules.morph_aliases.size()) w = rules.morph_aliases[n - 1];
    morph += (morph.empty() ? "" : " ") + std::string(w);
  }
  return morph;
}

// One PFX or SFX line: the header (flag, cross product, count) or a rule.
void read_affix_line(AffixFile& rules, const std::vector<std::string_view>& w,
                     std::unordered_map<std::string, bool>& cross) {
  const bool prefix = w[0] == "PFX";
  std::string flag(w[1]);
  if (w.size() == 4 && (w[2] == "Y" || w[2] == "N") &&
      w[3].find_first_not_of("0123456789") == std::string_view::npos) {
    cross[(prefix ? "P" : "S") + flag] = w[2] == "Y";
    return;
  }
  if (w.size() < 4) return;
  Affix a;
  a.prefix = prefix;
  a.flag = flag;
  a.cross = cross[(prefix ? "P" : "S") + flag];
  a.strip = w[2] == "0" ? "" : without_ignored(rules, w[2]);
  std::string_view add = w[3];
  size_t slash = add.find('/');
  if (slash != std::string_view::npos) {
    a.continuation = split_flags(rules, add.substr(slash + 1));
    add = add.substr(0, slash);
  }
  a.add = add == "0" ? "" : without_ignored(rules, add);
  a.condition = parse_condition(w.size() > 4 ? w[4] : ".");
  a.morph = morph_of(rules, w, 5);
  rules.affixes.push_back(std::move(a));
}

}  // namespace

AffixFile read_affixes(std::string_view aff) {
  AffixFile rules;
  std::unordered_map<std::string, bool> cross;
  size_t flag_alias_lines = 0, morph_alias_lines = 0;  // still to come
  for (size_t pos = 0; pos < aff.size();) {
    size_t end = aff.find('\n', pos);
    if (end == std::string_view::npos) end = aff.size();
    std::vector<std::string_view> w = words_of(aff.substr(pos, end - pos));
    pos = end + 1;
    if (w.empty()) continue;
    std::string_view tag = w[0], value = w.size() > 1 ? w[1] : std::string_view();
    if (tag == "AF" && flag_alias_lines > 0) {
      rules.flag_aliases.emplace_back(value);
      --flag_alias_lines;
    } else if (tag == "AF") {
      flag_alias_lines = std::strtoul(std::string(value).c_str(), nullptr, 10);
    } else if (tag == "AM" && morph_alias_lines > 0) {
      rules.morph_aliases.push_back(morph_of(rules, w, 1));
      --morph_alias_lines;
    } else if (tag == "AM") {
      morph_alias_lines = std::strtoul(std::string(value).c_str(), nullptr, 10);
    } else if (tag == "SET") {
      rules.encoding = value;
    } else if (tag == "FLAG") {
      rules.flag_type = value;
    } else if (tag == "IGNORE") {
      decode_utf8(value, rules.ignore);
    } else if (tag == "FULLSTRIP") {
      rules.fullstrip = true;
    } else if (tag == "COMPLEXPREFIXES") {
      rules.complex_prefixes = true;
    } else if (tag == "NEEDAFFIX" || tag == "PSEUDOROOT") {
      rules.needaffix = value;
    } else if (tag == "ONLYINCOMPOUND") {
      rules.onlyincompound = value;
    } else if (tag == "FORBIDDENWORD") {
      rules.forbidden = value;
    } else if (tag == "CIRCUMFIX") {
      rules.circumfix = value;
    } else if ((tag == "PFX" || tag == "SFX") && w.size() >= 4) {
      read_affix_line(rules, w, cross);
    }
  }
  for (size_t i = 0; i < rules.affixes.size(); ++i) {
    rules.by_flag[rules.affixes[i].flag].push_back(i);
  }
  return rules;
}

std::vector<std::string> split_flags(const AffixFile& rules, std::string_view field) {
  std::vector<std::string> flags;
  if (!rules.flag_aliases.empty() && !field.empty() &&
      field.find_first_not_of("0123456789") == std::string_view::npos) {
    size_t n = std::strtoul(std::string(field).c_str(), nullptr, 10);
    if (n < 1 || n > rules.flag_aliases.size()) return flags;
    field = rules.flag_aliases[n - 1];
  }
  if (rules.flag_type == "num") {
    for (size_t at = 0; at < field.size();) {
      size_t comma = std::min(field.find(',', at), field.size());
      if (comma > at) flags.emplace_back(field.substr(at, comma - at));
      at = comma + 1;
    }
  } else if (rules.flag_type == "long") {
    for (size_t i = 0; i + 1 < field.size(); i += 2) flags.emplace_back(field.substr(i, 2));
  } else if (rules.flag_type == "UTF-8") {
    for (size_t i = 0; i < field.size();) {
      size_t length = 1;
      utf8_at(field, i, &length);
      flags.emplace_back(field.substr(i, length));
      i += length;
    }
  } else {
    for (char ch : field) flags.emplace_back(1, ch);
  }
  return flags;
}

bool read_root(const AffixFile& rules, std::string_view line, Root& root) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // The word ends at a slash that is not "\/", or at a blank or tab before
  // the morphological fields.
  std::string word;
  size_t i = 0;
  for (; i < line.size() && line[i] != '/' && line[i] != '\t' && line[i] != ' '; ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '/') ++i;
    word += line[i];
  }
  root.flags.clear();
  if (i < line.size() && line[i] == '/') {
    size_t end = line.find_first_of(" \t", i + 1);
    if (end == std::string_view::npos) end = line.size();
    root.flags = split_flags(rules, line.substr(i + 1, end - i - 1));
    i = end;
  }
  root.morph = i < line.size() ? morph_of(rules, words_of(line.substr(i)), 0) : "";
  root.word = without_ignored(rules, word);
  return !root.word.empty();
}

namespace {

bool unit_matches(const ConditionUnit& u, char32_t c) {
  if (u.any) return true;
  bool in = u.set.find(c) != std::u32string::npos;
  return in != u.negated;
}

bool has(const std::vector<std::string>& flags, const std::string& flag) {
  return !flag.empty() && std::find(flags.begin(), flags.end(), flag) != flags.end();
}

}  // namespace

std::string apply_affix(const AffixFile& rules, const Affix& a, const std::string& word) {
  if (a.strip.size() >= word.size() && !(rules.fullstrip && a.strip.size() == word.size())) {
    return {};
  }
  if (a.prefix ? !word.starts_with(a.strip) : !word.ends_with(a.strip)) return {};
  // The condition's characters: the word's first n, or its last n.
  const size_t n = a.condition.size();
  size_t at = 0;
  if (!a.prefix) {
    at = word.size();
    for (size_t back = 0; back < n; ++back) {
      if (at == 0) return {};
      do --at;
      while (at > 0 && (static_cast<unsigned char>(word[at]) & 0xC0) == 0x80);
    }
  }
  for (size_t i = 0; i < n; ++i) {
    if (at >= word.size()) return {};
    size_t length = 1;
    char32_t c = utf8_at(word, at, &length);
    if (!unit_matches(a.condition[i], c)) return {};
    at += length;
  }
  if (a.prefix) return a.add + word.substr(a.strip.size());
  return word.substr(0, word.size() - a.strip.size()) + a.add;
}

namespace {

// The affixes of the kind asked (prefixes or suffixes) that these flags take.
std::vector<const Affix*> taken(const AffixFile& rules, const std::vector<std::string>& flags,
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

// Whether a word made so stands alone: not marked to need another affix
// (the outermost affix, or the root when there is none) nor to stand in
// compounds only, and its circumfix affixes, if any, a prefix and a suffix.
bool stands_alone(const AffixFile& rules, const Root& root, const std::vector<const Affix*>& made) {
  const std::vector<std::string>& last = made.empty() ? root.flags : made.back()->continuation;
  if (has(last, rules.needaffix) || has(root.flags, rules.onlyincompound)) return false;
  bool prefix = false, suffix = false, circumfix = false;
  for (const Affix* a : made) {
    if (has(a->continuation, rules.onlyincompound)) return false;
    if (!has(a->continuation, rules.circumfix)) continue;
    circumfix = true;
    (a->prefix ? prefix : suffix) = true;
  }
  return !circumfix || (prefix && suffix);
}

// A chain of affixes of one kind put on a word: up to two (suffixes, or
// prefixes with COMPLEXPREFIXES), the second from the first's continuation.
struct Chain {
  std::string word;
  std::vector<const Affix*> affixes;
};

std::vector<Chain> chains(const AffixFile& rules, const std::string& word,
                          const std::vector<std::string>& flags, bool prefix, size_t most) {
  std::vector<Chain> out{{word, {}}};
  for (size_t level = 0; level < most; ++level) {
    std::vector<Chain> next;
    for (const Chain& c : out) {
      if (c.affixes.size() != level) continue;
      const std::vector<std::string>& allowed = level == 0 ? flags : c.affixes.back()->continuation;
      for (const Affix* a : taken(rules, allowed, prefix)) {
        std::string made = apply_affix(rules, *a, c.word);
        if (made.empty()) continue;
        Chain longer = c;
        longer.word = std::move(made);
        longer.affixes.push_back(a);
        next.push_back(std::move(longer));
      }
    }
    out.insert(out.end(), next.begin(), next.end());
  }
  return out;
}

}  // namespace

std::vector<Made> derived_words(const AffixFile& rules, const Root& root) {
  std::vector<Made> words;
  if (has(root.flags, rules.forbidden)) return words;
  const size_t suffixes = rules.complex_prefixes ? 1 : 2, prefixes = rules.complex_prefixes ? 2 : 1;
  for (Chain& s : chains(rules, root.word, root.flags, false, suffixes)) {
    if (stands_alone(rules, root, s.affixes)) words.push_back({s.word, s.affixes});
    // Prefixes with it: taken by the root or allowed by a suffix, both
    // sides crossing.
    bool crosses = s.affixes.empty() || s.affixes.front()->cross;
    if (!crosses) continue;
    std::vector<std::string> allowed = root.flags;
    for (const Affix* a : s.affixes) {
      allowed.insert(allowed.end(), a->continuation.begin(), a->continuation.end());
    }
    for (Chain& p : chains(rules, s.word, allowed, true, prefixes)) {
      if (p.affixes.empty() || (!s.affixes.empty() && !p.affixes.front()->cross)) continue;
      Made m{p.word, s.affixes};
      m.affixes.insert(m.affixes.end(), p.affixes.begin(), p.affixes.end());
      if (stands_alone(rules, root, m.affixes)) words.push_back(std::move(m));
    }
  }
  // A suffix allowed by the continuation of a prefix the root takes (fr:
  // an empty prefix whose continuation holds the plural), both crossing.
  for (const Affix* p : taken(rules, root.flags, true)) {
    if (!p->cross) continue;
    for (const Affix* s : taken(rules, p->continuation, false)) {
      if (!s->cross) continue;
      std::string made = apply_affix(rules, *s, root.word);
      if (!made.empty()) made = apply_affix(rules, *p, made);
      if (made.empty()) continue;
      Made m{std::move(made), {s, p}};
      if (stands_alone(rules, root, m.affixes)) words.push_back(std::move(m));
    }
  }
  return words;
}

}  // namespace zelk::import
