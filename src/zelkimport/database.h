// zelkimport's database output: the import's text packed as zelkpack packs
// it, without work files, into a temporary file beside the output that is
// checked as zelkdump verify checks and then renamed over the output.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "text/settings.h"
#include "text/split.h"
#include "zelkimport/layout.h"

namespace zelk::import {

// What the database holds.
struct Packed {
  long chunks = 0;
  size_t index_size = 0;
  int small_index_k = 0;  // when the index record is over 65535: the -k that fits it, 0 none
  Stats stats;
};

// Packs text (laid out as layout says) into the database at path with
// settings (name, K, -l, -p); text and layout are let go once the chunks
// are made. A failure, SIGINT or SIGTERM leaves no file under path's name
// but what was there before. progress: a terminal to say how far it is, or
// null.
Packed write_database(const std::string& path, Bytes& text, Layout& layout,
                      const Settings& settings, std::FILE* progress);

// The index record's size when the converter packs the lines of text
// (starts as in LineTable) in this order at chunksize.
size_t index_size_at(std::string_view text, const UninitVector<uint64_t>& starts,
                     const SortedLines& order, int chunksize);

// The least K from chunksize on whose index record fits in 65535 bytes, or 0
// when no K up to 65535 gives one.
int chunksize_for_small_index(std::string_view text, const UninitVector<uint64_t>& starts,
                              const SortedLines& order, int chunksize);

// True when path names a database output (ends in .pdb, in any case).
bool is_database_name(const std::string& path);

}  // namespace zelk::import
