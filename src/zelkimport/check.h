// What zelkpack will make of a text dictionary, measured before it runs:
// the same line, key and chunk rules, the same sort, no files written.
#pragma once

#include <cstdio>
#include <string>

#include "convert/sort.h"

namespace zelk::import {

struct Sink;

struct TextSummary {
  long entries = 0;           // lines zelkpack reads as entries
  long repeated_keys = 0;     // entries whose key an earlier entry has
  long long_keys = 0;         // keys over 127 bytes (sorted by their first 127)
  long cut_lines = 0;         // lines over K - 2 bytes, cut
  long longest_cut = 0;       // bytes before the line feed of the longest of them
  long long_input_lines = 0;  // lines over 65535 bytes, read in pieces
  bool byte_order_mark = false;
  long no_separator = 0;           // lines without tab or " /// "
  long nul_lines = 0;              // lines holding a NUL byte
  long chunks = 0;                 // chunks at K
  size_t index_size = 0;           // bytes of the index record at K
  int small_index_k = 0;           // when that is over 65535: the least -k that fits it, 0 none
  size_t index_without_forms = 0;  // bytes of the index record without the forms' entries, 0 none
  int whole_k = 0;                 // the -k that packs every line whole (0: none can)
  bool whole_needs_large = false;  // ... and its index record needs -l
  std::string refusal;             // zelkpack's message when it would stop, else empty
  std::string name;                // the database's name, for the zelkpack command (-n)
  std::string found;               // a database's keys looked up: "N headwords and M forms, ..."
};

// The lines of a text and their order, when the converter's sort has run
// on it already.
struct Sorted {
  const LineTable* table;
  const SortedLines* order;
};

TextSummary check_text(const char* data, size_t size, int chunksize,
                       const Sorted* sorted = nullptr);

// Prints the summary; with sink, the import's own counts first; packed: the
// database written (then the text's own rows are left out). Returns true
// when zelkpack would pack the text whole, without cutting or stopping, and
// else ends with the zelkpack command that packs it whole.
bool print_summary(std::FILE* out, const std::string& name, const TextSummary& summary,
                   int chunksize, const Sink* sink, const std::string& packed = "");

// "70123 bytes, over 65535: the database must go on a memory card (-l); -k
// 9000 keeps it in main memory".
std::string index_advice(size_t index_size, int small_index_k);

}  // namespace zelk::import
