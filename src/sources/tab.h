// What the tab reader shares with CSV's forms column: a cell of alternates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelk::sources {

// "go|went|gone" is go, went and gone (PyGlossary's convention); "\|" is a
// bar, and \n, \t and two backslashes are a line feed, a tab and a
// backslash. Each alternate is trimmed; an empty one is left out and counted
// in *empty. A cell of bars alone is the key as written.
std::vector<std::string> alternates(std::string_view cell, long* empty);

// The escapes above (with bars: "\|" too), in place.
void unescape(std::string_view in, std::string& out, bool bars = false);

}  // namespace zelk::sources
