#include "zelkdump/commands.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "reader/verify.h"
#include "text/lines.h"
#include "text/utf8.h"
#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk {

namespace {

using Json = nlohmann::json;

void print_json(const DumpContext& cx, const Json& j) {
  std::string text = j.dump(2, ' ', false, Json::error_handler_t::replace);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), cx.out);
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

void print_problem(const DumpContext& cx, const Problem& p) {
  std::fprintf(cx.err, "zelkdump: %s: %s: %s\n", cx.file.c_str(), where(p).c_str(), p.text.c_str());
}

void print_problems(const DumpContext& cx, ChunkReader& reader) {
  for (const Problem& p : reader.problems) print_problem(cx, p);
  reader.problems.clear();
}

bool chunks_agree(const DumpContext& cx, const Database& db) {
  Problem p;
  if (chunk_count_ok(db, p)) return true;
  print_problem(cx, p);
  return false;
}

bool load_said(const DumpContext& cx, ChunkReader& reader, size_t r) {
  bool ok = load(reader, r);
  print_problems(cx, reader);
  return ok;
}

namespace {

// What info says of the chunks, read one after the other.
struct Totals {
  size_t stored = 0, text_bytes = 0, entries = 0, longest_key = 0, longest_value = 0;
  double ratio = 100.0;  // stored bytes in percent of the text's
};

Totals totals(const DumpContext& cx, ChunkReader& reader) {
  Totals t;
  for (size_t r = 1; r <= reader.db.chunk_count; ++r) {
    if (!load_said(cx, reader, r)) continue;
    t.stored += reader.record.size();
    t.text_bytes += reader.text.size();
    t.entries += reader.entries.size();
    for (const Entry& e : reader.entries) {
      t.longest_key = std::max(t.longest_key, e.key.size());
      t.longest_value = std::max(t.longest_value, e.value.size());
    }
  }
  if (t.text_bytes)
    t.ratio = 100.0 * static_cast<double>(t.stored) / static_cast<double>(t.text_bytes);
  return t;
}

void print_info_json(const DumpContext& cx, const Database& db, const Totals& t, size_t damaged) {
  print_json(cx, Json{{"file", cx.file},
                      {"name", shown_text(cx, db.name)},
                      {"type", db.type},
                      {"creator", db.creator},
                      {"created", header32(db, kCreationDateOffset)},
                      {"modified", header32(db, kModificationDateOffset)},
                      {"records", db.record_count},
                      {"chunks", db.chunk_count},
                      {"compressed", db.flag == 1},
                      {"index_record_bytes", db.index_size},
                      {"memory_card", db.index_size > kMaxRecordSize},
                      {"stored_bytes", t.stored},
                      {"text_bytes", t.text_bytes},
                      {"ratio", t.ratio},
                      {"entries", t.entries},
                      {"longest_key", t.longest_key},
                      {"longest_value", t.longest_value},
                      {"damaged_chunks", damaged},
                      {"charset", cx.charset.name},
                      {"charset_assumed", cx.charset.assumed}});
}

}  // namespace

