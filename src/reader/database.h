// Opening a dictionary database (doc/format.md) for reading, through
// positioned reads: the header, the record list and the index record once,
// then only the records asked for. No byte is trusted: every offset and size
// is checked before use; what is wrong is a Problem, data for the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/format.h"
#include "format/key_order.h"

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

// The record list and the index record are kept as the file holds them and
// read field by field. A lookup reads the index record and just the list
// entries it needs; commands that walk every record load the whole list.
inline constexpr size_t kKeySample = 8;

struct Database {
  std::string path;  // for messages
  int fd = -1;       // read with pread, never moved
  uint64_t size = 0;
  unsigned char header[kHeaderSize] = {};
  std::string name;  // up to the first NUL of the 32-byte field
  std::string type, creator;
  uint16_t record_count = 0;
  std::unique_ptr<unsigned char[]> list;  // record_count entries of 8 bytes, once loaded
  // The index record up to its last key's NUL (index_read bytes), and where
  // the first key of every kKeySample-th chunk starts in it.
  std::unique_ptr<unsigned char[]> index;
  size_t index_read = 0;
  uint64_t index_size = 0;  // from its offset to record 1's (or the file's end)
  uint16_t chunk_count = 0;
  uint16_t flag = 0;
  std::vector<uint32_t> first_keys;
};

// Reads the whole record list into list.
void load_list(Database& db);
// Record r's entry in the record list, r < record_count.
ListEntry list_entry(const Database& db, size_t r);
// Where record r starts, and where it ends: the next record's start, or the
// end of the file after the last.
uint32_t record_start(const Database& db, size_t r);
uint64_t record_end(const Database& db, size_t r);
// The chunks the index record names (as far as it could be read), and chunk
// k's (from 0) size and keys.
size_t chunks_indexed(const Database& db);
ChunkInfo chunk_info(const Database& db, size_t k);

// The header's 16- or 32-bit field at the given offset.
uint16_t header16(const Database& db, size_t offset);
uint32_t header32(const Database& db, size_t offset);

// Where the problem is: a record number (-1 for the header and record list)
// and a file offset.
struct Problem {
  long record = -1;
  uint64_t offset = 0;
  std::string text;
  bool warning = false;
};

// "record 3 at offset 0x1f4", "header at offset 0x3c".
std::string where(const Problem& p);

// An offset or a field in hexadecimal: "0x1f4", or with bytes (1, 2, 4) as
// wide as the field: "0x0001".
std::string hex(uint64_t v, int bytes = 0);

// "1 chunk", "2 chunks".
std::string count(size_t n, const char* singular, const char* plural);

// Reads n bytes at offset, which the file is known to hold. A read that
// fails (an I/O error, or a file that shrank) raises Fatal "cannot read
// 'PATH': REASON" with status 2.
void read_at(const Database& db, uint64_t offset, size_t n, unsigned char* out);

// Reads the header alone; false when the file is shorter than one.
bool read_header(int fd, uint64_t size, Database& db, Problem& problem);
// True when type and creator say this is a dictionary database.
bool is_dictionary(const Database& db);

// Reads the record list and the index record after read_header. Returns
// false, with the reason in problem, when they are too damaged to go on.
// Raises Fatal and std::bad_alloc.
bool open_database(Database& db, Problem& problem);

// The bytes of record r (1..N): from its offset to the next record's offset or
// the end of the file; false when the offsets do not allow that or the record
// is larger than any record can be.
bool record_bytes(const Database& db, size_t r, std::vector<unsigned char>& record,
                  Problem& problem);

// The text of chunk r (1..N), expanded when the database is compressed;
// record receives the stored bytes.
bool chunk_text(const Database& db, size_t r, std::vector<unsigned char>& record,
                std::vector<unsigned char>& text, Problem& problem);

// Bytes read from the database, as text.
inline std::string_view as_text(const std::vector<unsigned char>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

struct Entry {
  std::string_view key, value;
};
// Cuts chunk text into "key<TAB>value<LF>" entries; false at the first line
// that is not one (bad_at: its offset in the text).
bool split_entries(std::string_view text, std::vector<Entry>& entries, size_t& bad_at);

}  // namespace zelk
