#include "zelkimport/check.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string_view>
#include <vector>

#include "convert/entry.h"
#include "convert/settings.h"
#include "convert/sort.h"
#include "convert/split.h"
#include "text/lines.h"
#include "text/utf8.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "zelkimport/pdb_output.h"
#include "zelkimport/sink.h"

namespace zelk::import {

namespace {

// The key of a line as the entry syntax has it: bytes before the first tab or
// " /// "; has_separator tells whether one was found.
std::string_view line_key(std::string_view line, bool* has_separator) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t' ||
        (line[i] == ' ' && line.substr(i, kSeparatorLength) == std::string_view(kSeparator))) {
      *has_separator = true;
      return line.substr(0, i);
    }
  }
  *has_separator = false;
  return line;
}

// Runs the chunking stage in memory over the sorted lines, counting chunks
// and measuring the index record; sorts first when no order is given.
void count_chunks(const char* data, size_t size, int chunksize, const Sorted* sorted,
                  TextSummary& s) {
  LineTable scanned;
  SortedLines sorting;
  if (!sorted) scanned = scan_lines(data, size, chunksize, nullptr);
  const LineTable& table = sorted ? *sorted->table : scanned;
  s.long_input_lines = table.long_lines;
  if (table.nul_line) {
    s.refusal = "Error: NUL byte in line " + std::to_string(table.nul_line) + " of input file.";
    return;
  }
  if (!sorted) sorting = sort_lines(data, table);
  const SortedLines& order = sorted ? *sorted->order : sorting;
  Stats stats;
  ChunkIndex index;
  try {
    plan_chunks(std::string_view(data, size), table.starts, order, chunksize, stats, index);
    s.chunks = index.suffix;
    s.cut_lines = stats.cut_lines;
    s.longest_cut = stats.longest_cut;
    s.index_size = index_record_size(index.entries);
    check_chunk_count(index);
  } catch (const Fatal& fatal) {  // the converter's message, without its line feed
    s.refusal = fatal.message;
    if (!s.refusal.empty() && s.refusal.back() == '\n') s.refusal.pop_back();
    return;
  }
  // The least -k from K on that keeps the index record in main memory, and
  // the -k that packs every line whole with it (the same when none is cut).
  std::string_view text(data, size);
  int small_k = s.index_size > kMaxRecordSize
                    ? chunksize_for_small_index(text, table.starts, order, chunksize)
                    : chunksize;
  if (s.index_size > kMaxRecordSize) {
    s.refusal = "Error: Too big Index Record... ABORTED";
    s.small_index_k = small_k;
  }
  s.whole_k = s.cut_lines ? static_cast<int>(chunksize_keeping(static_cast<size_t>(s.longest_cut)))
                          : chunksize;
  if (s.long_input_lines || s.whole_k > kMaxChunkSize) {
    s.whole_k = 0;
  } else if (int k = s.whole_k == chunksize
                         ? small_k
                         : chunksize_for_small_index(text, table.starts, order, s.whole_k)) {
    s.whole_k = k;
  } else {
    s.whole_needs_large = true;
  }
}

}  // namespace

namespace {

// Entries, repeated and long keys, lines without separator or with NULs.
// Repeated keys are found by sorting the keys' hashes: equal keys end up
// side by side, with no table to chase through memory.
void count_keys(std::string_view text, TextSummary& s) {
  struct Hashed {
    size_t hash;
    std::string_view key;
    bool operator<(const Hashed& o) const { return hash != o.hash ? hash < o.hash : key < o.key; }
  };
  std::vector<Hashed> keys;
  keys.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  const bool any_nul = text.find('\0') != std::string_view::npos;  // seldom: look once
  LineWalk walk{text};
  std::string_view line;
  while (next_line(walk, &line, false)) {
    if (any_nul && line.find('\0') != std::string_view::npos) ++s.nul_lines;
    if (line.empty()) continue;
    ++s.entries;
    bool has_separator;
    std::string_view key = line_key(line, &has_separator);
    if (!has_separator) ++s.no_separator;
    if (key.size() > kMaxSortKey) ++s.long_keys;
    keys.push_back({std::hash<std::string_view>{}(key), key});
  }
  std::sort(keys.begin(), keys.end());
  for (size_t i = 1; i < keys.size(); ++i) {
    if (keys[i].hash == keys[i - 1].hash && keys[i].key == keys[i - 1].key) ++s.repeated_keys;
  }
}

}  // namespace