bool dump_info(const DumpContext& cx, const Database& db) {
  if (!chunks_agree(cx, db)) return false;
  ChunkReader reader(db, cx.charset);
  Totals t = totals(cx, reader);
  if (cx.json) {
    print_info_json(cx, db, t, reader.damaged);
    return reader.damaged == 0;
  }
  uint32_t created = header32(db, kCreationDateOffset);
  uint32_t modified = header32(db, kModificationDateOffset);
  std::fprintf(cx.out, "name:          %s\n", escape(shown_text(cx, db.name)).c_str());
  std::fprintf(cx.out, "type:          %s\n", escape(db.type).c_str());
  std::fprintf(cx.out, "creator:       %s\n", escape(db.creator).c_str());
  std::fprintf(cx.out, "created:       0x%08x (%s)\n", created, palm_date(created).c_str());
  std::fprintf(cx.out, "modified:      0x%08x (%s)\n", modified, palm_date(modified).c_str());
  std::fprintf(cx.out, "records:       %u\n", db.record_count);
  std::fprintf(cx.out, "chunks:        %u\n", db.chunk_count);
  std::fprintf(cx.out, "compression:   %s\n", db.flag ? "zlib (flag 1)" : "none (flag 0)");
  std::fprintf(
      cx.out, "index record:  %llu bytes%s\n", static_cast<unsigned long long>(db.index_size),
      db.index_size > kMaxRecordSize ? " (over 65535: the database must go on a memory card)" : "");
  std::fprintf(cx.out, "stored bytes:  %zu\n", t.stored);
  std::fprintf(cx.out, "text bytes:    %zu\n", t.text_bytes);
  std::fprintf(cx.out, "ratio:         %.1f %%\n", t.ratio);
  std::fprintf(cx.out, "entries:       %zu\n", t.entries);
  std::fprintf(cx.out, "longest key:   %zu bytes\n", t.longest_key);
  std::fprintf(cx.out, "longest value: %zu bytes\n", t.longest_value);
  std::fprintf(cx.out, "charset:       %s%s\n", cx.charset.name.c_str(),
               !cx.charset.assumed ? ""
               : cx.charset.utf8   ? " (assumed: its keys are valid UTF-8)"
                                   : " (assumed: its keys are not UTF-8)");
  if (reader.damaged) {
    std::fprintf(cx.out, "damaged:       %s, not counted\n",
                 count(reader.damaged, "chunk", "chunks").c_str());
  }
  return reader.damaged == 0;
}

bool dump_list(const DumpContext& cx, const Database& db) {
  if (!chunks_agree(cx, db)) return false;
  ChunkReader reader(db, cx.charset);
  Json chunks = Json::array();
  for (size_t r = 1; r <= db.chunk_count; ++r) {
    bool ok = load_said(cx, reader, r);
    ChunkInfo c = chunk_info(db, r - 1);
    uint64_t end = record_end(db, r);
    uint64_t stored = end >= record_start(db, r) ? end - record_start(db, r) : 0;
    if (cx.json) {
      chunks.push_back({{"record", r},
                        {"offset", record_start(db, r)},
                        {"stored_bytes", stored},
                        {"text_bytes", ok ? Json(reader.text.size()) : Json()},
                        {"entries", ok ? Json(reader.entries.size()) : Json()},
                        {"first", c.first},
                        {"last", c.last}});
      continue;
    }
    std::fprintf(cx.out, "%zu\t%#x\t%llu\t%s\t%s\t%s\t%s\n", r, record_start(db, r),
                 static_cast<unsigned long long>(stored),
                 ok ? std::to_string(reader.text.size()).c_str() : "?",
                 ok ? std::to_string(reader.entries.size()).c_str() : "?",
                 escape(shown_text(cx, c.first)).c_str(), escape(shown_text(cx, c.last)).c_str());
  }
  if (cx.json) print_json(cx, Json{{"file", cx.file}, {"chunks", chunks}});
  return reader.damaged == 0;
}

bool dump_extract(const DumpContext& cx, const Database& db) {
  if (!chunks_agree(cx, db)) return false;
  ChunkReader reader(db, cx.charset);
  // The stored bytes, the text zelkpack took; converted only when asked.
  bool convert = !cx.charset.assumed && !cx.charset.utf8;
  for (size_t r = 1; r <= db.chunk_count; ++r) {
    if (!load_said(cx, reader, r)) continue;
    std::string text = convert ? to_utf8(cx.charset, as_text(reader.text)) : std::string();
    std::string_view out = convert ? std::string_view(text) : as_text(reader.text);
    std::fwrite(out.data(), 1, out.size(), cx.out);
  }
  return reader.damaged == 0;
}

