// "No text lost": the words of a source's text, found by this file's own
// simple rules (markup, entities and escapes taken out, not the readers'
// rules), must all stand in what an import wrote, but for the words of the
// parts the import counted as skipped and of the forms it left out. The
// readers' tests and fuzz targets check it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelk_test {

// A part of a source a reader may skip: a file and a line (or an entry).
using Unit = std::pair<std::string, long>;

struct SourceWord {
  std::string word;
  Unit unit;
};

// The source's files, the first being the one named.
using Files = std::vector<std::pair<std::string, std::string>>;

// The words of the source by the rules of its format (dictd, stardict, tab,
// csv, wiktionary, dsl, xdxf). options: the format's options given (CSV's
// columns and delimiter); from: the set a tab, CSV or DSL file is in, if
// given (else UTF-8, or UTF-16 by its mark or zero bytes; gzip expanded).
std::vector<SourceWord> source_words(const std::string& format, const Files& files,
                                     const std::map<std::string, std::string>& options = {},
                                     const std::string& from = "");

// The words of a text: runs of letters and digits (every byte of a UTF-8
// sequence counts as a letter but for U+FFFD and combining marks), ASCII in
// lower case.
std::set<std::string> words_of(std::string_view text);

// What an import did besides its output: the units it skipped (every part
// of a source skipped when all is true) and the texts of the forms it left
// out.
struct Accounted {
  std::set<Unit> skipped;
  bool all = false;
  std::string dropped;
};

// The source's words missing from output and not accounted for.
std::vector<std::string> lost_words(const std::vector<SourceWord>& words, std::string_view output,
                                    const Accounted& accounted);

}  // namespace zelk_test
