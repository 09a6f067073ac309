// Definitions written in markup (HTML, Pango, XDXF, MediaWiki as StarDict
// stores them) turned into plain text by libxml2's HTML parser: the text of
// every element, line breaks at block elements and <br>, nothing of <script>
// and <style>, entities decoded.
#pragma once

#include <string>
#include <string_view>

#include "sources/formats.h"

namespace zelk::sources {

std::string markup_to_text(std::string_view markup);

// --markup html|none, of the formats whose definitions may be markup (a
// function: the format rows that list it are made before main, in any order).
const FormatOption& markup_option();

}  // namespace zelk::sources
