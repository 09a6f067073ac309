// A Hunspell dictionary's word list and affix rules, read as text to list
// the words its rules can derive from each root: prefixes and suffixes whose
// condition the root meets, a suffix's own suffixes once more, a prefix and
// a suffix together where both allow it. libhunspell checks each candidate
// (spell) and finds the stems; it has no call that lists the words itself.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace zelk::import {

// One character of an affix's condition: any character, one of a set, or
// none of a set.
struct ConditionUnit {
  bool any = false;
  bool negated = false;
  std::u32string set;
};

struct Affix {
  bool prefix = false;
  bool cross = false;                     // may combine with an affix of the other kind
  std::string flag;                       // the flag a root carries to take it
  std::string strip, add;                 // what it takes off the root and puts on
  std::vector<std::string> continuation;  // flags of further affixes it allows
  std::vector<ConditionUnit> condition;   // what the root's start (end) must be
};

struct AffixRules {
  std::vector<Affix> affixes;
  std::unordered_map<std::string, std::vector<size_t>> by_flag;  // the affixes of each flag
  std::string encoding;        // SET: the character set of the word list
  std::string flag_type;       // "", "long", "num" or "UTF-8"
  std::string needaffix;       // a root with this flag is no word by itself
  std::string onlyincompound;  // ... only inside compounds
  std::string forbidden;       // a word with this flag is not one
  std::string circumfix;       // an affix with this flag needs another with it
};

// Reads the rules of an .aff file's text (in UTF-8).
AffixRules read_affixes(const std::string& aff);

// The flags of a word list line's flag field, as the rules write them.
std::vector<std::string> split_flags(const AffixRules& rules, const std::string& field);

// The words the rules derive from root (with its flags), the root first when
// it is a word by itself.
std::vector<std::string> derived_words(const AffixRules& rules, const std::string& root,
                                       const std::vector<std::string>& flags);

}  // namespace zelk::import
