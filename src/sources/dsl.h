// The parts of a DSL card, read: headwords with their optional and unsorted
// parts, and the body's markup as text. Used by the DSL reader (dsl.cc).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::sources {

struct Headword {
  std::vector<std::string> keys;  // every combination of its optional parts, the fullest first
  std::string shown;              // as a reader sees it: unsorted parts kept, stress marked
  std::string tilde;              // what ~ stands for: optional parts as written, no unsorted ones
};

// A headword line: \x is x; {unsorted} parts are shown, not keys; (optional)
// parts, nested or not, give every combination (32 keys at most; "()" is
// text); stress marks ([']...[/']) no part of a key; blanks collapse.
Headword parse_headword(std::string_view line);

// The value of a header line: #NAME "Name" -> Name (between the first and
// the last quote; without quotes, what follows the name).
std::string header_value(std::string_view line);

// An entry a card gives: its keys (the first is the entry, the others point
// at it) and its text, a line break between paragraphs.
struct Entry {
  std::vector<std::string> keys;
  std::string text;
};

// The card's entries: its own, with every key of every headword (a headword
// without a key is shown only), then one for each "@ headword" subentry of
// its body; none when no headword has a key. counted receives the media
// left out.
std::vector<Entry> card_entries(const std::vector<Headword>& heads,
                                const std::vector<std::string>& body,
                                std::map<std::string, long>& counted);

}  // namespace zelk::sources
