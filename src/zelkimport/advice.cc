#include "zelkimport/advice.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "convert/entry.h"
#include "convert/split.h"

namespace zelk::import {

namespace {

constexpr uint32_t kWhole = UINT32_MAX;  // a line that no other K changes

// What every K tried shares: each line's key length, and which lines are
// those of an entry laid out anew.
struct Reimport {
  const Sink& sink;
  std::string_view text;
  const Layout& layout;
  std::vector<uint32_t> key_lengths;  // per line of text
  std::vector<uint32_t> reflowed_at;  // per line: its entry in sink.reflowed, or kWhole
  bool reordered = false;             // a key shortened below the sorted bytes: the order moves
  Sink scratch;                       // where an entry is written again

  Reimport(const Sink& s, std::string_view t, const Layout& l)
      : sink(s), text(t), layout(l), scratch(s.options) {
    scratch.messages = nullptr;
    scratch.keep_reflowed = false;
    const auto& starts = layout.table.starts;
    size_t lines = starts.size() - 1;
    key_lengths.resize(lines);
    for (size_t i = 0; i < lines; ++i) {
      std::string_view line = text.substr(starts[i], starts[i + 1] - starts[i]);
      key_lengths[i] = static_cast<uint32_t>(line.find('\t'));
    }
    reflowed_at.assign(sink.reflowed.empty() ? 0 : lines, kWhole);
    for (size_t r = 0; r < sink.reflowed.size(); ++r) {
      const Reflowed& e = sink.reflowed[r];
      for (long i = 0; i < e.lines; ++i) {
        reflowed_at[static_cast<size_t>(e.first_line + i)] = static_cast<uint32_t>(r);
      }
      auto first = static_cast<size_t>(e.first_line);
      reordered = reordered || (e.key_shortened && key_lengths[first] < kMaxSortKey);
    }
  }
};

// The lines entry r gives at K, in scratch.out.
void write_again(Reimport& m, size_t r, int chunksize) {
  static const std::string kAgain = "(written again)";
  const Reflowed& e = m.sink.reflowed[r];
  m.scratch.out.clear();
  write_entry(m.scratch, e.key, e.value, Where{&kAgain, e.first_line + 1, true}, chunksize);
}

// The longest start of text, in bytes, that ends at a character boundary
// and is at most room bytes long (what write_entry fits in UTF-8).
size_t fitting(std::string_view text, size_t start, size_t room) {
  size_t n = std::min(room, text.size() - start);
  while (n > 0 && start + n < text.size() &&
         (static_cast<unsigned char>(text[start + n]) & 0xC0) == 0x80) {
    --n;
  }
  return n;
}

// The lines entry r gives at K, measured without writing them (in UTF-8,
// each piece where its cuts say): what write_again and measure_lines give,
// but in time for the pieces, not for the text. False when the output is in
// another set, where the pieces must be converted to be measured.
bool measure_again(Reimport& m, size_t r, int chunksize, ChunkIndex& measured) {
  if (is_open(m.sink.to_output) || m.sink.options.long_definitions != Long::kSplit) return false;
  const Reflowed& e = m.sink.reflowed[r];
  const auto line_room = static_cast<size_t>(line_cap(chunksize).kept);
  const size_t key = fitting(e.key, 0, (line_room - 1) / 2), room = line_room - 1 - key;
  auto line = [&](size_t bytes) {
    measured.line_lengths.push_back(static_cast<uint32_t>(key + 1 + bytes + 1));
    measured.key_lengths.push_back(static_cast<uint32_t>(key));
  };
  std::string_view value = e.value;
  if (value.size() <= room) {
    line(value.size());
    return true;
  }
  for (size_t start = 0; start < value.size();) {
    size_t n = fitting(value, start, room), next = start + n;
    if (start + n < value.size()) {
      size_t cut = n > 0 ? cut_at(e.cuts, value, start, n) : 0;
      if (cut == 0) die("no room for a character at -k %d", chunksize);
      n = cut;
      next = after_cut(value, start, cut);
    }
    line(n);
    start = next;
  }
  return true;
}

// Appends each line of lines (whole lines, each ending in a line feed) to measured.
void measure_lines(std::string_view lines, ChunkIndex& measured) {
  for (size_t at = 0; at < lines.size();) {
    size_t end = lines.find('\n', at) + 1;
    measured.line_lengths.push_back(static_cast<uint32_t>(end - at));
    measured.key_lengths.push_back(static_cast<uint32_t>(lines.find('\t', at) - at));
    at = end;
  }
}

// The index record's size at K, the order of the lines being the one at
// the import's K with each entry laid out anew in its place.
size_t size_in_place(Reimport& m, int chunksize) {
  ChunkIndex measured;
  const auto& starts = m.layout.table.starts;
  measured.line_lengths.reserve(m.layout.sorted.size());
  measured.key_lengths.reserve(m.layout.sorted.size());
  for (uint32_t i : m.layout.sorted) {
    uint32_t r = m.reflowed_at.empty() ? kWhole : m.reflowed_at[i];
    if (r == kWhole) {
      measured.line_lengths.push_back(static_cast<uint32_t>(starts[i + 1] - starts[i]));
      measured.key_lengths.push_back(m.key_lengths[i]);
    } else if (static_cast<long>(i) == m.sink.reflowed[r].first_line &&
               !measure_again(m, r, chunksize, measured)) {
      write_again(m, r, chunksize);
      measure_lines(view(m.scratch.out), measured);
    }
  }
  size_t chunks;
  return index_size_at(measured, chunksize, &chunks);
}

// The same when a key comes out longer at K and may sort elsewhere: the
// whole text written again and sorted.
size_t size_resorted(Reimport& m, int chunksize) {
  const auto& starts = m.layout.table.starts;
  Bytes text;
  for (size_t i = 0; i + 1 < starts.size(); ++i) {
    uint32_t r = m.reflowed_at.empty() ? kWhole : m.reflowed_at[i];
    if (r == kWhole) {
      text.insert(text.end(), m.text.begin() + static_cast<long>(starts[i]),
                  m.text.begin() + static_cast<long>(starts[i + 1]));
    } else if (static_cast<long>(i) == m.sink.reflowed[r].first_line) {
      write_again(m, r, chunksize);
      text.insert(text.end(), m.scratch.out.begin(), m.scratch.out.end());
    }
  }
  Layout again = lay_out(view(text), chunksize);
  Stats stats;
  ChunkIndex index;
  plan_chunks(view(text), again.table.starts, again.sorted, chunksize, stats, index);
  return index_record_size(index.entries);
}

size_t size_at(Reimport& m, int chunksize) {
  try {
    return m.reordered ? size_resorted(m, chunksize) : size_in_place(m, chunksize);
  } catch (const Fatal&) {
    return SIZE_MAX;  // an entry that does not go at this K
  }
}

}  // namespace

size_t index_size_reimported(const Sink& sink, std::string_view text, const Layout& layout,
                             int chunksize) {
  Reimport m(sink, text, layout);
  return size_at(m, chunksize);
}

size_t index_size_without_forms(const Sink& sink, std::string_view text, const Layout& layout,
                                int chunksize) {
  ChunkIndex measured;
  const auto& starts = layout.table.starts;
  for (uint32_t i : layout.sorted) {
    if (static_cast<long>(i) >= sink.first_form_line) continue;
    std::string_view line = text.substr(starts[i], starts[i + 1] - starts[i]);
    measured.line_lengths.push_back(static_cast<uint32_t>(line.size()));
    measured.key_lengths.push_back(static_cast<uint32_t>(line.find('\t')));
  }
  size_t chunks;
  return index_size_at(measured, chunksize, &chunks);
}

int advised_chunksize(const Sink& sink, std::string_view text, const Layout& layout,
                      int chunksize) {
  Reimport m(sink, text, layout);
  return least_chunksize_for_small_index(chunksize, [&](int k) { return size_at(m, k); });
}

}  // namespace zelk::import
