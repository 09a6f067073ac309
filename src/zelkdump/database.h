// Reading a dictionary database (doc/format.md) through positioned reads:
// the header, the record list and the index record once, then only the
// records a command asks for. No byte is trusted: every offset and size is
// checked before use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdb/format.h"

namespace zelk {

struct ListEntry {
  uint32_t offset = 0;
  uint8_t attributes = 0;
  uint32_t id = 0;  // 24 bits
};

struct ChunkInfo {
  uint16_t size = 0;       // stored size, from the index record
  std::string_view first;  // first key, in Database::index
  std::string_view last;   // last key
};

struct Database {
  int fd = -1;  // read with pread, never moved
  uint64_t size = 0;
  unsigned char header[kHeaderSize] = {};
  std::string name;  // up to the first NUL of the 32-byte field
  std::string type, creator;
  uint16_t record_count = 0;
  std::vector<ListEntry> list;  // one entry a record
  // The index record: its bytes (up to the end of its last key), its fixed
  // words and the chunks it names.
  std::vector<unsigned char> index;
  uint64_t index_size = 0;  // from its offset to record 1's (or the file's end)
  uint16_t chunk_count = 0;
  uint16_t flag = 0;
  std::vector<ChunkInfo> chunks;
};

// The header's 16- or 32-bit field at the given offset.
uint16_t header16(const Database& db, long offset);
uint32_t header32(const Database& db, long offset);

// Where the problem is: a record number (-1 for the header and record list)
// and a file offset.
struct Problem {
  long record = -1;
  uint64_t offset = 0;
  std::string text;
  bool warning = false;
};

// A read of the file that failed (an I/O error, or a file that shrank).
struct ReadFailure {
  int error;  // errno
};

// Reads n bytes at offset, which the file is known to hold. Throws
// ReadFailure.
void read_at(const Database& db, uint64_t offset, size_t n, unsigned char* out);

// Reads the header alone; false when the file is shorter than one.
bool read_header(int fd, uint64_t size, Database& db, Problem& problem);
// True when type and creator say this is a dictionary database.
bool is_dictionary(const Database& db);

// Reads the record list and the index record after read_header. Returns
// false, with the reason in problem, when they are too damaged to go on.
// Throws ReadFailure and std::bad_alloc.
bool open_database(Database& db, Problem& problem);

// The bytes of record r (1..N): from its offset to the next record's offset or
// the end of the file; false when the offsets do not allow that or the record
// is larger than any record can be.
bool record_bytes(const Database& db, size_t r, std::vector<unsigned char>& record,
                  Problem& problem);

// The text of chunk r (1..N), expanded when the database is compressed;
// record receives the stored bytes.
bool chunk_text(const Database& db, size_t r, std::vector<unsigned char>& record, std::string& text,
                Problem& problem);

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

// escape(), cut to about max bytes (at a character's start) with "..." added.
std::string escape_short(std::string_view key, size_t max = 60);

}  // namespace zelk
