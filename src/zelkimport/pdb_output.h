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
  bool looked_up = false;         // the database was read back and every key looked up
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

// True when path names a database output (ends in .pdb, in any case).
bool is_database_name(const std::string& path);

}  // namespace zelk::import
