#include "zelkdump/commands.h"

#include <algorithm>

namespace zelk {

namespace {

int damaged(const DumpContext& cx, const Problem& p) {
  std::fprintf(cx.err, "zelkdump: %s: %s: %s\n", cx.file.c_str(), where(p).c_str(), p.text.c_str());
  return 1;
}

// The chunks a reader may use: as many as both the header and the index
// record name; a database where they disagree is refused.
bool chunk_count_ok(const DumpContext& cx, const Database& db) {
  if (db.chunk_count + 1u == db.record_count) return true;
  damaged(cx, {0, db.list[0].offset,
               "index record names " + std::to_string(db.chunk_count) + " chunks, the header " +
                   std::to_string(db.record_count) + " records"});
  return false;
}

// Reads chunk r: its stored bytes, its text and, unless entries is null, its
// entries. Reports a damaged chunk and returns false.
bool load_chunk(const DumpContext& cx, const Database& db, size_t r, std::string_view& record,
                std::string& text, std::vector<Entry>* entries) {
  Problem p;
  if (!record_bytes(db, r, record, p) || !chunk_text(db, r, text, p)) {
    damaged(cx, p);
    return false;
  }
  size_t bad_at;
  if (entries && !split_entries(text, *entries, bad_at)) {
    damaged(cx,
            {static_cast<long>(r), db.list[r].offset,
             "chunk line at text offset " + std::to_string(bad_at) + " is not key<TAB>value<LF>"});
    return false;
  }
  return true;
}

// Palm dates count seconds from 1904-01-01 00:00.
std::string palm_date(uint32_t seconds) {
  // Days since 1970-01-01 (24107 days after 1904-01-01), then the civil date
  // by the days-from-civil algorithm run backwards.
  long days = static_cast<long>(seconds / 86400) - 24107 + 719468;
  long era = (days >= 0 ? days : days - 146096) / 146097;
  long doe = days - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long d = doy - (153 * mp + 2) / 5 + 1;
  long m = mp < 10 ? mp + 3 : mp - 9;
  long y = yoe + era * 400 + (m <= 2);
  unsigned rest = seconds % 86400;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld %02u:%02u:%02u", y, m, d, rest / 3600,
                rest / 60 % 60, rest % 60);
  return buf;
}

}  // namespace

std::string where(const Problem& p) {
  char buf[80];
  if (p.record < 0) {
    std::snprintf(buf, sizeof buf, "header at offset %#llx",
                  static_cast<unsigned long long>(p.offset));
  } else {
    std::snprintf(buf, sizeof buf, "record %ld at offset %#llx", p.record,
                  static_cast<unsigned long long>(p.offset));
  }
  return buf;
}

int dump_info(const DumpContext& cx, const Database& db) {
  if (!chunk_count_ok(cx, db)) return 1;
  size_t stored = 0, text_bytes = 0, entries = 0, longest_key = 0, longest_value = 0;
  std::string text;
  std::vector<Entry> list;
  for (size_t r = 1; r <= db.chunk_count; ++r) {
    std::string_view record;
    if (!load_chunk(cx, db, r, record, text, &list)) return 1;
    stored += record.size();
    text_bytes += text.size();
    entries += list.size();
    for (const Entry& e : list) {
      longest_key = std::max(longest_key, e.key.size());
      longest_value = std::max(longest_value, e.value.size());
    }
  }
  size_t index_size =
      db.list.size() > 1 ? db.list[1].offset - db.list[0].offset : db.size - db.list[0].offset;
  std::fprintf(cx.out, "name:          %s\n", escape(db.name).c_str());
  std::fprintf(cx.out, "type:          %s\n", escape(db.type).c_str());
  std::fprintf(cx.out, "creator:       %s\n", escape(db.creator).c_str());
  std::fprintf(cx.out, "created:       0x%08x (%s)\n", db.created, palm_date(db.created).c_str());
  std::fprintf(cx.out, "modified:      0x%08x (%s)\n", db.modified, palm_date(db.modified).c_str());
  std::fprintf(cx.out, "records:       %u\n", db.record_count);
  std::fprintf(cx.out, "chunks:        %u\n", db.chunk_count);
  std::fprintf(cx.out, "compression:   %s\n", db.flag ? "zlib (flag 1)" : "none (flag 0)");
  std::fprintf(cx.out, "index record:  %zu bytes\n", index_size);
  std::fprintf(cx.out, "stored bytes:  %zu\n", stored);
  std::fprintf(cx.out, "text bytes:    %zu\n", text_bytes);
  std::fprintf(
      cx.out, "ratio:         %.1f %%\n",
      text_bytes ? 100.0 * static_cast<double>(stored) / static_cast<double>(text_bytes) : 100.0);
  std::fprintf(cx.out, "entries:       %zu\n", entries);
  std::fprintf(cx.out, "longest key:   %zu bytes\n", longest_key);
  std::fprintf(cx.out, "longest value: %zu bytes\n", longest_value);
  return 0;
}

