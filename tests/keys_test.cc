// Comparing keys as readers do, and sorting zelkdump's command line.
#include "zelkdump/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zelkdump/arguments.h"
#include "zelkdump/database.h"

namespace {

TEST(Keys, FoldCase) {
  struct Case {
    std::string key, folded;
  };
  const Case cases[] = {
      {"Apple", "apple"},
      {"ABC xyz 123", "abc xyz 123"},
      {"\xC3\x84PFEL", "\xC3\xA4pfel"},          // Ä -> ä
      {"\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89"},  // ΣΩ -> σω
      {"\xE1\xBA\x9E", "\xC3\x9F"},              // ẞ -> ß (simple: not "ss")
      {"\xC3\x9F", "\xC3\x9F"},                  // ß stays
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},  // Deseret long I, four bytes
      {"\xEF\xBC\xA1", "\xEF\xBD\x81"},          // fullwidth A, three bytes
      {"\xC4PFEL", "\xC4pfel"},                  // Latin-1: ASCII letters only
      {"\xC3\x84\xFF", "\xC3\x84\xFF"},          // not UTF-8, so the Ä stays
  };
  for (const Case& c : cases) EXPECT_EQ(zelk::fold_case(c.key), c.folded) << c.key;
  // A character cut off by the end of the key is not completed from beyond it.
  EXPECT_EQ(zelk::fold_case(std::string_view("A\xC3\x84", 2)), "a\xC3");
}

TEST(Keys, EditDistance) {
  struct Case {
    std::string a, b;
    size_t limit, distance;
  };
  const Case cases[] = {
      {"", "", 3, 0},
      {"", "abc", 3, 3},
      {"abc", "", 2, 3},  // over the limit: limit + 1
      {"kitten", "sitting", 5, 3},
      {"kitten", "sitting", 2, 3},
      {"apple", "aple", 1, 1},
      {"apple", "maple", 1, 2},
      {"flaw", "lawn", 4, 2},
      {"\xC3\x84pfel", "Apfel", 1, 1},     // one character, two bytes
      {"\xC4pfel", "Apfel", 1, 1},         // Latin-1: bytes
      {"\xC3\x84pfel", "\xC4pfel", 3, 2},  // one side not UTF-8: bytes
      {"abcdefgh", "hgfedcba", 8, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zelk::edit_distance(c.a, c.b, c.limit), c.distance) << c.a << " " << c.b;
    EXPECT_EQ(zelk::edit_distance(c.b, c.a, c.limit), c.distance) << c.b << " " << c.a;
  }
}

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

}  // namespace
