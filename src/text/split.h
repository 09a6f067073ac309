// Chunking stage: rewrites the sorted entries as "key<TAB>value<LF>" lines and
// deals them into chunk files out/dic0000.txt, out/dic0001.txt, ... of at most
// K bytes each, recording every chunk's first and last key in the chunk index.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/settings.h"
#include "pdb/format.h"

namespace zelk {

struct ChunkIndex {
  std::vector<IndexEntry> entries;  // entry k describes chunk file k
  int suffix = 0;                   // chunk files opened so far: the next chunk's number
};

// Reads entry lines from in (which stays open) and writes the chunk files,
// the chunk index and the statistics. With settings.debug, prints an
// "enter_key(...)" line per chunk to standard output.
void split(std::FILE* in, const Settings& settings, Stats& stats, ChunkIndex& index);

}  // namespace zelk
