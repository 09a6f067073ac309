// A Hunspell dictionary's affix file and word list, read as hunspell(5)
// says, to list the words its rules make of each root: prefixes and
// suffixes whose condition the word meets, a suffix's own suffixes (or with
// COMPLEXPREFIXES a prefix's own prefixes) once more, a prefix and a suffix
// together where both allow it (cross product; the suffix allowed by the
// root, or by the prefix's continuation), CIRCUMFIX affixes only in
// pairs, NEEDAFFIX and ONLYINCOMPOUND words and affixes never alone,
// FORBIDDENWORD roots never; flags of every type (FLAG long, num, UTF-8),
// their AF aliases and the AM aliases of morphological fields; IGNORE
// characters left out; FULLSTRIP. ICONV and OCONV change what is typed
// and shown, not the words the rules make; compounds are not made.
// libhunspell checks each word made (spell): it has no call that lists the
// words itself.
#pragma once

#include <string>
#include <string_view>
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
  std::string flag;                       // the flag a word carries to take it
  std::string strip, add;                 // what it takes off the word and puts on
  std::vector<std::string> continuation;  // flags of the word it makes: further affixes it allows
  std::vector<ConditionUnit> condition;   // what the word's start (end) must be
  std::string morph;                      // its morphological fields ("is:pl", "po:ipre"), if any
};

struct AffixFile {
  std::string encoding;                    // SET: the character set of both files
  std::string flag_type;                   // FLAG: "", "long", "num" or "UTF-8"
  std::vector<std::string> flag_aliases;   // AF: the flags each number stands for (from 1)
  std::vector<std::string> morph_aliases;  // AM: the fields each number stands for (from 1)
  std::u32string ignore;                   // IGNORE: characters no word holds
  bool fullstrip = false;                  // FULLSTRIP: a rule may strip the whole word
  bool complex_prefixes = false;           // COMPLEXPREFIXES: two prefixes, one suffix
  std::string needaffix, onlyincompound, forbidden, circumfix;
  std::vector<Affix> affixes;
  std::unordered_map<std::string, std::vector<size_t>> by_flag;  // the affixes of each flag
};

// The blank-separated words of a line, up to a '#' that begins a word.
std::vector<std::string_view> words_of(std::string_view line);

// Reads an affix file's text (in UTF-8; iconv converts one in another SET
// first).
AffixFile read_affixes(std::string_view aff);

// The flags of a flag field, as the file writes them (an AF number stands
// for its alias's flags).
std::vector<std::string> split_flags(const AffixFile& rules, std::string_view field);

// A word of the word list: the word ("\/" a slash), its flags and fields.
struct Root {
  std::string word;
  std::vector<std::string> flags;
  std::string morph;
};
// One line of the word list; false for a line that holds no word.
bool read_root(const AffixFile& rules, std::string_view line, Root& root);

// A word the rules make of a root, with the affixes that made it (in the
// order they were put on: the root's own first).
struct Made {
  std::string word;
  std::vector<const Affix*> affixes;
};
// The word affix a makes of word, or "" when it does not apply: its
// condition met by the word's start (a prefix) or end (a suffix), its strip
// there, and without FULLSTRIP something of the word left.
std::string apply_affix(const AffixFile& rules, const Affix& a, const std::string& word);

// Every word the rules make of root, the root itself first when it is a
// word alone.
std::vector<Made> derived_words(const AffixFile& rules, const Root& root);

}  // namespace zelk::import
