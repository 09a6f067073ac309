// zelkdump verify: everything a reader relies on, one line per problem.
#include <cstring>

#include "pdb/format.h"
#include "zelkdump/commands.h"

namespace zelk {

namespace {

constexpr uint32_t kFirstId = kFirstRecordId & 0xFFFFFF;  // below the attribute byte
constexpr unsigned char kAttributes = kFirstRecordId >> 24;

struct Checker {
  const Database& db;
  std::vector<Problem> found;
  size_t problems = 0, warnings = 0;

  void problem(long record, uint64_t offset, std::string text) {
    found.push_back({record, offset, std::move(text), false});
    ++problems;
  }
  void warning(long record, uint64_t offset, std::string text) {
    found.push_back({record, offset, std::move(text), true});
    ++warnings;
  }
};

std::string quoted(std::string_view s) { return "'" + escape(s) + "'"; }

void check_header_and_list(Checker& c) {
  const Database& db = c.db;
  if (db.bytes[31] != 0) c.problem(-1, 31, "database name is not NUL-terminated within 32 bytes");
  if (db.type != "Dict") c.problem(-1, 60, "type is " + quoted(db.type) + ", not 'Dict'");
  if (db.creator != "Zelk") c.problem(-1, 64, "creator is " + quoted(db.creator) + ", not 'Zelk'");
  if (db.record_count < 2) {
    c.problem(-1, 76, "record count " + std::to_string(db.record_count) + ": no chunk record");
  }
  uint64_t list_end = static_cast<uint64_t>(list_entry_offset(db.record_count));
  for (size_t r = 0; r < db.list.size(); ++r) {
    const ListEntry& e = db.list[r];
    uint64_t at = static_cast<uint64_t>(list_entry_offset(static_cast<long>(r)));
    long rec = static_cast<long>(r);
    if (e.attributes != kAttributes) c.problem(rec, at + 4, "attribute byte is not 0x40");
    if (e.id != kFirstId + r) c.problem(rec, at + 5, "unique id out of sequence");
    if (e.offset > db.size) c.problem(rec, at, "offset lies beyond the end of the file");
    if (r > 0 && e.offset < db.list[r - 1].offset)
      c.problem(rec, at, "offset below the previous record's");
  }
  if (list_end + 2 > db.size || db.bytes[list_end] != 0 || db.bytes[list_end + 1] != 0) {
    c.problem(-1, list_end, "the two NUL bytes after the record list are missing");
  }
  if (db.list[0].offset != static_cast<uint64_t>(record0_offset(db.record_count - 1))) {
    c.problem(0, db.list[0].offset, "index record does not follow the record list");
  }
}

void check_index(Checker& c) {
  const Database& db = c.db;
  uint64_t at = db.list[0].offset;
  const unsigned char* p = db.bytes + at;
  const uint16_t fixed[8] = {0, 1, db.chunk_count, db.flag, 0, 0, 0, 0};
  for (int w = 0; w < 8; ++w) {
    if (w == 2 || w == 3) continue;
    if ((p[2 * w] << 8 | p[2 * w + 1]) != fixed[w]) {
      c.problem(0, at + 2 * static_cast<uint64_t>(w),
                "index word " + std::to_string(w) + " is not " + std::to_string(fixed[w]));
    }
  }
  if (db.chunk_count + 1u != db.record_count) {
    c.problem(0, at + 4,
              "index record names " + std::to_string(db.chunk_count) + " chunks, the header " +
                  std::to_string(db.record_count) + " records");
  }
  if (db.flag > 1)
    c.problem(0, at + 6, "compression flag " + std::to_string(db.flag) + " is neither 0 nor 1");
  uint64_t size = kIndexFixedSize;
  for (const ChunkInfo& k : db.chunks) size += 2 + k.first.size() + 1 + k.last.size() + 1;
  uint64_t end = db.list.size() > 1 ? db.list[1].offset : db.size;
  if (end - at != size) {
    c.problem(0, at,
              "index record spans " + std::to_string(end - at) + " bytes, its keys " +
                  std::to_string(size));
  }
}

void check_key(Checker& c, long r, uint64_t at, std::string_view key) {
  if (key.size() >= 3 && std::memcmp(key.data(), "\xEF\xBB\xBF", 3) == 0) {
    c.warning(r, at, "key " + quoted(key) + " begins with a UTF-8 byte order mark");
  }
  if (key.find_first_of("\r\n") != std::string_view::npos) {
    c.warning(r, at, "key " + quoted(key) + " holds a line end");
  }
}

// Returns the number of entries of chunk r; remembers its last key in last.
size_t check_chunk(Checker& c, size_t r, std::string& last, bool& have_last) {
  const Database& db = c.db;
  long rec = static_cast<long>(r);
  uint64_t at = db.list[r].offset;
  const ChunkInfo& info = db.chunks[r - 1];
  Problem p;
  std::string_view record;
  if (!record_bytes(db, r, record, p)) {
    c.found.push_back(p);
    ++c.problems;
    return 0;
  }
  if (record.size() != info.size) {
    c.problem(rec, at,
              "record holds " + std::to_string(record.size()) + " bytes, its size entry says " +
                  std::to_string(info.size));
  }
  std::string text;
  if (db.flag > 1 || !chunk_text(db, r, text, p)) {
    if (db.flag <= 1) {
      c.found.push_back(p);
      ++c.problems;
    }
    return 0;
  }
  std::vector<Entry> entries;
  size_t bad_at = 0;
  if (!split_entries(text, entries, bad_at)) {
    c.problem(
        rec, at,
        "chunk text at offset " + std::to_string(bad_at) + " is not a key<TAB>value<LF> line");
  }
  if (entries.empty()) {
    c.problem(rec, at, "chunk holds no entry");
    return 0;
  }
  if (entries.front().key != info.first) {
    c.problem(
        rec, at,
        "first key " + quoted(entries.front().key) + ", the index says " + quoted(info.first));
  }
  if (entries.back().key != info.last) {
    c.problem(rec, at,
              "last key " + quoted(entries.back().key) + ", the index says " + quoted(info.last));
  }
  for (const Entry& e : entries) {
    if (have_last && compare_keys(last, e.key) > 0) {
      c.problem(rec, at, "key " + quoted(e.key) + " is out of order after " + quoted(last));
    }
    check_key(c, rec, at, e.key);
    last.assign(e.key);
    have_last = true;
  }
  return entries.size();
}

}  // namespace

int dump_verify(const DumpContext& cx, const Database& db) {
  Checker c{db, {}, 0, 0};
  check_header_and_list(c);
  check_index(c);
  size_t chunks = std::min<size_t>(db.chunk_count, db.list.size() - 1), entries = 0;
  std::string last;
  bool have_last = false;
  for (size_t r = 1; r <= chunks; ++r) entries += check_chunk(c, r, last, have_last);
  for (const Problem& p : c.found) {
    std::fprintf(cx.out, "%s%s: %s\n", p.warning ? "warning: " : "", where(p).c_str(),
                 p.text.c_str());
  }
  std::string w = c.warnings
                      ? ", " + std::to_string(c.warnings) + " warning" + (c.warnings > 1 ? "s" : "")
                      : "";
  if (c.problems == 0) {
    std::fprintf(cx.out, "%s: sound: %zu chunks, %zu entries%s\n", cx.file.c_str(), chunks, entries,
                 w.c_str());
    return 0;
  }
  std::fprintf(cx.out, "%s: damaged: %zu problem%s%s\n", cx.file.c_str(), c.problems,
               c.problems > 1 ? "s" : "", w.c_str());
  return 1;
}

}  // namespace zelk
