#include "reader/chunks.h"

namespace zelk {

ChunkReader::ChunkReader(const Database& database, const Charset& set)
    : db(database), charset(set), met_damaged(chunks_indexed(database) + 1, false) {}

bool load(ChunkReader& reader, size_t r) {
  if (reader.loaded == r) return true;
  reader.loaded = 0;
  Problem p;
  size_t bad_at = 0;
  bool ok = chunk_text(reader.db, r, reader.record, reader.text, p);
  if (ok && !split_entries(as_text(reader.text), reader.entries, bad_at)) {
    ok = false;
    p = {static_cast<long>(r), record_start(reader.db, r),
         "chunk text at offset " + std::to_string(bad_at) + " is not a key<TAB>value<LF> line"};
  }
  if (!ok) {
    if (!reader.met_damaged[r]) {
      reader.met_damaged[r] = true;
      ++reader.damaged;
      reader.problems.push_back(std::move(p));
    }
    return false;
  }
  reader.loaded = r;
  return true;
}

bool chunk_count_ok(const Database& db, Problem& problem) {
  if (db.chunk_count + 1u == db.record_count) return true;
  problem = {0, record_start(db, 0),
             "index record names " + count(db.chunk_count, "chunk", "chunks") + ", the header " +
                 count(db.record_count, "record", "records")};
  return false;
}

}  // namespace zelk
