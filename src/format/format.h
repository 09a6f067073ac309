// Layout of the dictionary database (doc/format.md): a 78-byte header, a
// record list of 8-byte entries, two NUL bytes, the index record (record 0)
// and one record per chunk. All integers are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelk {

// Every offset and size below is unsigned, as the file's fields are.
inline constexpr size_t kNameSize = 32;  // 31 name bytes and at least one NUL
// Header fields after the name; all but the dates, type, creator and record
// count are zero in every database the converter writes.
inline constexpr size_t kAttributesOffset = 32;                        // 2 bytes
inline constexpr size_t kVersionOffset = 34;                           // 2 bytes
inline constexpr size_t kCreationDateOffset = 36;                      // 4 bytes, kDate
inline constexpr size_t kModificationDateOffset = 40;                  // 4 bytes, kDate
inline constexpr size_t kBackupDateOffset = 44;                        // 4 bytes
inline constexpr size_t kModificationNumberOffset = 48;                // 4 bytes
inline constexpr size_t kAppInfoOffset = 52;                           // 4 bytes
inline constexpr size_t kSortInfoOffset = 56;                          // 4 bytes
inline constexpr size_t kTypeOffset = 60;                              // kType
inline constexpr size_t kCreatorOffset = 64;                           // kCreator
inline constexpr size_t kUniqueIdSeedOffset = 68;                      // 4 bytes
inline constexpr size_t kNextRecordListOffset = 72;                    // 4 bytes
inline constexpr size_t kRecordCountOffset = 76;                       // 2 bytes, N + 1
inline constexpr size_t kHeaderSize = kNameSize + 2 + 2 + 10 * 4 + 2;  // name, attributes, version,
                                                                       // ten 4-byte fields, count
inline constexpr size_t kTagSize = 4;                                  // type and creator
inline constexpr char kType[kTagSize + 1] = "Dict";
inline constexpr char kCreator[kTagSize + 1] = "Zelk";
inline constexpr unsigned char kDate[4] = {0x06, 0xD1, 0x44, 0xAE};  // creation and modification

// A record list entry: the record's offset, an attribute byte, a 3-byte
// unique id. Record r's id is kFirstRecordId + r.
inline constexpr size_t kListEntrySize = 4 + 4;
inline constexpr size_t kListAttributesField = 4;  // within an entry
inline constexpr size_t kListIdField = 5;
inline constexpr uint32_t kFirstRecordId = 0x406F8000;  // attribute 0x40, unique id 0x6F8000
inline constexpr size_t kListGap = 2;                   // two NUL bytes after the record list

// The index record (record 0): eight 16-bit words (0, 1, chunk count,
// compression flag, four zeros), a 16-bit stored size per chunk, then each
// chunk's first and last key with their NULs.
inline constexpr size_t kIndexChunkCountOffset = 4;
inline constexpr size_t kIndexFlagOffset = 6;
inline constexpr size_t kIndexFixedSize = 8 * 2;
inline constexpr size_t kIndexSizesOffset = kIndexFixedSize;

// Keys are in order by their first 127 bytes, compared as unsigned bytes;
// keys that share them stand in an order of the converter's own.
inline constexpr size_t kMaxSortKey = 127;

inline constexpr size_t kMaxRecordSize = 65535;  // sizes are stated in 16 bits
inline constexpr size_t kMaxChunks = 65534;      // record count N + 1 is a 16-bit field
inline constexpr size_t kMaxKeyLength = 65535;   // more than any key of a chunk can have

// Offset of the list entry of record r.
constexpr uint64_t list_entry_offset(uint64_t r) { return kHeaderSize + kListEntrySize * r; }
// Where record 0 begins in a database of n chunks.
constexpr uint64_t record0_offset(uint64_t n) {
  return kHeaderSize + kListEntrySize * (n + 1) + kListGap;
}
// Where the keys begin in the index record of n chunks.
constexpr uint64_t index_keys_offset(uint64_t n) { return kIndexSizesOffset + 2 * n; }
static_assert(kHeaderSize == 78 && record0_offset(1) == 96 && record0_offset(2) == 104);
static_assert(kRecordCountOffset + 2 == kHeaderSize);

// The largest file a database can be: the most chunks, each key as long as
// a key can be, each record as large as a size entry can state.
inline constexpr uint64_t kMaxDatabaseSize =
    record0_offset(kMaxChunks) + index_keys_offset(kMaxChunks) +
    kMaxChunks * 2 * (kMaxKeyLength + 1) + kMaxChunks * kMaxRecordSize;

// A record list entry states its record's offset in 32 bits.
inline constexpr uint64_t kMaxRecordOffset = UINT32_MAX;

// What the index record says of one chunk.
struct IndexEntry {
  std::string first;  // key of the chunk's first entry
  std::string last;   // key of the chunk's last entry
  size_t size = 0;    // chunk file size; the writer replaces it with the stored record's size
};

// The 78-byte header for a database of n chunks.
std::vector<unsigned char> build_header(const std::string& name, size_t n);

// The record list for these chunks and an index record of index_size bytes:
// each record's offset (records follow each other with the entries' sizes)
// and its attribute byte and unique id. The two NUL bytes after it are not
// part of it.
std::vector<unsigned char> build_record_list(const std::vector<IndexEntry>& entries,
                                             size_t index_size);

// Where the last record begins when the records of these chunks (sized as
// their entries say) follow an index record of index_size bytes: past
// kMaxRecordOffset, the record list cannot state it.
uint64_t last_record_offset(const std::vector<IndexEntry>& entries, size_t index_size);

// Size of the index record for these chunks.
size_t index_record_size(const std::vector<IndexEntry>& entries);

// The index record: fixed words, stored sizes, then each chunk's first and
// last key with their NULs.
std::vector<unsigned char> build_index_record(const std::vector<IndexEntry>& entries,
                                              bool compressed);

}  // namespace zelk
