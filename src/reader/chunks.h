// A database's chunks read one at a time, the last one kept: the record
// expanded and its text cut into entries. A damaged chunk is kept once as a
// Problem, in the order it was met, for the caller to say.
#pragma once

#include <cstddef>
#include <vector>

#include "reader/database.h"
#include "reader/stored_text.h"

namespace zelk {

struct ChunkReader {
  ChunkReader(const Database& database, const Charset& set);
  const Database& db;
  Charset charset;  // the set keys are stored in
  std::vector<unsigned char> record;
  std::vector<unsigned char> text;
  std::vector<Entry> entries;
  size_t loaded = 0;  // the chunk in text and entries, 0 for none
  std::vector<bool> met_damaged;
  size_t damaged = 0;             // chunks found damaged
  std::vector<Problem> problems;  // what was wrong with them, each once
};

// Loads chunk r (1..N) and its entries; false for a damaged chunk.
bool load(ChunkReader& reader, size_t r);

// True when the header and the index record name the same number of chunks;
// else problem says how they differ.
bool chunk_count_ok(const Database& db, Problem& problem);

}  // namespace zelk
