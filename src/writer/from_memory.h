// Writing a database from chunks held in memory (split_lines), without work
// files: the chunks are compressed on every core unless stored plain, then
// the file is written front to back. Its bytes are those merge writes from
// the chunk files of the same chunks.
#pragma once

#include <cstdio>

#include "convert/settings.h"
#include "convert/split.h"
#include "toolkit/file.h"

namespace zelk {

// Writes the database of index (whose text holds the chunks) to out and
// closes it; each entry's size becomes its stored record's. Stops with the
// converter's messages: "Error: Too big Index Record...\nABORTED\n" without
// settings.allow_large_index, "Error: Record %d too big ..." for a compressed
// chunk of more than 65535 bytes, "Error: Database too big: ..." when a record
// would start past what the record list's 32-bit offsets can state; all of
// them before anything is written. With progress, says "compressing n of N
// chunks" there, on one line rewritten in place.
void write_from_memory(File& out, const Settings& settings, ChunkIndex& index, std::FILE* progress);

}  // namespace zelk
