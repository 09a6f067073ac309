// zelkdump's commands over an open database, and the table that names each
// with its help, its operands and its options. A command prints what it
// finds and returns whether all went well (every key found, every chunk
// sound); what stops it raises Fatal; main turns both into the exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "reader/chunks.h"
#include "reader/database.h"
#include "reader/find.h"
#include "reader/stored_text.h"
#include "toolkit/error.h"

namespace zelk {

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusFailed = 1;   // not found, damaged, not a database
inline constexpr int kStatusTrouble = 2;  // usage, unreadable file, unwritable output

struct DumpContext {
  const std::string& file;  // the database's name, for messages
  std::FILE* out;
  std::FILE* err;
  bool json = false;  // info, list and verify write one JSON document
  Charset charset;    // the database's; keys and values are shown in UTF-8
};

// What the command line asks for.
struct Request {
  std::string command;            // info, list, lookup, keys, extract, verify or serve
  std::vector<std::string> keys;  // lookup's keys; keys' prefix, if any
  std::string strategy = "exact";
  std::string charset;  // the database's character set; empty: found from the database
  bool json = false;
  std::string host = "127.0.0.1";  // serve's address and port
  int port = 8080;
  int wait = 20;      // serve: seconds a request that reads many chunks waits for its turn
  std::string words;  // verify: a file of words, one a line, each to be found
};

// Prints "zelkdump: FILE: WHERE: TEXT" on standard error.
void print_problem(const DumpContext& cx, const Problem& p);
// Prints the problems the reader met since the last call, and forgets them.
void print_problems(const DumpContext& cx, ChunkReader& reader);
// True when the header and the index record agree on the chunks; else says
// how they differ.
bool chunks_agree(const DumpContext& cx, const Database& db);
// Loads chunk r, saying what is wrong with it if it is damaged.
bool load_said(const DumpContext& cx, ChunkReader& reader, size_t r);

bool dump_info(const DumpContext& cx, const Database& db);
bool dump_list(const DumpContext& cx, const Database& db);
bool dump_lookup(const DumpContext& cx, const Database& db, const std::vector<std::string>& keys,
                 Strategy strategy);
// Every key once, in dictionary order; only those beginning with prefix when
// one is given.
bool dump_keys(const DumpContext& cx, const Database& db, const std::string* prefix);
bool dump_extract(const DumpContext& cx, const Database& db);
bool dump_verify(const DumpContext& cx, const Database& db, const Problem* unopened);
// Looks up each word of the file (UTF-8, one a line) the way a reader does;
// prints those not found and a count; true when all are.
bool check_words(const DumpContext& cx, const Database& db, const std::string& file);
// Serves the web page and its JSON API until SIGINT or SIGTERM; wait: how
// long a request that reads many chunks waits for its turn before the
// answer is 503.
bool dump_serve(const DumpContext& cx, const Database& db, const std::string& host, int port,
                int wait);

// Opens the database in the regular file fd (size bytes) and runs the
// request; true when all went well. Raises Fatal (a file that is no
// database, status 1; an unknown character set, status 2) and std::bad_alloc.
bool run_dump(const DumpContext& cx, const Request& request, int fd, uint64_t size);

// An option a command may take: a flag, or one that sets a text or a number
// of the request.
struct CommandOption {
  unsigned group;          // which commands take it (kAllCommands, kJson, ...)
  const char* short_name;  // "-s", or null
  const char* long_name;   // "--strategy"
  const char* help;
  bool Request::*flag = nullptr;
  std::string Request::*text = nullptr;
  int Request::*number = nullptr;
  int low = 0, high = 0;          // a number's range
  const char* choices = nullptr;  // a text's values, separated by commas, or null for any
};

enum OptionGroup : unsigned {
  kAllCommands = 1,
  kJson = 2,
  kStrategy = 4,
  kServing = 8,
  kVerifying = 16
};

inline const CommandOption kOptions[] = {
    {.group = kAllCommands,
     .short_name = nullptr,
     .long_name = "--charset",
     .help = "the database's character set, as iconv names it (default: UTF-8 when its keys "
             "are, else CP1252)",
     .text = &Request::charset},
    {.group = kJson,
     .short_name = nullptr,
     .long_name = "--json",
     .help = "one JSON document instead of text",
     .flag = &Request::json},
    {.group = kStrategy,
     .short_name = "-s",
     .long_name = "--strategy",
     .help = "exact (default), prefix, nocase or lev",
     .text = &Request::strategy,
     .choices = "exact,prefix,nocase,lev"},
    {.group = kServing,
     .short_name = nullptr,
     .long_name = "--host",
     .help = "the address to serve on (default 127.0.0.1)",
     .text = &Request::host},
    {.group = kServing,
     .short_name = nullptr,
     .long_name = "--port",
     .help = "the port (default 8080; 0: any free one)",
     .number = &Request::port,
     .low = 0,
     .high = 65535},
    {.group = kVerifying,
     .short_name = nullptr,
     .long_name = "--words",
     .help = "a file of words, one a line: each must be found as a reader looks it up",
     .text = &Request::words},
    {.group = kServing,
     .short_name = nullptr,
     .long_name = "--wait",
     .help = "seconds a search that reads many chunks waits for its turn before the answer is "
             "503 (default 20)",
     .number = &Request::wait,
     .low = 0,
     .high = 3600},
};

// What follows FILE on a command's line.
enum class Operands { kNone, kKeys, kOptionalPrefix };

// A command: its name and help line, what it takes, and what runs it. A
// command that reads damaged files too (verify) runs on a file whose header
// or index record cannot be read, told what is wrong (unopened); the others
// stop there.
struct CommandSpec {
  const char* name;
  const char* help;
  unsigned options;  // the OptionGroups it takes
  Operands operands = Operands::kNone;
  bool damaged_too = false;
  bool (*run)(const DumpContext& cx, const Database& db, const Request& request,
              const Problem* unopened);
};

inline constexpr CommandSpec kCommands[] = {
    {.name = "info",
     .help = "Name, type, dates, sizes, ratio, longest key and value, entry count",
     .options = kAllCommands | kJson,
     .run = [](const DumpContext& cx, const Database& db, const Request&,
               const Problem*) { return dump_info(cx, db); }},
    {.name = "list",
     .help = "One line per chunk: record, offset, stored size, text size, entries, first and "
             "last key",
     .options = kAllCommands | kJson,
     .run = [](const DumpContext& cx, const Database& db, const Request&,
               const Problem*) { return dump_list(cx, db); }},
    {.name = "lookup",
     .help = "The entries of each KEY as key<TAB>value lines, by a strategy",
     .options = kAllCommands | kStrategy,
     .operands = Operands::kKeys,
     .run =
         [](const DumpContext& cx, const Database& db, const Request& r, const Problem*) {
           Strategy strategy = Strategy::kExact;
           strategy_named(r.strategy, strategy);
           return dump_lookup(cx, db, r.keys, strategy);
         }},
    {.name = "keys",
     .help = "Every key once, in dictionary order (those that begin with PREFIX)",
     .options = kAllCommands,
     .operands = Operands::kOptionalPrefix,
     .run =
         [](const DumpContext& cx, const Database& db, const Request& r, const Problem*) {
           return dump_keys(cx, db, r.keys.empty() ? nullptr : &r.keys[0]);
         }},
    {.name = "extract",
     .help = "All entries in stored order, as the chunks' key<TAB>value lines",
     .options = kAllCommands,
     .run = [](const DumpContext& cx, const Database& db, const Request&,
               const Problem*) { return dump_extract(cx, db); }},
    {.name = "verify",
     .help = "Check everything a reader relies on; one line per problem",
     .options = kAllCommands | kJson | kVerifying,
     .damaged_too = true,
     .run =
         [](const DumpContext& cx, const Database& db, const Request& r, const Problem* unopened) {
           bool sound = dump_verify(cx, db, unopened);
           if (unopened || r.words.empty()) return sound;
           return check_words(cx, db, r.words) && sound;
         }},
    {.name = "serve",
     .help = "A web page to search and browse the database, on 127.0.0.1 unless --host says",
     .options = kAllCommands | kServing,
     .run = [](const DumpContext& cx, const Database& db, const Request& r,
               const Problem*) { return dump_serve(cx, db, r.host, r.port, r.wait); }},
};

// The command called name, or null.
const CommandSpec* command_named(const std::string& name);

// Stored bytes in the database's set as UTF-8 text, for display.
inline std::string shown_text(const DumpContext& cx, std::string_view stored) {
  return to_utf8(cx.charset, stored);
}

}  // namespace zelk