TextSummary check_text(const char* data, size_t size, int chunksize, const Sorted* sorted) {
  TextSummary s;
  if (size == 0) data = "";  // an empty buffer may have no address at all
  std::string_view text(data, size);
  s.byte_order_mark = text.starts_with("\xEF\xBB\xBF");
  // The keys are counted on a thread of their own while the lines are
  // sorted and chunked here.
  TextSummary counted;
  std::future<void> keys = std::async(std::launch::async, count_keys, text, std::ref(counted));
  if (chunksize >= kMinChunkSize && chunksize <= kMaxChunkSize) {
    count_chunks(data, size, chunksize, sorted, s);
  } else {
    s.refusal = "Error: Chunk size " + std::to_string(chunksize) + " out of range (2..65535)";
  }
  keys.get();
  s.entries = counted.entries;
  s.nul_lines = counted.nul_lines;
  s.no_separator = counted.no_separator;
  s.long_keys = counted.long_keys;
  s.repeated_keys = counted.repeated_keys;
  return s;
}

namespace {

void row(std::FILE* out, const char* label, const std::string& value) {
  std::fprintf(out, "  %-30s %s\n", label, value.c_str());
}

std::string num(long n) { return std::to_string(n); }

}  // namespace

namespace {

// The import's own counts: what was written, left out, changed.
void print_import(std::FILE* out, const Sink& sink) {
  long skipped = 0;
  for (const auto& [reason, count] : sink.skipped) skipped += count;
  row(out, "entries written", num(sink.written));
  row(out, "entries skipped", num(skipped));
  for (const auto& [reason, count] : sink.skipped) {
    std::fprintf(out, "    %-28s %ld\n", reason.c_str(), count);
  }
  row(out, "keys repaired", num(sink.repaired));
  row(out, "keys shortened", num(sink.shortened));
  if (sink.options.long_definitions == Long::kCut) {
    row(out, "definitions cut", num(sink.cut));
  } else {
    row(out, "definitions continued", num(sink.continued) + " (in further entries of their key)");
  }
  if (sink.invalid) {
    row(out, sink.invalid_lines ? "lines with bytes replaced" : "entries with bytes replaced",
        num(sink.invalid));
  }
  if (sink.options.translit) {
    row(out, "characters transliterated", num(sink.unmappable.transliterated));
  }
  if (sink.options.translit || !sink.options.replace.empty()) {
    row(out, "characters replaced", num(sink.unmappable.replaced));
  }
  if (sink.form_entries) {
    row(out, "forms",
        num(sink.form_entries) + " of " + num(sink.form_headwords) + " headword" +
            (sink.form_headwords == 1 ? "" : "s") + ", " + num(static_cast<long>(sink.form_bytes)) +
            " bytes");
  }
  for (size_t i = 0; i < sink.forms_from.size(); ++i) {
    if (sink.forms_from.size() > 1 && sink.forms_from[i]) {
      std::fprintf(out, "    %-28s %ld\n", ("from " + sink.form_sources[i]).c_str(),
                   sink.forms_from[i]);
    }
  }
  if (sink.forms_unknown || !sink.forms_left_out.empty()) {
    std::fprintf(out, "  forms left out:\n");
  }
  if (sink.forms_unknown) {
    std::fprintf(out, "    %-28s %ld\n", "of no headword", sink.forms_unknown);
  }
  for (const auto& [kind, count] : sink.forms_left_out) {
    std::fprintf(out, "    %-28s %ld\n", kind.c_str(), count);
  }
  if (!sink.counted.empty()) std::fprintf(out, "  counted in the source:\n");
  for (const auto& [what, count] : sink.counted) {
    std::fprintf(out, "    %-28s %ld\n", what.c_str(), count);
  }
}

// A word for the shell, quoted when it needs to be: in single quotes when
// it is UTF-8 text, else in $'...' with the bytes escaped.
std::string shell_word(const std::string& word) {
  bool plain = !word.empty();
  for (unsigned char ch : word)
    plain = plain && (std::isalnum(ch) || std::strchr("._-/+,:=@%", ch));
  if (plain) return word;
  bool text = is_utf8(word);
  for (unsigned char ch : word) text = text && ch >= ' ' && ch != 0x7F;
  if (text) {
    std::string quoted = "'";
    for (char ch : word) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return quoted + "'";
  }
  std::string quoted = "$'";
  for (unsigned char ch : word) {
    if (ch >= ' ' && ch < 0x7F && ch != '\'' && ch != '\\') {
      quoted += static_cast<char>(ch);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      quoted += hex;
    }
  }
  return quoted + "'";
}

// The zelkpack command that packs the text whole, or why none does.
void print_whole(std::FILE* out, const std::string& name, const TextSummary& s) {
  if (s.whole_k == 0) {
    std::fprintf(out, "zelkpack cannot pack %s whole: %s\n", name.c_str(),
                 s.long_input_lines ? "it has lines over 65535 bytes"
                                    : "its longest line needs more than -k 65535");
    return;
  }
  std::string n = s.name.empty() ? "" : " -n " + shell_word(s.name);
  std::fprintf(out, "To pack it whole: zelkpack%s -k %d%s %s\n", n.c_str(), s.whole_k,
               s.whole_needs_large ? " -l" : "", shell_word(name).c_str());
  if (s.whole_needs_large) {
    std::fprintf(out,
                 "  (-l: its index record is over 65535 bytes at any -k; the database must go "
                 "on a memory card)\n");
  }
}

}  // namespace

