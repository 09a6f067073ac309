// The converter's run: command line, input, work directory, the three
// stages, and the closing statistics.
#pragma once

#include <string>

#include "convert/settings.h"
#include "toolkit/file.h"

namespace zelk {

// Runs zelkpack with these arguments and returns its exit status (0, or 1
// after printing the error).
int zelkpack_main(int argc, const char* const* argv);

// Opens the input and readies the run: checks the output path, picks the
// byte order and makes the work directory. Throws Fatal.
File open_run(const Settings& settings, const std::string& dic_file);

// Everything after the sorted copy: chunks it, writes the database and says
// what the run had to mangle. Throws Fatal.
void pack_sorted(File sorted, const Settings& settings, Stats& stats);

}  // namespace zelk
