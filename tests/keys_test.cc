// Comparing keys as readers do, and sorting zelkdump's command line.
#include "text/keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "reader/database.h"
#include "zelkdump/arguments.h"

namespace {

TEST(Keys, ZelkdumpArgumentsKeepKeysThatLookLikeOptions) {
  struct Case {
    std::vector<const char*> argv;
    std::vector<std::string> words;
    std::string error;
  };
  const Case cases[] = {
      {{"zd", "lookup", "f", "-ness"}, {"zd", "lookup", "--", "f", "-ness"}, ""},
      {{"zd", "lookup", "-s", "lev", "f", "k"}, {"zd", "lookup", "-s", "lev", "--", "f", "k"}, ""},
      {{"zd", "lookup", "f", "k", "--strategy", "prefix", "-x"},
       {"zd", "lookup", "--strategy", "prefix", "--", "f", "k", "-x"},
       ""},
      {{"zd", "lookup", "f", "--", "-s", "--help"},
       {"zd", "lookup", "--", "f", "-s", "--help"},
       ""},
      {{"zd", "lookup", "f", "k", "--strategy=lev"},
       {"zd", "lookup", "--strategy=lev", "--", "f", "k"},
       ""},
      {{"zd", "info", "f", "--json"}, {"zd", "info", "--json", "--", "f"}, ""},
      {{"zd", "lookup", "f", "--json"}, {"zd", "lookup", "--", "f", "--json"}, ""},
      {{"zd", "info", "-x", "f"}, {"zd", "info", "-x", "--", "f"}, ""},
      {{"zd", "lookup", "f", "k", "-s"}, {"zd", "lookup", "-s", "--", "f", "k"}, ""},  // no value
      {{"zd", "serve", "f", "--host=h", "--port=0"},
       {"zd", "serve", "--host=h", "--port=0", "--", "f"},
       ""},
      {{"zd", "--version"}, {"zd", "--version"}, ""},
      {{"zd", "frob", "f"}, {"zd"}, "'frob' is not a zelkdump command"},
  };
  for (const Case& c : cases) {
    zelk::Arguments a = zelk::sort_arguments(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(a.words, c.words) << c.argv[1];
    EXPECT_EQ(a.error, c.error) << c.argv[1];
  }
  const char* help[] = {"zd", "help", "keys"};
  EXPECT_STREQ(zelk::sort_arguments(3, help).help_for, "keys");
}

// A prefix typed without case may begin with any character whose folding
// begins as the typed one's does: a folding of two letters (ß, the ligature
// fi) counts by its first.
TEST(Keys, SearchVariantsOfAFirstCharacter) {
  struct Case {
    char32_t typed;
    std::vector<std::string> among, not_among;
  } cases[] = {
      {U'a', {"a", "A", "\u00E1", "\u00C4"}, {"b", "\u00E6"}},
      {U'\u00DF', {"s", "S", "\u00DF", "\u0161"}, {"t"}},
      {U'\uFB01', {"f", "F", "\uFB01"}, {"i"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> found = zelk::search_variants(c.typed);
    auto has = [&](const std::string& v) {
      return std::find(found.begin(), found.end(), v) != found.end();
    };
    for (const std::string& v : c.among) EXPECT_TRUE(has(v)) << v;
    for (const std::string& v : c.not_among) EXPECT_FALSE(has(v)) << v;
  }
}

}  // namespace
