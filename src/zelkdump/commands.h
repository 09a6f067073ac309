// zelkdump's commands over an open database. Each returns the exit status:
// 0 success, 1 a key not found, a damaged database or not a database at all,
// 2 a file that cannot be read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/error.h"
#include "zelkdump/charset.h"
#include "zelkdump/database.h"

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

// How lookup matches keys.
enum class Strategy {
  kExact,   // the key itself
  kPrefix,  // keys that begin with it
  kNocase,  // the key but for case
  kLev,     // keys at most one edit (insertion, deletion, substitution) away, itself too
};
// The strategy called name ("exact", "prefix", "nocase", "lev"); false for
// any other name.
bool strategy_named(std::string_view name, Strategy& strategy);

// Loads chunks one at a time, keeping the last one; a damaged chunk is
// reported once on standard error and remembered.
struct ChunkReader {
  const DumpContext& cx;
  const Database& db;
  std::vector<unsigned char> record;
  std::vector<unsigned char> text;
  std::vector<Entry> entries;
  size_t loaded = 0;  // the chunk in text and entries, 0 for none
  std::vector<bool> reported;
  size_t damaged = 0;  // chunks found damaged
  ChunkReader(const DumpContext& context, const Database& database);
};
// Loads chunk r (1..N) and its entries; false for a damaged chunk.
bool load(ChunkReader& reader, size_t r);
// Prints "zelkdump: FILE: WHERE: TEXT" on standard error.
void report(const DumpContext& cx, const Problem& p);
// True when the header and the index record name the same number of chunks;
// else reports the difference.
bool chunk_count_ok(const DumpContext& cx, const Database& db);
// "record 3 at offset 0x1f4", "header at offset 0x3c".
std::string where(const Problem& p);

int dump_info(const DumpContext& cx, const Database& db);
int dump_list(const DumpContext& cx, const Database& db);
int dump_lookup(const DumpContext& cx, const Database& db, const std::vector<std::string>& keys,
                Strategy strategy);
// Every key once, in dictionary order; only those beginning with prefix when
// one is given.
int dump_keys(const DumpContext& cx, const Database& db, const std::string* prefix);
int dump_extract(const DumpContext& cx, const Database& db);
int dump_verify(const DumpContext& cx, const Database& db, const Problem* unopened);
// Serves the web page and its JSON API until SIGINT or SIGTERM.
// wait: how long a request that reads many chunks waits for its turn before
// the answer is 503.
int dump_serve(const DumpContext& cx, const Database& db, const std::string& host, int port,
               int wait);

// One query's matches for a program rather than a terminal: entries offset
// to offset + limit in dictionary order, whether more follow, and for an
// exact key not found the nearest keys.
struct Found {
  std::string key, value;
};
struct SearchResult {
  std::vector<Found> entries;
  bool more = false;
};
SearchResult search(ChunkReader& reader, const std::string& query, Strategy strategy, size_t offset,
                    size_t limit);
// Up to five keys nearest to a key (edit distance, then dictionary order):
// a scan of every chunk.
std::vector<std::string> nearest(ChunkReader& reader, const std::string& key);
// Keys (each once) that begin with prefix, offset to offset + limit.
struct KeyPage {
  std::vector<std::string> keys;
  bool more = false;
};
KeyPage keys_page(ChunkReader& reader, const std::string& prefix, size_t offset, size_t limit);
// The same for a prefix typed in UTF-8, matched without case (Unicode simple
// folding, as nocase does), each key once, in dictionary order.
KeyPage keys_page_nocase(ChunkReader& reader, const std::string& typed, size_t offset,
                         size_t limit);
// How many chunks a listing without case of the prefix typed may read.
size_t chunks_for_nocase_prefix(const Database& db, const std::string& typed,
                                const Charset& charset);
// The keys (in the database's set) that the database has, in the order given.
std::vector<std::string> existing_keys(ChunkReader& reader, const std::vector<std::string>& keys);

struct Request {
  std::string command;            // info, list, lookup, keys, extract or verify
  std::vector<std::string> keys;  // lookup's keys; keys' prefix, if any
  Strategy strategy = Strategy::kExact;
  std::string host = "127.0.0.1";  // serve's address and port
  int port = 8080;
  std::string charset;  // the database's character set; empty: found from the database
  int wait = 20;        // serve: seconds a request that reads many chunks waits for its turn
};
// Opens the database in the regular file fd (size bytes) and runs the
// request. Raises Fatal and std::bad_alloc.
int run_dump(const DumpContext& cx, const Request& request, int fd, uint64_t size);

// Stored bytes in the database's set as UTF-8 text, for display.
inline std::string shown_text(const DumpContext& cx, std::string_view stored) {
  return to_utf8(cx.charset, stored);
}

// "1 chunk", "2 chunks".
std::string count(size_t n, const char* singular, const char* plural);

// The commands, each with its help line, the options it takes and what runs it.
struct CommandSpec {
  const char* name;
  const char* help;
  bool json;      // takes --json
  bool strategy;  // takes -s/--strategy NAME
  bool keys;      // KEY... after FILE
  bool prefix;    // an optional PREFIX after FILE
  bool serve;     // takes --host H and --port P
  // Runs the command on the open database.
  int (*run)(const DumpContext& cx, const Database& db, const Request& request);
};

inline constexpr CommandSpec kCommands[] = {
    {"info", "Name, type, dates, sizes, ratio, longest key and value, entry count", true, false,
     false, false, false,
     [](const DumpContext& cx, const Database& db, const Request&) { return dump_info(cx, db); }},
    {"list",
     "One line per chunk: record, offset, stored size, text size, entries, first and last key",
     true, false, false, false, false,
     [](const DumpContext& cx, const Database& db, const Request&) { return dump_list(cx, db); }},
    {"lookup", "The entries of each KEY as key<TAB>value lines, by a strategy", false, true, true,
     false, false,
     [](const DumpContext& cx, const Database& db, const Request& r) {
       return dump_lookup(cx, db, r.keys, r.strategy);
     }},
    {"keys", "Every key once, in dictionary order (those that begin with PREFIX)", false, false,
     false, true, false,
     [](const DumpContext& cx, const Database& db, const Request& r) {
       return dump_keys(cx, db, r.keys.empty() ? nullptr : &r.keys[0]);
     }},
    {"extract", "All entries in stored order, as the chunks' key<TAB>value lines", false, false,
     false, false, false,
     [](const DumpContext& cx, const Database& db, const Request&) {
       return dump_extract(cx, db);
     }},
    {"verify", "Check everything a reader relies on; one line per problem", true, false, false,
     false, false,
     [](const DumpContext& cx, const Database& db, const Request&) {
       return dump_verify(cx, db, nullptr);
     }},
    {"serve", "A web page to search and browse the database, on 127.0.0.1 unless --host says",
     false, false, false, false, true,
     [](const DumpContext& cx, const Database& db, const Request& r) {
       return dump_serve(cx, db, r.host, r.port, r.wait);
     }},
};

// The command called name, or null.
const CommandSpec* command_named(const std::string& name);

}  // namespace zelk
