// Text compared as a reader compares words: without case (Unicode case
// folding, with utf8proc), and without the blanks between words where asked.
#pragma once

#include <string>
#include <string_view>

namespace zelk {

// text case-folded and in composed form; bytes that are not UTF-8 make the
// whole text fold as ASCII does (A-Z to a-z) and stay as they are otherwise.
std::string case_folded(std::string_view text);

// True when a and b are the same text but for case and blanks (spaces, tabs,
// line breaks).
bool same_but_for_case_and_blanks(std::string_view a, std::string_view b);

}  // namespace zelk
