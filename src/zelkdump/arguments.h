// zelkdump's command line before it is parsed: the command, and which of
// its arguments are options, so that keys beginning with '-' stay keys.
#pragma once

#include <string>
#include <vector>

namespace zelk {

struct CommandSpec {
  const char* name;
  const char* help;
  bool json;      // takes --json
  bool strategy;  // takes -s/--strategy NAME
  bool keys;      // KEY... after FILE
  bool prefix;    // an optional PREFIX after FILE
  bool serve;     // takes --host H and --port P
};

inline constexpr CommandSpec kCommands[] = {
    {"info", "Name, type, dates, sizes, ratio, longest key and value, entry count", true, false,
     false, false, false},
    {"list",
     "One line per chunk: record, offset, stored size, text size, entries, first and last key",
     true, false, false, false, false},
    {"lookup", "The entries of each KEY as key<TAB>value lines, by a strategy", false, true, true,
     false, false},
    {"keys", "Every key once, in dictionary order (those that begin with PREFIX)", false, false,
     false, true, false},
    {"extract", "All entries in stored order, as the chunks' key<TAB>value lines", false, false,
     false, false, false},
    {"verify", "Check everything a reader relies on; one line per problem", true, false, false,
     false, false},
    {"serve", "A web page to search and browse the database, on 127.0.0.1 unless --host says",
     false, false, false, false, true},
};

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
