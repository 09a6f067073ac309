// Reading a dictionary database (doc/format.md) from bytes in memory,
// without trusting any of them: every offset and size is checked before use.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

struct ListEntry {
  uint32_t offset = 0;
  uint8_t attributes = 0;
  uint32_t id = 0;  // 24 bits
};

struct ChunkInfo {
  uint16_t size = 0;  // stored size, from the index record
  std::string first;  // first key, from the index record
  std::string last;   // last key
};

struct Database {
  const unsigned char* bytes = nullptr;
  size_t size = 0;
  std::string name;  // up to the first NUL of the 32-byte field
  std::string type, creator;
  uint32_t created = 0, modified = 0;
  uint16_t record_count = 0;
  std::vector<ListEntry> list;  // as many entries as fit in the file
  // Index record.
  uint16_t chunk_count = 0;
  uint16_t flag = 0;
  std::vector<ChunkInfo> chunks;  // as many as the index record holds
};

// Where the problem is: a record number (-1 for the header and record list)
// and a file offset.
struct Problem {
  long record;
  uint64_t offset;
  std::string text;
  bool warning = false;
};

// Reads the header, record list and index record. Returns false, with the
// reason in problem, when they are too damaged to go on.
bool open_database(const unsigned char* bytes, size_t size, Database& db, Problem& problem);

// The bytes of record r (1..N): from its offset to the next record's offset
// or the end of the file; false when the offsets do not allow that.
bool record_bytes(const Database& db, size_t r, std::string_view& record, Problem& problem);

// The text of chunk r (1..N), expanded when the database is compressed.
bool chunk_text(const Database& db, size_t r, std::string& text, Problem& problem);

struct Entry {
  std::string_view key, value;
};
// Cuts chunk text into "key<TAB>value<LF>" entries; false at the first line
// that is not one (bad_at: its offset in the text).
bool split_entries(std::string_view text, std::vector<Entry>& entries, size_t& bad_at);

// The converter's order: unsigned bytes over the first 127 bytes of a key.
int compare_keys(std::string_view a, std::string_view b);

// Key bytes made printable: control bytes as \t, \n, \r or \xNN, a backslash
// doubled; other bytes as they are.
std::string escape(std::string_view key);

}  // namespace zelk
