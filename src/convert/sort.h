// The sorted working copy: the input's lines reordered by key into
// out/zelksort.dic.
//
// Lines are ordered by the first 127 bytes of their key, compared as unsigned
// bytes. Lines whose 127-byte prefixes are equal end up in exactly the order
// that a Shell sort with halving gaps (gap = L/2, L/4, ..., 1; each pass an
// insertion sort per chain that stops at the first key less or equal) leaves
// them in. That order is reproduced without running the quadratic procedure:
// each gap pass is a stable sort of every chain, so ranking the keys once and
// replaying the passes on integer ranks gives the same permutation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "convert/settings.h"
#include "format/format.h"
#include "toolkit/big_alloc.h"
#include "toolkit/file.h"

namespace zelk {

// The lines of an input held in memory and their sort keys.
struct LineTable {
  UninitVector<uint64_t> starts;  // line i is the bytes [starts[i], starts[i + 1])
  // Per line: the key length (0..127), plus kKeyEndsInAddedLf when the key's
  // last byte is the line feed that capping added (it is not in the input).
  UninitVector<uint8_t> key_lengths;
  long nul_line = 0;    // 1-based number of the first line holding a NUL byte, or 0
  long long_lines = 0;  // physical lines of more than 65535 bytes, cut into pieces
};
inline constexpr uint8_t kKeyEndsInAddedLf = 0x80;

// Cuts data into lines and finds each line's sort key under chunk budget K.
// Prints "Warning: Too long word in line %ld, Truncated\n" to warnings for each
// key longer than 127 bytes, unless the input holds a NUL byte: then only
// nul_line is set and nothing is printed.
LineTable scan_lines(const char* data, size_t size, int chunksize, std::FILE* warnings);

// The key of line i as the sort sees it; scratch holds it when it differs
// from the input bytes.
std::string_view sort_key(const char* data, const LineTable& table, size_t i, char* scratch);

// The line numbers (from 0) in sorted order. The passes over equal keys run
// on 32-bit values when rank and place among equals fit in compact_bits
// (tests lower it to reach the 64-bit way on small inputs). With
// group_begins, also says which places of the order begin a run of equal keys.
using SortedLines = UninitVector<uint32_t>;
SortedLines sort_lines(const char* data, const LineTable& table, unsigned compact_bits = 32,
                       std::vector<bool>* group_begins = nullptr);

// Writes the lines in the given order to the sorted copy, each ending in a
// line feed.
void write_sorted(File& copy, const char* data, const LineTable& table, const SortedLines& order);

// Replays the Shell sort's gap passes over values whose rank is value >> shift,
// moving whole values by their rank only.
void shell_replay(UninitVector<uint64_t>& a, unsigned shift);
void shell_replay(UninitVector<uint32_t>& a, unsigned shift);

// Sorting stage: reads and closes the input, writes out/zelksort.dic and
// returns it opened for reading. Progress and warnings go to standard error;
// stats learns of long input lines and a byte order mark.
File sort_dic(File input, int chunksize, Stats& stats);

}  // namespace zelk
