#include "zelkpack/merge.h"

#include "format/byteorder.h"
#include "format/format.h"
#include "toolkit/error.h"
#include "zelkpack/pool.h"

namespace zelk {

namespace {

// The database being written.
struct Output {
  File& out;
  const Settings& settings;
  ChunkIndex& index;
  // The record list as the file holds it: written by gen_header with
  // provisional offsets, then each record's offset as the record is written.
  // It is kept here and stored again over the file's copy when the run ends.
  std::vector<unsigned char> list;
  uint64_t index_record_pos = 0;
  size_t index_size = 0;
  uint64_t pos = 0;  // where the next record starts
};

void gen_header(Output& db) {
  const std::vector<IndexEntry>& entries = db.index.entries;
  size_t n = entries.size();
  db.index_size = index_record_size(entries);
  std::vector<unsigned char> header = build_header(db.settings.storyName, n);
  write_bytes(db.out, header.data(), header.size());

  // The offsets of records 2 to N are provisional: the entries still hold the
  // chunk files' text sizes.
  db.list = build_record_list(entries, db.index_size);
  write_bytes(db.out, db.list.data(), kListEntrySize);

  std::fprintf(stderr, "Index record (Record 0) size = %zu bytes\n", db.index_size);
  if (db.index_size > kMaxRecordSize) {
    if (!db.settings.allow_large_index) die("Error: Too big Index Record...\nABORTED\n");
    std::fprintf(stderr,
                 "Warning: This dictionary MUST be put on Palm's SD-card or MemoryStick (ie. "
                 "VFS)\n");
  }

  static const unsigned char gap[kListGap] = {0, 0};
  write_bytes(db.out, db.list.data() + kListEntrySize, db.list.size() - kListEntrySize);
  write_bytes(db.out, gap, kListGap);

  // Room for record 0 is skipped, not written; record 1 starts behind it.
  db.index_record_pos = record0_offset(n);
  db.pos = db.index_record_pos + db.index_size;
  seek_to(db.out, static_cast<long long>(db.pos));
}

void gen_body(Output& db, const std::vector<unsigned char>& data, int r, int total) {
  put_long(&db.list[kListEntrySize * static_cast<size_t>(r)], static_cast<uint32_t>(db.pos));
  if (db.settings.debug) {
    std::fprintf(stderr, "gen_body(): %d, %08lx, %08lx\n", r,
                 static_cast<unsigned long>(list_entry_offset(static_cast<uint64_t>(r))),
                 static_cast<unsigned long>(db.pos));
  }
  write_bytes(db.out, data.data(), data.size());
  if (db.settings.debug) std::fprintf(stderr, "converting record %d of %d\n", r, total);
  db.pos += data.size();
}

void write_list(Output& db) {
  seek_to(db.out, kHeaderSize);
  write_bytes(db.out, db.list.data(), db.list.size());
}

void gen_index_record(Output& db) {
  std::vector<unsigned char> record = build_index_record(db.index.entries, db.settings.do_compress);
  seek_to(db.out, static_cast<long long>(db.index_record_pos));
  write_bytes(db.out, record.data(), record.size());
}

// Reads the stored bytes of chunk i from its file: the text, or the
// compressor's output.
void load_stored_record(const Settings& settings, int i, std::vector<unsigned char>& data) {
  std::string path = chunk_path(i, settings.do_compress ? "txz" : "txt");
  if (!read_file(path.c_str(), data).ok) die("Can not open '%s' for reading\n", path.c_str());
  if (data.size() > kMaxRecordSize) {
    die("Error: Record %d too big (%zu bytes), at most 65535.\n", i + 1, data.size());
  }
}

}  // namespace

void merge(File& out, const Settings& settings, ChunkIndex& index) {
  Output db{out, settings, index, {}, 0, 0, 0};
  gen_header(db);
  Press press = settings.do_compress ? start_press(index.suffix) : Press();
  try {
    std::vector<unsigned char> data;
    int total = static_cast<int>(index.entries.size());
    for (int i = 0; i < index.suffix; ++i) {
      if (settings.do_compress) press_chunk(press, i);
      load_stored_record(settings, i, data);
      index.entries[static_cast<size_t>(i)].size = data.size();
      gen_body(db, data, i + 1, total);
    }
  } catch (...) {
    // Leave the file as a record-by-record writer would: offsets of the
    // records written so far are final.
    if (std::ferror(out.f) == 0) {
      try {
        write_list(db);
      } catch (const Fatal&) {
      }
    }
    throw;
  }
  write_list(db);
  gen_index_record(db);
  close_file(out);
}

}  // namespace zelk
