// Finding entries the way a reader does: the index record names the chunks
// whose key range can hold a key, and only those are read; by prefix the
// same; without case and by edit distance every chunk once. Also the nearest
// keys to one not found, and pages of keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reader/chunks.h"

namespace zelk {

// How keys are matched.
enum class Strategy {
  kExact,   // the key itself
  kPrefix,  // keys that begin with it
  kNocase,  // the key but for case
  kLev,     // keys at most one edit (insertion, deletion, substitution) away, itself too
};
// The strategy called name ("exact", "prefix", "nocase", "lev"); false for
// any other name.
bool strategy_named(std::string_view name, Strategy& strategy);

// Chunks [first, second) (from 0) whose key range can hold the key, or keys
// that begin with the prefix.
std::pair<size_t, size_t> chunks_holding(const Database& db, std::string_view key);
std::pair<size_t, size_t> chunks_with_prefix(const Database& db, std::string_view prefix);

bool starts_with(std::string_view key, std::string_view prefix);

// A key as text, for comparing without case or by edit distance: the stored
// bytes when the set is UTF-8, else their conversion (into scratch).
std::string_view as_unicode(const Charset& charset, std::string_view key, std::string& scratch);

// An entry found by reading every chunk: its chunk (1..N) and place.
struct Match {
  uint32_t chunk, entry;
};
// For each key, the entries that match it without case or by edit distance
// (strategy kNocase or kLev), every chunk read once for all of them.
std::vector<std::vector<Match>> scan_matches(ChunkReader& reader,
                                             const std::vector<std::string>& keys,
                                             Strategy strategy);

// Up to five keys nearest to each missing key (edit distance between the
// two as a reader types them, without case or accents; then dictionary
// order): a scan of every chunk.
std::vector<std::vector<std::string>> nearest_keys(ChunkReader& reader,
                                                   const std::vector<std::string>& missing);

// One query's matches for a program rather than a terminal: entries offset
// to offset + limit in dictionary order, and whether more follow.
struct Found {
  std::string key, value;
};
struct SearchResult {
  std::vector<Found> entries;
  bool more = false;
};
SearchResult search(ChunkReader& reader, const std::string& query, Strategy strategy, size_t offset,
                    size_t limit);

// Keys (each once) that begin with prefix, offset to offset + limit.
struct KeyPage {
  std::vector<std::string> keys;
  bool more = false;
};
KeyPage keys_page(ChunkReader& reader, const std::string& prefix, size_t offset, size_t limit);
// The same for a prefix typed in UTF-8, matched without case and accents
// (search_folded), each key once, in dictionary order.
KeyPage keys_page_nocase(ChunkReader& reader, const std::string& typed, size_t offset,
                         size_t limit);
// How many chunks a listing without case of the prefix typed may read.
size_t chunks_for_nocase_prefix(const Database& db, const std::string& typed,
                                const Charset& charset);

// The database's keys by their search folding (the hash of it), each with
// where it stands; built by reading every chunk once, for finding a key
// typed without its case or accents at once.
struct FoldedIndex {
  std::vector<std::pair<uint64_t, uint32_t>> keys;  // hash, chunk << 16 | entry; sorted
};
FoldedIndex make_folded_index(ChunkReader& reader);
// The key (stored) that folds as the text typed (UTF-8) does, the first in
// dictionary order; empty when there is none.
std::string folded_key(ChunkReader& reader, const FoldedIndex& index, const std::string& typed);

// The keys (in the database's set) that the database has, in the order given.
std::vector<std::string> existing_keys(ChunkReader& reader, const std::vector<std::string>& keys);

}  // namespace zelk