std::string index_advice(size_t index_size, int small_index_k) {
  std::string text = num(static_cast<long>(index_size)) + " bytes";
  if (index_size <= kMaxRecordSize) return text + " of at most 65535";
  text += ", over 65535: the database must go on a memory card (-l); ";
  return text + (small_index_k ? "-k " + num(small_index_k) + " keeps it in main memory"
                               : "no -k keeps it in main memory");
}

bool print_summary(std::FILE* out, const std::string& name, const TextSummary& s, int chunksize,
                   const Sink* sink, const std::string& packed) {
  std::fprintf(out, "zelkimport: %s at -k %d:\n", name.c_str(), chunksize);
  if (sink) {
    print_import(out, *sink);
  } else {
    row(out, "entries", num(s.entries));
  }
  row(out, "repeated keys", num(s.repeated_keys));
  row(out, "keys over 127 bytes", num(s.long_keys));
  if (packed.empty()) {
    std::string cut = num(s.cut_lines);
    if (s.cut_lines) cut += ", the longest " + num(s.longest_cut) + " bytes";
    std::string cut_label = "lines cut (over " + num(line_cap(chunksize).kept) + " bytes)";
    row(out, cut_label.c_str(), cut);
    row(out, "lines over 65535 bytes", num(s.long_input_lines));
    row(out, "byte order mark", s.byte_order_mark ? "yes (kept in the first key)" : "no");
    row(out, "lines without separator", num(s.no_separator));
    row(out, "lines with NUL bytes", num(s.nul_lines));
  }
  bool sized = s.refusal.empty() || s.index_size > kMaxRecordSize;
  row(out, "chunks", sized ? num(s.chunks) + " of at most " + num(kMaxChunks) : "-");
  if (sized) row(out, "index record", index_advice(s.index_size, s.small_index_k));
  if (sized && s.index_size > kMaxRecordSize && s.index_without_forms &&
      s.index_without_forms <= kMaxRecordSize) {
    row(out, "  without the forms",
        num(static_cast<long>(s.index_without_forms)) + " bytes: the forms push it over 65535");
  }
  if (!packed.empty()) {
    if (!s.found.empty()) row(out, "looked up", s.found);
    std::fprintf(out, "Written: %s\n", packed.c_str());
    return true;
  }
  bool whole = s.refusal.empty() && s.cut_lines == 0 && s.long_input_lines == 0;
  if (!s.refusal.empty()) row(out, "zelkpack would stop:", s.refusal);
  if (s.chunks > 0 && name != "standard output") print_whole(out, name, s);
  return whole;
}

}  // namespace zelk::import
