// The converter's command line: options, the usage text and the chunk
// budget's operand.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "convert/settings.h"

namespace zelk {

extern const char kUsage[];

// Reads the options of argv[1..argc) into settings and collects the operands.
// Unknown option letters are reported on err and skipped; an option missing
// its operand throws Fatal.
void parse_options(int argc, const char* const* argv, Settings& settings,
                   std::vector<std::string>& operands, std::FILE* err);

// The leading decimal integer of text, as atoi reads it (white space and a
// sign allowed, no digits gives 0), held at the limits of a 32-bit int.
int read_chunk_size(const char* text);

}  // namespace zelk
