#include "reader/find.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "text/keys.h"

namespace zelk {

namespace {

constexpr size_t kSuggestions = 5;

// The first chunk from lo on (from 0) for which before() is false: the
// chunks for which it holds come first.
template <class Before>
size_t first_chunk_not(const Database& db, size_t lo, Before before) {
  size_t hi = chunks_indexed(db);
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (before(chunk_info(db, mid))) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Compares a key with the keys that begin with prefix, in the converter's
// order: 0 when the key's first bytes that decide its place begin with the
// prefix's.
int compare_to_prefix(std::string_view key, std::string_view prefix) {
  size_t n = std::min({key.size(), prefix.size(), kMaxSortKey});
  return compare_keys(key.substr(0, n), prefix);
}

}  // namespace

// Keys that share their first kMaxSortKey bytes may run across several chunks.
std::pair<size_t, size_t> chunks_holding(const Database& db, std::string_view key) {
  size_t lo =
      first_chunk_not(db, 0, [&](const ChunkInfo& c) { return compare_keys(c.last, key) < 0; });
  size_t hi =
      first_chunk_not(db, lo, [&](const ChunkInfo& c) { return compare_keys(c.first, key) <= 0; });
  return {lo, hi};
}

std::pair<size_t, size_t> chunks_with_prefix(const Database& db, std::string_view prefix) {
  size_t lo = first_chunk_not(
      db, 0, [&](const ChunkInfo& c) { return compare_to_prefix(c.last, prefix) < 0; });
  size_t hi = first_chunk_not(
      db, lo, [&](const ChunkInfo& c) { return compare_to_prefix(c.first, prefix) <= 0; });
  return {lo, hi};
}

bool starts_with(std::string_view key, std::string_view prefix) {
  return key.size() >= prefix.size() && std::memcmp(key.data(), prefix.data(), prefix.size()) == 0;
}

// A key as text, for comparing without case or by edit distance: the stored
// bytes when the set is UTF-8, else their conversion (into scratch).
std::string_view as_unicode(const Charset& charset, std::string_view key, std::string& scratch) {
  if (charset.utf8) return key;
  scratch = to_utf8(charset, key);
  return scratch;
}

namespace {

// Reads every chunk once and calls each entry's key to the test; matches[q]
// collects the entries that test says match query q.
template <class Test>
void scan(ChunkReader& reader, size_t queries, std::vector<std::vector<Match>>& matches,
          Test test) {
  matches.assign(queries, {});
  for (size_t r = 1; r <= reader.db.chunk_count; ++r) {
    if (!load(reader, r)) continue;
    for (size_t i = 0; i < reader.entries.size(); ++i) {
      test(reader.entries[i].key, [&](size_t q) {
        matches[q].push_back({static_cast<uint32_t>(r), static_cast<uint32_t>(i)});
      });
    }
  }
}

// How many edits a suggestion may be away from a key of n characters.
size_t suggestion_limit(std::string_view key) {
  std::u32string chars;
  size_t n = decode_utf8(key, chars) ? chars.size() : key.size();
  return std::max<size_t>(1, std::min<size_t>(4, (n + 2) / 3));
}

struct Suggestion {
  size_t distance;
  std::string key;
};

// Up to five keys nearest to each missing key: by edit distance, then in
// dictionary order (a scan meets keys in that order, and a later key
// replaces an earlier one only when nearer).
std::vector<std::vector<Suggestion>> nearest(ChunkReader& reader,
                                             const std::vector<std::string>& missing) {
  std::vector<std::vector<Suggestion>> best(missing.size());
  const Charset& charset = reader.charset;
  std::vector<std::string> queries;  // the missing keys as text, folded as a reader types
  std::vector<size_t> limits;
  for (const std::string& key : missing) {
    std::string scratch;
    queries.push_back(search_folded(as_unicode(charset, key, scratch)));
    limits.push_back(suggestion_limit(queries.back()));
  }
  std::string previous, scratch;
  for (size_t r = 1; r <= reader.db.chunk_count; ++r) {
    if (!load(reader, r)) continue;
    for (const Entry& e : reader.entries) {
      if (e.key == previous) continue;  // a repeated key
      previous.assign(e.key);
      std::string text = search_folded(as_unicode(charset, e.key, scratch));
      for (size_t q = 0; q < missing.size(); ++q) {
        std::vector<Suggestion>& list = best[q];
        bool full = list.size() == kSuggestions;
        if (full && list.back().distance == 0) continue;
        size_t limit = full ? list.back().distance - 1 : limits[q];
        size_t d = edit_distance(queries[q], text, limit);
        if (d > limit) continue;
        if (std::any_of(list.begin(), list.end(),
                        [&](const Suggestion& s) { return s.key == e.key; })) {
          continue;
        }
        auto at = std::upper_bound(list.begin(), list.end(), d,
                                   [](size_t x, const Suggestion& s) { return x < s.distance; });
        list.insert(at, {d, std::string(e.key)});
        if (list.size() > kSuggestions) list.pop_back();
      }
    }
  }
  return best;
}

}  // namespace

std::vector<std::vector<Match>> scan_matches(ChunkReader& reader,
                                             const std::vector<std::string>& keys,
                                             Strategy strategy) {
  std::vector<std::vector<Match>> matches;
  const Charset& charset = reader.charset;
  std::string scratch;
  std::vector<std::string> texts;  // the keys as text
  for (const std::string& key : keys) texts.emplace_back(as_unicode(charset, key, scratch));
  if (strategy == Strategy::kNocase) {
    std::unordered_map<std::string, std::vector<size_t>> wanted;
    for (size_t q = 0; q < keys.size(); ++q) wanted[fold_case(texts[q])].push_back(q);
    scan(reader, keys.size(), matches, [&](std::string_view key, auto add) {
      auto it = wanted.find(fold_case(as_unicode(charset, key, scratch)));
      if (it != wanted.end()) {
        for (size_t q : it->second) add(q);
      }
    });
  } else {
    scan(reader, keys.size(), matches, [&](std::string_view key, auto add) {
      std::string_view text = as_unicode(charset, key, scratch);
      for (size_t q = 0; q < keys.size(); ++q) {
        if (edit_distance(texts[q], text, 1) <= 1) add(q);
      }
    });
  }
  return matches;
}

std::vector<std::vector<std::string>> nearest_keys(ChunkReader& reader,
                                                   const std::vector<std::string>& missing) {
  std::vector<std::vector<std::string>> keys(missing.size());
  std::vector<std::vector<Suggestion>> best = nearest(reader, missing);
  for (size_t q = 0; q < missing.size(); ++q) {
    for (Suggestion& s : best[q]) keys[q].push_back(std::move(s.key));
  }
  return keys;
}

SearchResult search(ChunkReader& reader, const std::string& query, Strategy strategy, size_t offset,
                    size_t limit) {
  SearchResult result;
  size_t seen = 0;
  auto take = [&](const Entry& e) {
    if (seen++ < offset) return true;
    if (result.entries.size() == limit) {
      result.more = true;
      return false;
    }
    result.entries.push_back({std::string(e.key), std::string(e.value)});
    return true;
  };
  auto walk = [&](std::pair<size_t, size_t> chunks, auto matches) {
    for (size_t c = chunks.first; c < chunks.second; ++c) {
      if (!load(reader, c + 1)) continue;
      for (const Entry& e : reader.entries) {
        if (matches(e.key) && !take(e)) return;
      }
    }
  };
  if (strategy == Strategy::kExact) {
    walk(chunks_holding(reader.db, query), [&](std::string_view k) { return k == query; });
  } else if (strategy == Strategy::kPrefix) {
    walk(chunks_with_prefix(reader.db, query),
         [&](std::string_view k) { return starts_with(k, query); });
  } else {
    std::vector<std::vector<Match>> matches = scan_matches(reader, {query}, strategy);
    for (const Match& m : matches[0]) {
      if (load(reader, m.chunk) && !take(reader.entries[m.entry])) break;
    }
  }
  return result;
}

namespace {

// Adds to page the keys (each once) that begin with prefix and pass the
// test, counting in seen the ones skipped for offset; false once the page is
// full and more follow.
template <class Test>
bool page_keys(ChunkReader& reader, const std::string& prefix, Test test, size_t offset,
               size_t limit, size_t& seen, KeyPage& page) {
  auto [lo, hi] = chunks_with_prefix(reader.db, prefix);
  std::unordered_set<std::string> run;  // keys sharing the current first 127 bytes
  std::string run_start;
  bool any = false;
  for (size_t c = lo; c < hi; ++c) {
    if (!load(reader, c + 1)) continue;
    for (const Entry& e : reader.entries) {
      if (!starts_with(e.key, prefix) || !test(e.key)) continue;
      if (!any || compare_keys(e.key, run_start) != 0) {
        run.clear();
        run_start.assign(e.key);
      }
      any = true;
      if (!run.insert(std::string(e.key)).second) continue;
      if (seen++ < offset) continue;
      if (page.keys.size() == limit) {
        page.more = true;
        return false;
      }
      page.keys.emplace_back(e.key);
    }
  }
  return true;
}

}  // namespace

KeyPage keys_page(ChunkReader& reader, const std::string& prefix, size_t offset, size_t limit) {
  KeyPage page;
  size_t seen = 0;
  page_keys(
      reader, prefix, [](std::string_view) { return true; }, offset, limit, seen, page);
  return page;
}

namespace {

// The stored beginnings of the keys that can match a prefix typed in UTF-8
// without case: its first character in each of its cases, in dictionary
// order; the prefix as it is when it is empty or not UTF-8.
std::vector<std::string> nocase_starts(const Charset& charset, const std::string& typed) {
  std::u32string chars;
  std::string stored, problem;
  if (typed.empty() || !decode_utf8(typed, chars)) {
    to_stored(charset, typed, stored, problem);  // bytes that are not UTF-8 stay as they are
    return {stored};
  }
  std::vector<std::string> starts;
  for (const std::string& variant : search_variants(chars[0])) {
    if (to_stored(charset, variant, stored, problem)) starts.push_back(stored);
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

}  // namespace

size_t chunks_for_nocase_prefix(const Database& db, const std::string& typed,
                                const Charset& charset) {
  size_t chunks = 0;
  for (const std::string& start : nocase_starts(charset, typed)) {
    auto [lo, hi] = chunks_with_prefix(db, start);
    chunks += hi - lo;
  }
  return chunks;
}

KeyPage keys_page_nocase(ChunkReader& reader, const std::string& typed, size_t offset,
                         size_t limit) {
  const Charset& charset = reader.charset;
  std::u32string chars;
  if (typed.empty() || !decode_utf8(typed, chars)) {
    return keys_page(reader, nocase_starts(charset, typed)[0], offset, limit);
  }
  // The keys that can match begin with the first character in one of its
  // cases: a range of chunks each, taken in dictionary order.
  std::vector<std::string> starts = nocase_starts(charset, typed);
  std::string folded = search_folded(typed), scratch;
  auto matches = [&](std::string_view key) {
    return search_folded(as_unicode(charset, key, scratch)).starts_with(folded);
  };
  KeyPage page;
  size_t seen = 0;
  for (const std::string& start : starts) {
    if (!page_keys(reader, start, matches, offset, limit, seen, page)) break;
  }
  return page;
}

std::vector<std::string> existing_keys(ChunkReader& reader, const std::vector<std::string>& keys) {
  std::vector<std::string> found;
  for (const std::string& key : keys) {
    auto [lo, hi] = chunks_holding(reader.db, key);
    bool here = false;
    for (size_t c = lo; c < hi && !here; ++c) {
      if (!load(reader, c + 1)) continue;
      for (const Entry& e : reader.entries) here = here || e.key == key;
    }
    if (here) found.push_back(key);
  }
  return found;
}

bool strategy_named(std::string_view name, Strategy& strategy) {
  static const std::pair<const char*, Strategy> kNames[] = {{"exact", Strategy::kExact},
                                                            {"prefix", Strategy::kPrefix},
                                                            {"nocase", Strategy::kNocase},
                                                            {"lev", Strategy::kLev}};
  for (const auto& [n, s] : kNames) {
    if (name == n) {
      strategy = s;
      return true;
    }
  }
  return false;
}

FoldedIndex make_folded_index(ChunkReader& reader) {
  FoldedIndex index;
  std::string scratch, previous;
  for (size_t r = 1; r <= reader.db.chunk_count; ++r) {
    if (!load(reader, r)) continue;
    for (size_t i = 0; i < reader.entries.size(); ++i) {
      std::string_view key = reader.entries[i].key;
      if (key == previous) continue;  // a repeated key
      previous.assign(key);
      uint64_t hash =
          std::hash<std::string>{}(search_folded(as_unicode(reader.charset, key, scratch)));
      index.keys.emplace_back(hash, static_cast<uint32_t>(r << 16 | i));
    }
  }
  std::sort(index.keys.begin(), index.keys.end());
  return index;
}

std::string folded_key(ChunkReader& reader, const FoldedIndex& index, const std::string& typed) {
  std::string folded = search_folded(typed), scratch;
  uint64_t hash = std::hash<std::string>{}(folded);
  auto it = std::lower_bound(index.keys.begin(), index.keys.end(), std::make_pair(hash, 0u));
  for (; it != index.keys.end() && it->first == hash; ++it) {
    if (!load(reader, it->second >> 16)) continue;
    std::string_view key = reader.entries[it->second & 0xFFFF].key;
    if (search_folded(as_unicode(reader.charset, key, scratch)) == folded) return std::string(key);
  }
  return {};
}

}  // namespace zelk
