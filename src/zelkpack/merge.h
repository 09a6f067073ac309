// zelkpack's last stage, the database from the chunk files: header and
// record list first, with room left for the index record; then one record
// per chunk (compressed first unless records are stored plain: see
// zelkpack/pool.h); last the index record, once the stored sizes are known.
#pragma once

#include "convert/settings.h"
#include "convert/split.h"
#include "toolkit/file.h"

namespace zelk {

// Writes the whole database to out and closes it. Each index entry's size
// becomes the size of its stored record. On a fatal error the file keeps
// everything written so far, with the record list patched for every record
// already written.
void merge(File& out, const Settings& settings, ChunkIndex& index);

}  // namespace zelk
