// The source readers, format by format: a table of the rules real files rely
// on, each row an input we wrote and what must come of it; every import of
// every row also keeps all of its source's words (no_text_lost.h).
#include <gtest/gtest.h>

#include "imports.h"

using zelk_test::import_source;
using zelk_test::Imported;
using zelk_test::lost;
using zelk_test::Source;

namespace {

struct Case {
  const char* rule;
  Source source;
  std::string out;         // what is written
  std::string said = "";   // a message that must be among those said
  std::string error = "";  // the start of the error that ends the import
};

void check(const Case& c, const zelk::import::Options& options = {}) {
  Imported r = import_source(c.source, options);
  EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.rule << ": " << r.error;
  if (c.error.empty()) {
    EXPECT_EQ(r.out, c.out) << c.rule;
    EXPECT_EQ(lost(c.source, r), std::vector<std::string>{}) << c.rule;
  }
  EXPECT_NE(r.messages.find(c.said), std::string::npos) << c.rule << ": " << r.messages;
}

}  // namespace

TEST(Sources, Placeholder) { check({"a tab file", {"tab", {{"t.tab", "a\tb\n"}}}, "a\tb\n"}); }
