// Comparing keys and words as dictionary readers do: without case (Unicode's
// simple case folding, one character for one, for searches over stored keys;
// its full folding, with utf8proc, for text such as a headword line), and by
// how many characters two keys differ.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf8.h"

namespace zelk {

// The key folded for comparing without case: ASCII letters always, and where
// the key is valid UTF-8 every character by Unicode simple case folding.
std::string fold_case(std::string_view key);

// The characters that fold to the same as c (c among them), in UTF-8.
std::vector<std::string> case_variants(char32_t c);

// The edit distance (insertions, deletions, substitutions) between a and b,
// counted in characters where both are valid UTF-8, else in bytes; any
// distance above limit is returned as limit + 1.
size_t edit_distance(std::string_view a, std::string_view b, size_t limit);

// text as a reader types a word: case folded (full folding) and without
// accents (combining marks left out after decomposing), in composed form;
// "Straße" and "strasse", "Café" and "cafe" are the same. Bytes that are
// not UTF-8 fold as ASCII.
std::string search_folded(std::string_view text);

// The characters (in UTF-8) whose search folding begins with c's first
// folded character: c's cases and its accented and unaccented forms.
std::vector<std::string> search_variants(char32_t c);

// text in lower case (Unicode's lower case mapping, a character for a
// character, with utf8proc); bytes that are not UTF-8 lowered as ASCII.
std::string lower_case(std::string_view text);

// text by Unicode's full case folding, in composed form; bytes that are not
// UTF-8 make the whole text fold as ASCII does (A-Z to a-z) and stay as they
// are otherwise.
std::string case_folded(std::string_view text);

// True when a and b are the same text but for case (full folding) and
// blanks (spaces, tabs, line breaks).
bool same_but_for_case_and_blanks(std::string_view a, std::string_view b);

}  // namespace zelk
