#include "writer/from_memory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "codec/codec.h"
#include "format/byteorder.h"
#include "format/format.h"
#include "toolkit/error.h"

namespace zelk {

namespace {

using Records = std::vector<std::vector<unsigned char>>;

// Compresses every chunk into records, on compress_threads() threads that take
// chunks in turn.
void compress_all(const ChunkIndex& index, const std::vector<size_t>& starts, Records& records,
                  std::FILE* progress) {
  size_t n = index.entries.size();
  records.resize(n);
  std::atomic<size_t> next{0}, done{0};
  std::atomic<bool> no_memory{false};
  auto work = [&] {
    try {
      Compressor compressor = make_compressor();
      std::vector<unsigned char> scratch;  // room for the bound; each record keeps its size
      for (size_t i; (i = next++) < n && !no_memory;) {
        const auto* text = reinterpret_cast<const unsigned char*>(index.text.data() + starts[i]);
        compress_chunk(compressor, text, index.entries[i].size, scratch);
        records[i].assign(scratch.begin(), scratch.end());
        ++done;
      }
    } catch (const std::bad_alloc&) {
      no_memory = true;
    }
  };
  size_t threads = std::min<size_t>(static_cast<size_t>(compress_threads()), n);
  std::vector<std::thread> workers;
  for (size_t t = progress ? 0 : 1; t < threads; ++t) workers.emplace_back(work);
  if (progress) {
    while (done < n && !no_memory) {
      char text[64];
      std::snprintf(text, sizeof text, "compressing %zu of %zu chunks", done.load(), n);
      show_progress(progress, text);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  } else {
    work();
  }
  for (std::thread& w : workers) w.join();
  if (no_memory) throw std::bad_alloc();
}

}  // namespace

void write_from_memory(File& out, const Settings& settings, ChunkIndex& index,
                       std::FILE* progress) {
  std::vector<IndexEntry>& entries = index.entries;
  size_t n = entries.size();
  size_t index_size = index_record_size(entries);
  if (index_size > kMaxRecordSize && !settings.allow_large_index) {
    die("Error: Too big Index Record...\nABORTED\n");
  }
  std::vector<size_t> starts(n + 1, 0);
  for (size_t i = 0; i < n; ++i) starts[i + 1] = starts[i] + entries[i].size;
  Records records;
  if (settings.do_compress) compress_all(index, starts, records, progress);
  for (size_t i = 0; i < n; ++i) {
    size_t stored = settings.do_compress ? records[i].size() : entries[i].size;
    if (stored > kMaxRecordSize) {
      die("Error: Record %zu too big (%zu bytes), at most 65535.\n", i + 1, stored);
    }
    entries[i].size = stored;
  }
  if (uint64_t last = last_record_offset(entries, index_size); last > kMaxRecordOffset) {
    die("Error: Database too big: record %zu would start at byte %llu, past the %llu that the "
        "record list can state.\n",
        n, static_cast<unsigned long long>(last),
        static_cast<unsigned long long>(kMaxRecordOffset));
  }

  show_progress(progress, "writing");
  std::vector<unsigned char> header = build_header(settings.storyName, n);
  std::vector<unsigned char> list = build_record_list(entries, index_size);
  list.resize(list.size() + kListGap, 0);  // the two NUL bytes after it
  write_bytes(out, header.data(), header.size());
  write_bytes(out, list.data(), list.size());
  std::vector<unsigned char> record0 = build_index_record(entries, settings.do_compress);
  write_bytes(out, record0.data(), record0.size());
  for (size_t i = 0; i < n; ++i) {
    if (settings.do_compress) {
      write_bytes(out, records[i].data(), records[i].size());
      records[i] = std::vector<unsigned char>();
    } else {
      write_bytes(out, index.text.data() + starts[i], entries[i].size);
    }
  }
  close_file(out);
}

}  // namespace zelk
