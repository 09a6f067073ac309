// An import from its source to its output, step by step: the source's files
// found, the output checked and opened before any work, the entries read and
// cleaned, laid out for the converter, then written as text or packed into
// a database, and the summary printed. Also --check, what zelkpack will make
// of a text dictionary.
#pragma once

#include <cstdio>
#include <string>

#include "sources/formats.h"
#include "zelkimport/sink.h"

namespace zelk::import {

// What the command line asks for.
struct Command {
  Options o;
  sources::Source source;  // as named; its format when --format gave it
  std::string output, check_file, name;
};

// Runs the import c asks for. Raises Fatal.
void import(Command& c);

// Prints the summary of a text dictionary to standard output; true when
// zelkpack would pack it whole at chunksize.
bool check_file(const std::string& file, int chunksize);

// Standard error when it is a terminal, for the progress line; else null.
std::FILE* progress_stream();

}  // namespace zelk::import
