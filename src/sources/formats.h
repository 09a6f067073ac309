// The source formats zelkimport reads, one row each: its name, the endings
// of its files, a look at its first bytes, its own options and its reader.
// The command line and the import know formats only through this table: a
// new format is a file of its own (its reader and its row) and a line in
// the table.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sources/encoding.h"
#include "sources/source.h"

namespace zelk::sources {

// One option a format takes: --NAME VALUE, or a flag (value null).
struct FormatOption {
  const char* name;   // without the dashes: "lang-code"
  const char* value;  // what it takes ("CODE"), null for a flag
  const char* help;
  std::vector<const char*> choices = {};  // the words it takes, if it takes only these
  long least = 0, most = 0;               // a number's range, when most > least
  const char* fallback = "";              // its value when not given
  const char* (*check)(const std::string& value) = nullptr;  // what is wrong with a value, or null
};

struct Format;

// A source to read: its main file, its format and what it was given.
struct Source {
  std::string path;
  const Format* format = nullptr;
  Reading reading;
  std::map<std::string, std::string> options;  // the format's options given: name -> value
};

// An option's value as given, else its fallback ("1" for a flag given).
std::string option(const Source& source, const char* name);
long number_option(const Source& source, const char* name);
bool flag_option(const Source& source, const char* name);

struct Format {
  const char* name;                      // --format's word: "dsl"
  const char* description;               // for --help and the man page
  std::vector<const char*> endings;      // its main file's endings: ".dsl", ".dsl.dz"
  std::vector<const char*> parts;        // endings of the other files of one dictionary
  const char* main_ending;               // the main file's ending beside a part ("" none)
  bool (*sniff)(std::string_view head);  // whether a file's first bytes are this format's
  std::vector<FormatOption> options;
  void (*read)(const Source& source, Emit& emit);
};

// Every format, in the order --help lists them.
std::span<const Format* const> formats();
const Format* find_format(std::string_view name);

// The source as named, or the main file of the dictionary a part names
// (wn.dict.dz -> wn.index), with its format: given, else by the file's
// ending, else by its first bytes, else tab. note says which main file was
// taken for a part, else stays empty. Raises when a part has no main file
// beside it.
struct Resolved {
  std::string path;
  const Format* format;
  std::string note;
};
Resolved resolve(const std::string& named, const Format* given);

// Every file a source of this format reads (for refusing an output that is one).
std::vector<std::string> files_of(const Format& format, const std::string& path);

// The file's name without its folder and its format's ending.
std::string stem(const std::string& path);

}  // namespace zelk::sources
