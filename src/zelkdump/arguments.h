// zelkdump's command line before it is parsed: the command, and which of
// its arguments are options, so that keys beginning with '-' stay keys.
#pragma once

#include <string>
#include <vector>

#include "zelkdump/commands.h"

namespace zelk {

// The command line in the order the parser is to see it: options that
// precede the command, the command, its options (wherever they stood, unless
// after "--"), then "--" and the operands (FILE, then keys), so that an
// operand that begins with '-' is never taken for an option. An argument
// that begins with '-' and stands before FILE is left to the parser.
struct Arguments {
  std::vector<std::string> words;  // the program's name first
  const char* help_for = nullptr;  // "help [COMMAND]": "" for the program, or the command
  std::string error;               // an unknown command, in words
  std::vector<const char*> argv() const;
};
Arguments sort_arguments(int argc, const char* const* argv);

}  // namespace zelk
