// zelkimport's database output: the import's text packed as zelkpack packs
// it, without work files, into the output's temporary file, and checked as
// zelkdump verify checks before the output is committed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "convert/settings.h"
#include "convert/split.h"
#include "toolkit/output.h"
#include "zelkimport/layout.h"

namespace zelk::import {

// What the database holds.
struct Packed {
  long chunks = 0;
  size_t index_size = 0;
  Stats stats;
  long headwords = 0, forms = 0;  // keys looked up in the database and found
};

// Packs text (laid out as layout says) into the database written to output
// with settings (name, K, -l, -p), and checks it: as zelkdump verify checks,
// and every key looked up the way a reader looks it up. Lines from
// first_form_line on (unless it is -1) are forms'. text and layout are let
// go once the chunks are made. progress: a terminal to say how far it is,
// or null.
Packed write_database(Output& output, Bytes& text, Layout& layout, const Settings& settings,
                      long first_form_line, std::FILE* progress);

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
