// Everything a reader relies on, checked: the header's fields, the record
// list, the index record, and every chunk against what the index says of it
// (its size, its first and last key, its entries in order). What is wrong
// comes back as data, each problem with its record and offset.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "reader/database.h"

namespace zelk {

struct Verdict {
  std::vector<Problem> found;  // problems and warnings, in the order met
  size_t problems = 0, warnings = 0;
  size_t chunks = 0, entries = 0;  // read
};

// Checks the database; unopened: why it could not be opened, if it could
// not (the header is still checked).
Verdict verify(const Database& db, const Problem* unopened);

// The verdict as text: a line a problem ("warning: " before a warning),
// then "FILE: sound: ..." or "FILE: damaged: ...".
std::string verify_report(const std::string& file, const Verdict& v);

}  // namespace zelk
