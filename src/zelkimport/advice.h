// The -k the summary advises when the index record is over 65535 bytes: the
// least -k from the import's own at which the same import, run again with
// that -k, gives an index record that fits. The import's lines are not those
// of another -k: an entry written in several lines, cut, or with its key
// shortened is laid out anew at each K tried (Sink::reflowed keeps them);
// every other line stays as it is, and so does the order, which depends only
// on the keys and the source's order.
#pragma once

#include <string_view>

#include "zelkimport/layout.h"
#include "zelkimport/sink.h"

namespace zelk::import {

// The index record's size when the import that wrote sink's text (laid out
// as layout says) is run at chunk budget K instead.
size_t index_size_reimported(const Sink& sink, std::string_view text, const Layout& layout,
                             int chunksize);

// The index record's size at K without the lines of the forms (those
// from sink.first_form_line on).
size_t index_size_without_forms(const Sink& sink, std::string_view text, const Layout& layout,
                                int chunksize);

// The -k from chunksize (the import's own) on whose index record fits in
// 65535 bytes, found by halving between chunksize and 65535 (and checked at
// the -k found); chunksize itself when it fits, 0 when no -k does.
int advised_chunksize(const Sink& sink, std::string_view text, const Layout& layout, int chunksize);

}  // namespace zelk::import
