// Laying the import's lines out for the converter. Its sort leaves lines with
// equal keys in an order that depends only on the keys and the lines'
// places, not on the definitions; so the definitions of a repeated key can
// be dealt to that key's places such that the sort hands them back in the
// order the source gave them.
#pragma once

#include "convert/sort.h"
#include "zelkimport/sink.h"

namespace zelk::import {

struct Layout {
  LineTable table;     // the lines of the text, as the converter reads them
  SortedLines order;   // the converter's order of the text as it stands
  SortedLines sorted;  // the same with each run of equal keys in source (line) order
  long repeated = 0;   // lines whose key (whole) an earlier line has
  long moved = 0;      // places where sorted differs from order
};

// The layout of text (lines in source order) at chunk budget K.
Layout lay_out(std::string_view text, int chunksize);

// The text rearranged so that the converter's sort takes its lines in the
// order layout.sorted gives: place order[j] holds line sorted[j]. table
// receives its lines (the sort's order of them is layout.order).
Bytes arranged_text(std::string_view text, const Layout& layout, LineTable& table);

}  // namespace zelk::import
