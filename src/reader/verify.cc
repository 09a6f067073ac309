#include "reader/verify.h"

#include <cstring>

#include "format/byteorder.h"
#include "text/utf8.h"

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
  void problem(const Problem& p) { problem(p.record, p.offset, p.text); }
  void warning(long record, uint64_t offset, std::string text) {
    found.push_back({record, offset, std::move(text), true});
    ++warnings;
  }
};

std::string in_quotes(std::string_view s) { return "'" + escape_short(s) + "'"; }

// Fields the converter always writes as zero; a reader takes anything else
// at its word (an app info block, read-only or backup attributes, ...).
void check_header(Checker& c) {
  const Database& db = c.db;
  if (db.header[kNameSize - 1] != 0) {
    c.problem(-1, kNameSize - 1,
              "database name is not NUL-terminated within " + std::to_string(kNameSize) + " bytes");
  }
  struct Field {
    const char* name;
    size_t offset;
    int bytes;
  };
  static const Field kZero[] = {{"attributes", kAttributesOffset, 2},
                                {"version", kVersionOffset, 2},
                                {"app info offset", kAppInfoOffset, 4},
                                {"sort info offset", kSortInfoOffset, 4},
                                {"next record list", kNextRecordListOffset, 4}};
  for (const Field& f : kZero) {
    uint32_t v = f.bytes == 2 ? header16(db, f.offset) : header32(db, f.offset);
    if (v != 0) {
      c.problem(-1, f.offset, std::string(f.name) + " is " + hex(v, f.bytes) + ", not 0");
    }
  }
  if (db.type != kType)
    c.problem(-1, kTypeOffset, "type is " + in_quotes(db.type) + ", not '" + kType + "'");
  if (db.creator != kCreator) {
    c.problem(-1, kCreatorOffset,
              "creator is " + in_quotes(db.creator) + ", not '" + kCreator + "'");
  }
}

void check_list(Checker& c) {
  const Database& db = c.db;
  if (db.record_count < 2) {
    c.problem(-1, kRecordCountOffset,
              "record count " + std::to_string(db.record_count) + ": no chunk record");
  }
  for (size_t r = 0; r < db.record_count; ++r) {
    ListEntry e = list_entry(db, r);
    uint64_t at = list_entry_offset(r);
    long rec = static_cast<long>(r);
    if (e.attributes != kAttributes) {
      c.problem(rec, at + kListAttributesField,
                "attribute byte is " + hex(e.attributes, 1) + ", not " + hex(kAttributes, 1));
    }
    if (e.id != kFirstId + r) c.problem(rec, at + kListIdField, "unique id out of sequence");
    if (e.offset > db.size) c.problem(rec, at, "offset lies beyond the end of the file");
    if (r > 0 && e.offset < record_start(db, r - 1)) {
      c.problem(rec, at, "offset below the previous record's");
    }
  }
  uint64_t list_end = list_entry_offset(db.record_count);
  unsigned char gap[kListGap] = {1, 1};
  if (list_end + kListGap <= db.size) {
    read_at(db, list_end, kListGap, gap);
  }
  if (gap[0] != 0 || gap[1] != 0) {
    c.problem(-1, list_end, "the two NUL bytes after the record list are missing");
  }
  if (record_start(db, 0) != record0_offset(db.record_count - 1u)) {
    c.problem(0, record_start(db, 0), "index record does not follow the record list");
  }
}

void check_index(Checker& c) {
  const Database& db = c.db;
  uint64_t at = record_start(db, 0);
  const unsigned char* p = db.index.get();
  // The words besides the chunk count and the flag are always 0, 1, 0, 0, 0, 0.
  for (size_t w = 0; w < kIndexFixedSize / 2; ++w) {
    size_t offset = 2 * w;
    if (offset == kIndexChunkCountOffset || offset == kIndexFlagOffset) continue;
    unsigned want = w == 1 ? 1 : 0;
    if (get_word(p + offset) != want) {
      c.problem(0, at + offset,
                "index word " + std::to_string(w) + " is not " + std::to_string(want));
    }
  }
  if (db.chunk_count + 1u != db.record_count) {
    c.problem(0, at + kIndexChunkCountOffset,
              "index record names " + count(db.chunk_count, "chunk", "chunks") + ", the header " +
                  count(db.record_count, "record", "records"));
  }
  if (db.flag > 1) {
    c.problem(0, at + kIndexFlagOffset,
              "compression flag " + std::to_string(db.flag) + " is neither 0 nor 1");
  }
  if (db.index_size != db.index_read) {
    c.problem(0, at,
              "index record spans " + count(db.index_size, "byte", "bytes") + ", its keys " +
                  std::to_string(db.index_read));
  }
  if (db.index_size > kMaxRecordSize) {
    c.warning(0, at,
              "index record of " + std::to_string(db.index_size) + " bytes is over " +
                  std::to_string(kMaxRecordSize) + ": the database must go on a memory card");
  }
}

