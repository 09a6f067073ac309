// lookup and keys: the entries found by key, by prefix, without case and by
// edit distance printed as key<TAB>value lines, the nearest keys when a key
// is not found, and every key once.
#include <unordered_set>

#include "text/keys.h"
#include "text/utf8.h"
#include "zelkdump/commands.h"

namespace zelk {

namespace {

void print_entry(const DumpContext& cx, const Entry& e) {
  if (!cx.charset.utf8) {
    std::string line = to_utf8(cx.charset, e.key) + "\t" + to_utf8(cx.charset, e.value) + "\n";
    std::fwrite(line.data(), 1, line.size(), cx.out);
    return;
  }
  std::fwrite(e.key.data(), 1, e.key.size(), cx.out);
  std::fputc('\t', cx.out);
  std::fwrite(e.value.data(), 1, e.value.size(), cx.out);
  std::fputc('\n', cx.out);
}

void say_not_found(const DumpContext& cx, const std::string& key,
                   const std::vector<std::string>* suggestions) {
  std::fprintf(cx.err, "zelkdump: %s: '%s' not found", cx.file.c_str(),
               escape_short(shown_text(cx, key)).c_str());
  if (suggestions && !suggestions->empty()) {
    std::fputs("; did you mean: ", cx.err);
    for (size_t i = 0; i < suggestions->size(); ++i) {
      std::fprintf(cx.err, "%s'%s'", i ? ", " : "",
                   escape_short(shown_text(cx, (*suggestions)[i])).c_str());
    }
    std::fputc('?', cx.err);
  }
  std::fputc('\n', cx.err);
}

// Prints the entries of chunks [first, second) whose key passes the test;
// true when any did.
template <class Test>
bool print_matching(const DumpContext& cx, ChunkReader& reader, std::pair<size_t, size_t> chunks,
                    Test matches) {
  bool found = false;
  for (size_t c = chunks.first; c < chunks.second; ++c) {
    if (!load_said(cx, reader, c + 1)) continue;
    for (const Entry& e : reader.entries) {
      if (!matches(e.key)) continue;
      found = true;
      print_entry(cx, e);
    }
  }
  return found;
}

// A key not found as typed but as a reader types (without case and
// accents): says so and shows the entries of the keys found so; false when
// there is none.
bool show_folded(const DumpContext& cx, ChunkReader& reader, const std::string& key,
                 const std::vector<std::string>& nearest) {
  std::string scratch;
  std::string typed = search_folded(as_unicode(cx.charset, key, scratch));
  std::vector<std::string> same;
  for (const std::string& k : nearest) {
    if (search_folded(as_unicode(cx.charset, k, scratch)) == typed) same.push_back(k);
  }
  if (same.empty()) return false;
  std::fprintf(cx.err, "zelkdump: %s: '%s' not found; without case and accents:", cx.file.c_str(),
               escape_short(shown_text(cx, key)).c_str());
  for (size_t i = 0; i < same.size(); ++i) {
    std::fprintf(cx.err, "%s'%s'", i ? ", " : " ", escape_short(shown_text(cx, same[i])).c_str());
  }
  std::fputc('\n', cx.err);
  for (const std::string& k : same) {
    print_matching(cx, reader, chunks_holding(reader.db, k),
                   [&](std::string_view found) { return found == k; });
  }
  return true;
}

bool lookup_exact(const DumpContext& cx, ChunkReader& reader,
                  const std::vector<std::string>& keys) {
  std::vector<std::string> missing;
  for (const std::string& key : keys) {
    if (!print_matching(cx, reader, chunks_holding(reader.db, key),
                        [&](std::string_view k) { return k == key; })) {
      missing.push_back(key);
    }
  }
  if (missing.empty()) return reader.damaged == 0;
  std::vector<std::vector<std::string>> nearest = nearest_keys(reader, missing);
  print_problems(cx, reader);
  bool all = true;
  for (size_t q = 0; q < missing.size(); ++q) {
    if (!show_folded(cx, reader, missing[q], nearest[q])) {
      say_not_found(cx, missing[q], &nearest[q]);
      all = false;
    }
  }
  return all && reader.damaged == 0;
}

bool lookup_prefix(const DumpContext& cx, ChunkReader& reader,
                   const std::vector<std::string>& prefixes) {
  bool all = true;
  for (const std::string& prefix : prefixes) {
    if (!print_matching(cx, reader, chunks_with_prefix(reader.db, prefix),
                        [&](std::string_view k) { return starts_with(k, prefix); })) {
      std::fprintf(cx.err, "zelkdump: %s: no key begins with '%s'\n", cx.file.c_str(),
                   escape_short(shown_text(cx, prefix)).c_str());
      all = false;
    }
  }
  return all && reader.damaged == 0;
}

// nocase and lev read every chunk once for all keys, then print each key's
// matches in dictionary order.
bool lookup_scanning(const DumpContext& cx, ChunkReader& reader,
                     const std::vector<std::string>& keys, Strategy strategy) {
  std::vector<std::vector<Match>> matches = scan_matches(reader, keys, strategy);
  print_problems(cx, reader);
  bool all = true;
  for (size_t q = 0; q < keys.size(); ++q) {
    for (const Match& m : matches[q]) {
      if (load_said(cx, reader, m.chunk)) print_entry(cx, reader.entries[m.entry]);
    }
    if (matches[q].empty()) {
      say_not_found(cx, keys[q], nullptr);
      all = false;
    }
  }
  return all && reader.damaged == 0;
}

// The keys typed, in the database's set; a key that cannot be is named and
// left out (and all becomes false).
std::vector<std::string> stored_keys(const DumpContext& cx, const std::vector<std::string>& typed,
                                     bool& all) {
  std::vector<std::string> keys;
  for (const std::string& key : typed) {
    std::string stored, problem;
    if (to_stored(cx.charset, key, stored, problem)) {
      keys.push_back(stored);
      continue;
    }
    std::fprintf(cx.err, "zelkdump: %s: '%s': %s\n", cx.file.c_str(), escape_short(key).c_str(),
                 problem.c_str());
    all = false;
  }
  return keys;
}

}  // namespace

bool dump_lookup(const DumpContext& cx, const Database& db, const std::vector<std::string>& typed,
                 Strategy strategy) {
  if (!chunks_agree(cx, db)) return false;
  ChunkReader reader(db, cx.charset);
  bool all = true;
  std::vector<std::string> keys = stored_keys(cx, typed, all);
  if (keys.empty()) return all;
  switch (strategy) {
    case Strategy::kExact:
      return lookup_exact(cx, reader, keys) && all;
    case Strategy::kPrefix:
      return lookup_prefix(cx, reader, keys) && all;
    default:
      return lookup_scanning(cx, reader, keys, strategy) && all;
  }
}

bool dump_keys(const DumpContext& cx, const Database& db, const std::string* typed) {
  if (!chunks_agree(cx, db)) return false;
  ChunkReader reader(db, cx.charset);
  bool all = true;
  std::vector<std::string> stored =
      typed ? stored_keys(cx, {*typed}, all) : std::vector<std::string>();
  if (typed && stored.empty()) return all;
  const std::string* prefix = typed ? &stored[0] : nullptr;
  auto [lo, hi] =
      prefix ? chunks_with_prefix(db, *prefix) : std::pair<size_t, size_t>{0, db.chunk_count};
  // Repeats of a key stand next to each other, or at least among the keys
  // that share its first bytes that decide its place: those are remembered.
  std::unordered_set<std::string> run;
  std::string run_start;
  bool any = false;
  for (size_t c = lo; c < hi; ++c) {
    if (!load_said(cx, reader, c + 1)) continue;
    for (const Entry& e : reader.entries) {
      if (prefix && !starts_with(e.key, *prefix)) continue;
      if (!any || compare_keys(e.key, run_start) != 0) {
        run.clear();
        run_start.assign(e.key);
      }
      any = true;
      if (!run.insert(std::string(e.key)).second) continue;
      std::string line = escape(shown_text(cx, e.key)) + "\n";
      std::fwrite(line.data(), 1, line.size(), cx.out);
    }
  }
  if (prefix && !any) {
    std::fprintf(cx.err, "zelkdump: %s: no key begins with '%s'\n", cx.file.c_str(),
                 escape_short(shown_text(cx, *prefix)).c_str());
    return false;
  }
  return reader.damaged == 0;
}

}  // namespace zelk
