#include "pdb/writer.h"

#include "common/error.h"
#include "pdb/byteorder.h"
#include "pdb/format.h"
#include "pdb/press.h"

namespace zelk {

namespace {

struct Database {
  File& out;
  const Settings& settings;
  ChunkIndex& index;
  // The record list as the file holds it: written by gen_header with
  // provisional offsets, then each record's offset as the record is written.
  // It is kept here and stored again over the file's copy when the run ends.
  std::vector<unsigned char> list;
  long index_record_pos = 0;
  long index_size = 0;
  long pos = 0;  // where the next record starts
};

void gen_header(Database& db) {
  const std::vector<IndexEntry>& entries = db.index.entries;
  long n = static_cast<long>(entries.size());
  db.index_size = index_record_size(entries);
  std::vector<unsigned char> header = build_header(db.settings.storyName, n);
  write_bytes(db.out, header.data(), header.size());

  long offset = record0_offset(n);
  uint32_t id = kFirstRecordId;
  db.list.assign(static_cast<size_t>(kListEntrySize * (n + 1)), 0);
  put_long(&db.list[0], static_cast<uint32_t>(offset));
  put_long(&db.list[4], id);
  write_bytes(db.out, db.list.data(), kListEntrySize);

  std::fprintf(stderr, "Index record (Record 0) size = %ld bytes\n", db.index_size);
  if (db.index_size > kMaxRecordSize) {
    if (!db.settings.allow_large_index) die("Error: Too big Index Record...\nABORTED\n");
    std::fprintf(stderr,
                 "Warning: This dictionary MUST be put on Palm's SD-card or MemoryStick (ie. "
                 "VFS)\n");
  }

  offset += db.index_size;
  for (size_t k = 0; k < entries.size(); ++k) {
    unsigned char* entry = &db.list[kListEntrySize * (k + 1)];
    put_long(entry, static_cast<uint32_t>(offset));
    put_long(entry + 4, ++id);
    offset += entries[k].size;
  }
  static const unsigned char gap[kListGap] = {0, 0};
  write_bytes(db.out, db.list.data() + kListEntrySize, db.list.size() - kListEntrySize);
  write_bytes(db.out, gap, kListGap);

  // Room for record 0 is skipped, not written; record 1 starts behind it.
  db.index_record_pos = record0_offset(n);
  db.pos = db.index_record_pos + db.index_size;
  seek_to(db.out, db.pos);
}

void gen_body(Database& db, const std::vector<unsigned char>& data, int r, int total) {
  long entry_pos = list_entry_offset(r);
  put_long(&db.list[static_cast<size_t>(kListEntrySize * r)], static_cast<uint32_t>(db.pos));
  if (db.settings.debug) {
    std::fprintf(stderr, "gen_body(): %d, %08lx, %08lx\n", r, static_cast<unsigned long>(entry_pos),
                 static_cast<unsigned long>(db.pos));
  }
  write_bytes(db.out, data.data(), data.size());
  if (db.settings.debug) std::fprintf(stderr, "converting record %d of %d\n", r, total);
  db.pos += static_cast<long>(data.size());
}

void write_list(Database& db) {
  seek_to(db.out, kHeaderSize);
  write_bytes(db.out, db.list.data(), db.list.size());
}

void gen_index_record(Database& db) {
  std::vector<unsigned char> record = build_index_record(db.index.entries, db.settings.do_compress);
  seek_to(db.out, db.index_record_pos);
  write_bytes(db.out, record.data(), record.size());
}

// Reads the stored bytes of chunk i: its text, or what the compressor left.
void read_record(const Settings& settings, int i, std::vector<unsigned char>& data) {
  std::string path = chunk_path(i, settings.do_compress ? "txz" : "txt");
  if (!read_file(path.c_str(), data).ok) die("Can not open '%s' for reading\n", path.c_str());
  if (static_cast<long>(data.size()) > kMaxRecordSize) {
    die("Error: Record %d too big (%ld bytes), at most 65535.\n", i + 1,
        static_cast<long>(data.size()));
  }
}

}  // namespace

void merge(File& out, const Settings& settings, ChunkIndex& index) {
  Database db{out, settings, index, {}, 0, 0, 0};
  gen_header(db);
  Press press = settings.do_compress ? start_press(index.suffix) : Press();
  try {
    std::vector<unsigned char> data;
    int total = static_cast<int>(index.entries.size());
    for (int i = 0; i < index.suffix; ++i) {
      if (settings.do_compress) press_chunk(press, i);
      read_record(settings, i, data);
      index.entries[static_cast<size_t>(i)].size = static_cast<long>(data.size());
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