void check_key(Checker& c, long r, uint64_t at, std::string_view key) {
  if (key.size() >= 3 && std::memcmp(key.data(), "\xEF\xBB\xBF", 3) == 0) {
    c.warning(r, at, "key " + in_quotes(key) + " begins with a UTF-8 byte order mark");
  }
  if (key.find_first_of("\r\n") != std::string_view::npos) {
    c.warning(r, at, "key " + in_quotes(key) + " holds a line end");
  }
}

// Returns the number of entries of chunk r; remembers its last key in last.
size_t check_chunk(Checker& c, size_t r, std::vector<unsigned char>& record,
                   std::vector<unsigned char>& text, std::string& last, bool& have_last) {
  const Database& db = c.db;
  long rec = static_cast<long>(r);
  uint64_t at = record_start(db, r);
  ChunkInfo info = chunk_info(db, r - 1);
  Problem p;
  if (!record_bytes(db, r, record, p)) {
    c.problem(p);
    return 0;
  }
  if (record.size() != info.size) {
    c.problem(rec, at,
              "record holds " + count(record.size(), "byte", "bytes") + ", its size entry says " +
                  std::to_string(info.size));
  }
  if (db.flag > 1) return 0;
  if (!chunk_text(db, r, record, text, p)) {
    c.problem(p);
    return 0;
  }
  std::vector<Entry> entries;
  size_t bad_at = 0;
  if (!split_entries(as_text(text), entries, bad_at)) {
    c.problem(
        rec, at,
        "chunk text at offset " + std::to_string(bad_at) + " is not a key<TAB>value<LF> line");
  }
  if (entries.empty()) {
    c.problem(rec, at, "chunk holds no entry");
    return 0;
  }
  if (entries.front().key != info.first) {
    c.problem(rec, at,
              "first key " + in_quotes(entries.front().key) + ", the index says " +
                  in_quotes(info.first));
  }
  if (entries.back().key != info.last) {
    c.problem(
        rec, at,
        "last key " + in_quotes(entries.back().key) + ", the index says " + in_quotes(info.last));
  }
  for (const Entry& e : entries) {
    if (have_last && compare_keys(last, e.key) > 0) {
      c.problem(rec, at, "key " + in_quotes(e.key) + " is out of order after " + in_quotes(last));
    }
    check_key(c, rec, at, e.key);
    last.assign(e.key);
    have_last = true;
  }
  return entries.size();
}

}  // namespace

Verdict verify(const Database& db, const Problem* unopened) {
  Checker c{db, {}, 0, 0};
  Verdict v;
  if (db.size >= kHeaderSize) check_header(c);
  if (unopened) {
    c.problem(*unopened);
  } else {
    check_list(c);
    check_index(c);
    v.chunks = std::min<size_t>(db.chunk_count, db.record_count - 1u);
    std::vector<unsigned char> record;
    std::vector<unsigned char> text;
    std::string last;
    bool have_last = false;
    for (size_t r = 1; r <= v.chunks; ++r) {
      v.entries += check_chunk(c, r, record, text, last, have_last);
    }
  }
  v.found = std::move(c.found);
  v.problems = c.problems;
  v.warnings = c.warnings;
  return v;
}

std::string verify_report(const std::string& file, const Verdict& v) {
  std::string text;
  for (const Problem& p : v.found) {
    text += (p.warning ? "warning: " : "") + where(p) + ": " + p.text + "\n";
  }
  std::string w = v.warnings ? ", " + count(v.warnings, "warning", "warnings") : "";
  if (v.problems == 0) {
    return text + file + ": sound: " + count(v.chunks, "chunk", "chunks") + ", " +
           count(v.entries, "entry", "entries") + w + "\n";
  }
  return text + file + ": damaged: " + count(v.problems, "problem", "problems") + w + "\n";
}

}  // namespace zelk
