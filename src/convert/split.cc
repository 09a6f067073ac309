#include "convert/split.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "convert/entry.h"
#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk {

namespace {

struct Chunker {
  const Settings& settings;
  LineCap cap;
  Stats& stats;
  ChunkIndex& index;
  std::vector<char> iobuf;  // the chunk file's stdio buffer; outlives chunk
  File chunk;               // the chunk being filled (none when only counting)
  bool open = false;        // a chunk is being filled
  bool in_memory = false;   // chunks go to index.text
  unsigned bytes = 0;       // bytes written to it
  std::string first_key;
  std::string last_key;
};

void enter_key(Chunker& c, const std::string& first, const std::string& last, long size) {
  c.index.entries.push_back(IndexEntry{first, last, static_cast<size_t>(size)});
  if (c.settings.debug) {
    std::printf("enter_key('%s', '%s', %4ld)\n", first.c_str(), last.c_str(), size);
  }
}

void open_chunk(Chunker& c) {
  c.open = true;
  if (!c.settings.write_chunks || c.in_memory) {
    ++c.index.suffix;
    return;
  }
  std::string path = chunk_path(c.index.suffix, "txt");
  c.chunk = open_file(path, "wb");
  if (!c.chunk.f) die("Can not open '%s' for write\n", path.c_str());
  std::setvbuf(c.chunk.f, c.iobuf.data(), _IOFBF, c.iobuf.size());
  ++c.index.suffix;
}

void emit(Chunker& c, std::string_view key, std::string_view value) {
  ++c.stats.total_words;
  if (!c.open) {
    open_chunk(c);
    c.first_key = key;
  }
  long len = static_cast<long>(key.size() + value.size() + 2);
  long budget = c.cap.chunksize;
  if (len > budget) {
    die("Error: Too Long (%ld chars) Lines in input file (line %ld).\n", len, c.stats.current_line);
  }
  if (c.bytes + static_cast<unsigned long>(len) > static_cast<unsigned long>(budget)) {
    long size = c.bytes;
    if (c.chunk.f) close_file(c.chunk);
    enter_key(c, c.first_key, c.last_key, size);
    c.first_key = key;
    open_chunk(c);
    c.bytes = 0;
  }
  if (c.index.measure) {
    c.index.line_lengths.push_back(static_cast<uint32_t>(len));
    c.index.key_lengths.push_back(static_cast<uint32_t>(key.size()));
  }
  if (c.in_memory && c.settings.write_chunks) {
    UninitVector<char>& t = c.index.text;
    size_t at = t.size();
    t.resize(at + static_cast<size_t>(len));
    std::memcpy(t.data() + at, key.data(), key.size());
    t[at + key.size()] = '\t';
    std::memcpy(t.data() + at + key.size() + 1, value.data(), value.size());
    t[at + static_cast<size_t>(len) - 1] = '\n';
  } else if (c.chunk.f) {
    write_bytes(c.chunk, key.data(), key.size());
    write_bytes(c.chunk, "\t", 1);
    write_bytes(c.chunk, value.data(), value.size());
    write_bytes(c.chunk, "\n", 1);
  }
  c.bytes += static_cast<unsigned>(len);
  c.last_key = key;
}

// One line of the sorted copy: capped, cut into key and value, and emitted.
void chunk_line(Chunker& c, std::string_view text, std::vector<char>& line) {
  Stats& stats = c.stats;
  const LineCap& cap = c.cap;
  ++stats.current_line;
  long before_lf = static_cast<long>(text.size()) - (text.back() == '\n' ? 1 : 0);
  if (before_lf > cap.kept) {
    ++stats.cut_lines;
    if (before_lf > stats.longest_cut) stats.longest_cut = before_lf;
  }
  std::memcpy(line.data(), text.data(), text.size());
  line[text.size()] = '\0';
  truncate_line(line.data(), cap);
  if (line[0] == '\0' || line[0] == '\n') return;

  KeyScan key = scan_key(line.data(), cap.limit);
  size_t value_pos = skip_separator(line.data(), key.length);
  size_t value_len = scan_value(line.data() + value_pos, cap.limit);
  emit(c, std::string_view(line.data(), key.length),
       std::string_view(line.data() + value_pos, value_len));
  if (key.length > stats.max_key) stats.max_key = static_cast<uint32_t>(key.length);
  if (value_len > stats.max_val) stats.max_val = static_cast<uint32_t>(value_len);
}

void finish(Chunker& c) {
  if (c.open) {
    enter_key(c, c.first_key, c.last_key, c.bytes);
    if (c.chunk.f) close_file(c.chunk);
  }
}

}  // namespace

