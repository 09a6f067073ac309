// Imports run on source files written for a test, in a scratch folder that
// is the working folder while they are read (messages name the files as
// given): what was written, said and counted, and the check that no text of
// the source was lost.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "no_text_lost.h"
#include "zelkimport/sink.h"

namespace zelk_test {

struct Source {
  std::string format;  // empty: as the import finds it (ending, first bytes)
  Files files = {};    // the first is the one named
  std::map<std::string, std::string> options = {};  // the format's options
  std::string from = {};                            // --from
};

struct Imported {
  std::string out, messages, error, title;
  std::map<std::string, long> skipped, counted;
  long invalid = 0, forms_unknown = 0, written = 0, first_form_line = -1;
  std::string format;  // what it was read as
  Accounted accounted;
};

Imported import_source(const Source& source, const zelk::import::Options& options = {});

// A tab file's import, t.tab holding text.
Imported import_tab(const std::string& text, const zelk::import::Options& options = {});

// The source's words the import lost (see no_text_lost.h).
std::vector<std::string> lost(const Source& source, const Imported& imported);

}  // namespace zelk_test
