// Chunking stage: rewrites the sorted entries as "key<TAB>value<LF>" lines and
// deals them into chunk files out/dic0000.txt, out/dic0001.txt, ... of at most
// K bytes each, recording every chunk's first and last key in the chunk index.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "convert/settings.h"
#include "format/format.h"
#include "toolkit/big_alloc.h"

namespace zelk {

struct ChunkIndex {
  std::vector<IndexEntry> entries;  // entry k describes chunk file k
  int suffix = 0;                   // chunk files opened so far: the next chunk's number
  // Set by split_lines: the chunks' bytes one after the other, chunk k the
  // entries[k].size bytes after those of the chunks before it.
  UninitVector<char> text;
  // With measure set: each entry's line length and key length, in order,
  // for index_size_at.
  bool measure = false;
  UninitVector<uint32_t> line_lengths, key_lengths;
};

// The chunks and the index record's size the entries measured in index
// would give at chunk budget K, when none of their lines is longer than K:
// the chunking stage's rule without the text. Returns the index record's size;
// chunks receives the number of chunks.
size_t index_size_at(const ChunkIndex& measured, int chunksize, size_t* chunks);

// Reads entry lines from in (which stays open) and writes the chunk files,
// the chunk index and the statistics. With settings.debug, prints an
// "enter_key(...)" line per chunk to standard output.
void split(std::FILE* in, const Settings& settings, Stats& stats, ChunkIndex& index);

// The same over lines held in memory, taken in the given order (the sorted
// copy without the copy): the chunks go to index.text (unless
// settings.write_chunks is off: then they are only counted), no file is written.
// lines[i] is the bytes [starts[i], starts[i + 1]) of data.
void split_lines(const char* data, const UninitVector<uint64_t>& starts,
                 const UninitVector<uint32_t>& order, const Settings& settings, Stats& stats,
                 ChunkIndex& index);

// The chunks the lines of text (starts as in split_lines) make in this order
// at chunk budget K, counted and measured, not kept. Raises the converter's
// message for a line it refuses.
void plan_chunks(std::string_view text, const UninitVector<uint64_t>& starts,
                 const UninitVector<uint32_t>& order, int chunksize, Stats& stats,
                 ChunkIndex& index);

// The index record's size when the lines of text (starts as in
// split_lines) are chunked in this order at K; SIZE_MAX when the converter
// refuses a line at this K.
size_t index_size_at(std::string_view text, const UninitVector<uint64_t>& starts,
                     const UninitVector<uint32_t>& order, int chunksize);

// The least K from chunksize on at which size_at(K), the index record's
// size at K, fits in 65535 bytes: chunksize itself when it does, 0 when no K
// up to 65535 does. Found by halving: the size falls as K grows.
template <class SizeAt>
int least_chunksize_for_small_index(int chunksize, SizeAt size_at) {
  if (size_at(chunksize) <= kMaxRecordSize) return chunksize;
  if (size_at(kMaxChunkSize) > kMaxRecordSize) return 0;
  int low = chunksize, high = kMaxChunkSize;  // too large at low, small enough at high
  while (high - low > 1) {
    int mid = low + (high - low) / 2;
    (size_at(mid) > kMaxRecordSize ? low : high) = mid;
  }
  return high;
}

// The same for the lines of text: their lengths measured once where no line
// is cut give the size at every K that cuts none; at a K that does, the
// lines are chunked again.
int chunksize_for_small_index(std::string_view text, const UninitVector<uint64_t>& starts,
                              const UninitVector<uint32_t>& order, int chunksize);

// Stops with the converter's message when the chunking gave no entry
// ("Error: No entries in input file.") or more chunks than a database can
// list ("Error: Too many chunks (N), at most 65534.").
void check_chunk_count(const ChunkIndex& index);

}  // namespace zelk
