// Which of a Hunspell dictionary's affixes inflect a word, giving a form of
// the same word (number, gender, case, tense, person, degree), and which
// make another word (a derivation: dis-, -ness), glue an article or a
// pronoun on (l', qu', dammi) or build a number: only the first make forms.
// The affix file says it in its fields where it has them (is:, ip:, po:
// inflect; ds:, dp: do not); else the language's file of data/inflections/
// does, built in: the importer's knowledge of each affix file is data, not
// code.
//
// A word made with derivations and inflections (disasters: dis- + aster +
// -s) is a form of the word the derivations alone make (disaster), where
// the source has that word: a form points at the nearest headword it
// inflects, never past it.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "zelkimport/affixes.h"

namespace zelk::import {

// Which of a flag's affixes a directive means: those whose add ends in one
// of endings (all, when there are none), but not those listed in but ("ADD"
// or "STRIP>ADD", exactly).
struct Endings {
  std::vector<std::string> endings, but;
};

struct Inflections {
  std::string language;              // "en", or "" when the importer has no file for it
  bool fields = false;               // the affix file's fields decide where they say something
  std::set<std::string> inflecting;  // flags whose affixes inflect
  std::map<std::string, std::string> with;  // ... only where the word takes this too
  std::map<std::string, std::string> of;    // ... the word this flag makes
  std::map<std::string, Endings> glued;     // affixes that glue a word on
  std::map<std::string, std::vector<std::string>>
      glued_making;                      // ... where the word they make ends so
  std::map<std::string, Endings> apart;  // affixes making words the source may list apart
  std::set<std::string> apart_fields;    // affixes with these fields do too
  std::set<std::string> numbers;         // flags that build numbers
  bool roots_apart = false;  // a word the list has as a root is no form where the source has it
};

// Reads the text of a file of data/inflections/.
Inflections read_inflections(std::string_view text);

// The built-in file for a Hunspell dictionary named like de_DE or a path
// ending so (its language's, de); language is "" when there is none.
Inflections inflections_for(const std::string& dictionary);

// The languages there are files for, "de, en, ...".
std::string known_languages();

// Why a word the rules made is no form; kinds as the summary counts them.
inline constexpr char kDerivation[] = "derivations (another word)";
inline constexpr char kGlued[] = "articles or pronouns glued on";
inline constexpr char kNumber[] = "numbers built by prefix";
inline constexpr char kApart[] = "words the source has apart";

// What a word the rules made of root is: a form of the headword word, or no
// form (kind says why; "" when what it inflects is no headword).
struct Lemma {
  bool form = false;
  std::string word;
  const char* kind = "";
};
Lemma lemma_of(const Inflections& inflections, const AffixFile& rules, const Root& root,
               const Made& made, const std::function<bool(const std::string&)>& is_headword);

}  // namespace zelk::import
