#include "text/split.h"

#include <cstring>
#include <string_view>

#include "common/error.h"
#include "common/file.h"
#include "text/line.h"

namespace zelk {

namespace {

struct Chunker {
  const Settings& settings;
  Stats& stats;
  ChunkIndex& index;
  std::vector<char> iobuf;  // the chunk file's stdio buffer; outlives chunk
  File chunk;               // the chunk being filled (none when only counting)
  bool open = false;        // a chunk is being filled
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
  if (!c.settings.write_chunks) {
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
  long budget = c.settings.chunksize;
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
  if (c.chunk.f) {
    write_bytes(c.chunk, key.data(), key.size());
    write_bytes(c.chunk, "\t", 1);
    write_bytes(c.chunk, value.data(), value.size());
    write_bytes(c.chunk, "\n", 1);
  }
  c.bytes += static_cast<unsigned>(len);
  c.last_key = key;
}

}  // namespace

void split(std::FILE* in, const Settings& settings, Stats& stats, ChunkIndex& index) {
  Chunker c{settings, stats, index, std::vector<char>(kLineBufferSize * 2), File(), false,
            0,        {},    {}};
  const size_t limit = static_cast<size_t>(settings.chunksize) - 1;
  std::vector<char> line(kLineBufferSize);
  LineReader reader = make_line_reader(in);
  std::string_view text;
  const long kept = static_cast<long>(settings.chunksize) - 2;  // bytes a line keeps before its LF
  while (next_line(reader, &text)) {
    ++stats.current_line;
    long before_lf = static_cast<long>(text.size()) - (text.back() == '\n' ? 1 : 0);
    if (before_lf > kept) {
      ++stats.cut_lines;
      if (before_lf > stats.longest_cut) stats.longest_cut = before_lf;
    }
    std::memcpy(line.data(), text.data(), text.size());
    line[text.size()] = '\0';
    truncate_line(line.data(), settings.chunksize);
    if (line[0] == '\0' || line[0] == '\n') continue;

    KeyScan key = scan_key(line.data(), limit);
    size_t value_pos = skip_separator(line.data(), key.length);
    size_t value_len = scan_value(line.data() + value_pos, limit);
    emit(c, std::string_view(line.data(), key.length),
         std::string_view(line.data() + value_pos, value_len));
    if (key.length > stats.max_key) stats.max_key = static_cast<uint32_t>(key.length);
    if (value_len > stats.max_val) stats.max_val = static_cast<uint32_t>(value_len);
  }
  if (reader.error) die("Can't open '%s' for read\n", sorted_copy_path().c_str());
  if (c.open) {
    enter_key(c, c.first_key, c.last_key, c.bytes);
    if (c.chunk.f) close_file(c.chunk);
  }
}

}  // namespace zelk