void split(std::FILE* in, const Settings& settings, Stats& stats, ChunkIndex& index) {
  Chunker c{settings,
            line_cap(settings.chunksize),
            stats,
            index,
            std::vector<char>(kLineBufferSize * 2),
            File(),
            false,
            false,
            0,
            {},
            {}};
  std::vector<char> line(kLineBufferSize);
  LineReader reader = make_line_reader(in);
  std::string_view text;
  while (next_line(reader, &text)) chunk_line(c, text, line);
  if (reader.error) die("Can't open '%s' for read\n", sorted_copy_path().c_str());
  finish(c);
}

void split_lines(const char* data, const UninitVector<uint64_t>& starts,
                 const UninitVector<uint32_t>& order, const Settings& settings, Stats& stats,
                 ChunkIndex& index) {
  Chunker c{settings, line_cap(settings.chunksize), stats, index, {}, File(), false, true, 0, {},
            {}};
  std::vector<char> line(kLineBufferSize);
  std::string piece;
  for (uint32_t i : order) {
    size_t begin = starts[i], end = starts[i + 1];
    if (data[end - 1] == '\n') {
      chunk_line(c, std::string_view(data + begin, end - begin), line);
      continue;
    }
    // The sorted copy gives such a piece a line feed, which is read back as
    // a line of its own when the piece is 65535 bytes long.
    piece.assign(data + begin, end - begin);
    piece += '\n';
    for (size_t at = 0; at < piece.size();) {
      size_t n = line_length(piece.data() + at, piece.size() - at);
      chunk_line(c, std::string_view(piece.data() + at, n), line);
      at += n;
    }
  }
  finish(c);
}

size_t index_size_at(const ChunkIndex& measured, int chunksize, size_t* chunks) {
  const auto budget = static_cast<uint64_t>(chunksize);
  size_t n = measured.line_lengths.size(), size = kIndexFixedSize;
  uint64_t bytes = 0;
  size_t first = 0;  // the current chunk's first entry
  *chunks = 0;
  for (size_t i = 0; i < n; ++i) {
    // A chunk closes when the next entry does not fit, as emit closes it.
    if (i > first && bytes + measured.line_lengths[i] > budget) {
      size += 2 + measured.key_lengths[first] + 1 + measured.key_lengths[i - 1] + 1;
      ++*chunks;
      first = i;
      bytes = 0;
    }
    bytes += measured.line_lengths[i];
  }
  if (n > 0) {
    size += 2 + measured.key_lengths[first] + 1 + measured.key_lengths[n - 1] + 1;
    ++*chunks;
  }
  return size;
}

void check_chunk_count(const ChunkIndex& index) {
  if (index.entries.empty()) die("Error: No entries in input file.\n");
  if (static_cast<size_t>(index.suffix) > kMaxChunks) {
    die("Error: Too many chunks (%d), at most %zu.\n", index.suffix, kMaxChunks);
  }
}

void plan_chunks(std::string_view text, const UninitVector<uint64_t>& starts,
                 const UninitVector<uint32_t>& order, int chunksize, Stats& stats,
                 ChunkIndex& index) {
  Settings settings;
  settings.chunksize = chunksize;
  settings.write_chunks = false;
  split_lines(text.data(), starts, order, settings, stats, index);
}

size_t index_size_at(std::string_view text, const UninitVector<uint64_t>& starts,
                     const UninitVector<uint32_t>& order, int chunksize) {
  Stats stats;
  ChunkIndex index;
  try {
    plan_chunks(text, starts, order, chunksize, stats, index);
  } catch (const Fatal&) {
    return SIZE_MAX;  // a line the converter refuses at this K
  }
  return index_record_size(index.entries);
}

int chunksize_for_small_index(std::string_view text, const UninitVector<uint64_t>& starts,
                              const UninitVector<uint32_t>& order, int chunksize) {
  Stats stats;
  ChunkIndex measured;
  measured.measure = true;
  try {
    plan_chunks(text, starts, order, kMaxChunkSize, stats, measured);
  } catch (const Fatal&) {
    return 0;  // a line the converter refuses at any K
  }
  uint64_t longest = 0;  // bytes of the longest line, its line feed included
  for (size_t i = 0; i + 1 < starts.size(); ++i)
    longest = std::max(longest, starts[i + 1] - starts[i]);
  return least_chunksize_for_small_index(chunksize, [&](int k) {
    if (static_cast<uint64_t>(line_cap(k).kept) < longest) {
      return index_size_at(text, starts, order, k);
    }
    size_t chunks;
    return index_size_at(measured, k, &chunks);
  });
}

}  // namespace zelk