bool dump_verify(const DumpContext& cx, const Database& db, const Problem* unopened) {
  Verdict v = verify(db, unopened);
  if (!cx.json) {
    std::string report = verify_report(cx.file, v);
    std::fwrite(report.data(), 1, report.size(), cx.out);
    return v.problems == 0;
  }
  Json found = Json::array();
  for (const Problem& p : v.found) {
    found.push_back({{"record", p.record < 0 ? Json() : Json(p.record)},
                     {"offset", p.offset},
                     {"warning", p.warning},
                     {"text", p.text}});
  }
  print_json(cx, Json{{"file", cx.file},
                      {"sound", v.problems == 0},
                      {"chunks", v.chunks},
                      {"entries", v.entries},
                      {"problems", v.problems},
                      {"warnings", v.warnings},
                      {"found", found}});
  return v.problems == 0;
}

bool check_words(const DumpContext& cx, const Database& db, const std::string& file) {
  UninitVector<char> text;
  try {
    read_whole_file(file, text);
  } catch (Fatal& fatal) {
    fatal.status = kStatusTrouble;  // a file that cannot be read
    throw;
  }
  ChunkReader reader(db, cx.charset);
  LineWalk walk{std::string_view(text.data(), text.size())};
  std::string_view line;
  size_t words = 0, missing = 0;
  while (next_line(walk, &line)) {
    if (line.empty()) continue;
    ++words;
    std::string stored, problem;
    if (to_stored(cx.charset, line, stored, problem) &&
        !search(reader, stored, Strategy::kExact, 0, 1).entries.empty()) {
      continue;
    }
    ++missing;
    std::fprintf(cx.out, "%s:%ld: '%s' not found\n", file.c_str(), walk.number,
                 escape_short(std::string(line)).c_str());
  }
  print_problems(cx, reader);
  if (missing == 0) {
    std::fprintf(cx.out, "%s: %s, all found\n", cx.file.c_str(),
                 count(words, "word", "words").c_str());
    return true;
  }
  std::fprintf(cx.out, "%s: %zu of %s not found\n", cx.file.c_str(), missing,
               count(words, "word", "words").c_str());
  return false;
}

namespace {

// "'x' is not a Dict/Zelk database (...)": what stops every command but verify.
[[noreturn]] void not_a_database(const DumpContext& cx, const Database& db, uint64_t size) {
  if (size < kHeaderSize) {
    die("'%s' is not a Dict/Zelk database (%s, shorter than a header)", cx.file.c_str(),
        count(size, "byte", "bytes").c_str());
  }
  die("'%s' is not a Dict/Zelk database (type '%s', creator '%s')", cx.file.c_str(),
      escape(db.type).c_str(), escape(db.creator).c_str());
}

}  // namespace

bool run_dump(const DumpContext& cx, const Request& request, int fd, uint64_t size) {
  const CommandSpec& command = *command_named(request.command);
  Database db;
  db.path = cx.file;
  Problem p;
  if (!read_header(fd, size, db, p) || (!command.damaged_too && !is_dictionary(db))) {
    if (command.damaged_too) return command.run(cx, db, request, &p);
    not_a_database(cx, db, size);
  }
  bool opened = open_database(db, p);
  // A lookup by key or prefix reads a few list entries; the rest walk them all.
  bool some = (request.command == "lookup" &&
               (request.strategy == "exact" || request.strategy == "prefix")) ||
              (request.command == "keys" && !request.keys.empty());
  if (opened && !some) load_list(db);
  if (!opened) {
    if (command.damaged_too) return command.run(cx, db, request, &p);
    print_problem(cx, p);
    return false;
  }
  DumpContext in_set = cx;
  if (request.charset.empty()) {
    in_set.charset = guess_charset(db);
  } else if (!charset_named(request.charset, in_set.charset)) {
    die_with(kStatusTrouble, "unknown character set '%s'", request.charset.c_str());
  }
  return command.run(in_set, db, request, nullptr);
}

const CommandSpec* command_named(const std::string& name) {
  for (const CommandSpec& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace zelk