int dump_list(const DumpContext& cx, const Database& db) {
  if (!chunk_count_ok(cx, db)) return 1;
  std::string text;
  std::vector<Entry> list;
  for (size_t r = 1; r <= db.chunk_count; ++r) {
    std::string_view record;
    if (!load_chunk(cx, db, r, record, text, nullptr)) return 1;
    size_t bad_at;
    bool ok = split_entries(text, list, bad_at);  // a damaged chunk still gets its line
    const ChunkInfo& c = db.chunks[r - 1];
    std::fprintf(cx.out, "%zu\t%#x\t%zu\t%zu\t%s\t%s\t%s\n", r, db.list[r].offset, record.size(),
                 text.size(), ok ? std::to_string(list.size()).c_str() : "?",
                 escape(c.first).c_str(), escape(c.last).c_str());
  }
  return 0;
}

int dump_lookup(const DumpContext& cx, const Database& db, const std::vector<std::string>& keys) {
  if (!chunk_count_ok(cx, db)) return 1;
  int status = 0;
  std::string text;
  std::vector<Entry> list;
  for (const std::string& key : keys) {
    // Chunks whose key range holds the key form one run in chunk order.
    auto lo = std::partition_point(db.chunks.begin(), db.chunks.end(), [&](const ChunkInfo& c) {
      return compare_keys(c.last, key) < 0;
    });
    auto hi = std::partition_point(
        lo, db.chunks.end(), [&](const ChunkInfo& c) { return compare_keys(c.first, key) <= 0; });
    bool found = false;
    for (auto it = lo; it != hi; ++it) {
      size_t r = static_cast<size_t>(it - db.chunks.begin()) + 1;
      std::string_view record;
      if (!load_chunk(cx, db, r, record, text, &list)) return 1;
      for (const Entry& e : list) {
        if (e.key != key) continue;
        found = true;
        std::fwrite(e.key.data(), 1, e.key.size(), cx.out);
        std::fputc('\t', cx.out);
        std::fwrite(e.value.data(), 1, e.value.size(), cx.out);
        std::fputc('\n', cx.out);
      }
    }
    if (!found) {
      std::fprintf(cx.err, "zelkdump: %s: '%s' not found\n", cx.file.c_str(), escape(key).c_str());
      status = 1;
    }
  }
  return status;
}

int dump_extract(const DumpContext& cx, const Database& db) {
  if (!chunk_count_ok(cx, db)) return 1;
  std::string text;
  for (size_t r = 1; r <= db.chunk_count; ++r) {
    std::string_view record;
    if (!load_chunk(cx, db, r, record, text, nullptr)) return 1;
    std::fwrite(text.data(), 1, text.size(), cx.out);
  }
  return 0;
}

int run_dump(const DumpContext& cx, const std::string& command,
             const std::vector<std::string>& keys, const unsigned char* data, size_t size) {
  Database db;
  Problem p;
  if (!open_database(data, size, db, p)) {
    if (command == "verify") {
      std::fprintf(cx.out, "%s: %s\n%s: damaged: 1 problem\n", where(p).c_str(), p.text.c_str(),
                   cx.file.c_str());
      return 1;
    }
    return damaged(cx, p);
  }
  if (command == "info") return dump_info(cx, db);
  if (command == "list") return dump_list(cx, db);
  if (command == "lookup") return dump_lookup(cx, db, keys);
  if (command == "extract") return dump_extract(cx, db);
  return dump_verify(cx, db);
}

}  // namespace zelk
