// Layout of the dictionary database (doc/format.md): a 78-byte header, a
// record list of 8-byte entries, two NUL bytes, the index record (record 0)
// and one record per chunk. All integers are big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/split.h"

namespace zelk {

inline constexpr long kNameSize = 32;  // 31 name bytes and at least one NUL
// Header fields after the name; all but the dates, type, creator and record
// count are zero in every database the converter writes.
inline constexpr long kAttributesOffset = 32;                        // 2 bytes
inline constexpr long kVersionOffset = 34;                           // 2 bytes
inline constexpr long kCreationDateOffset = 36;                      // 4 bytes, kDate
inline constexpr long kModificationDateOffset = 40;                  // 4 bytes, kDate
inline constexpr long kBackupDateOffset = 44;                        // 4 bytes
inline constexpr long kModificationNumberOffset = 48;                // 4 bytes
inline constexpr long kAppInfoOffset = 52;                           // 4 bytes
inline constexpr long kSortInfoOffset = 56;                          // 4 bytes
inline constexpr long kTypeOffset = 60;                              // "Dict"
inline constexpr long kCreatorOffset = 64;                           // "Zelk"
inline constexpr long kUniqueIdSeedOffset = 68;                      // 4 bytes
inline constexpr long kNextRecordListOffset = 72;                    // 4 bytes
inline constexpr long kRecordCountOffset = 76;                       // 2 bytes, N + 1
inline constexpr long kHeaderSize = kNameSize + 2 + 2 + 10 * 4 + 2;  // name, attributes, version,
                                                                     // ten 4-byte fields, count
inline constexpr long kListEntrySize = 4 + 4;   // record offset, attribute byte + 3-byte unique id
inline constexpr long kListGap = 2;             // two NUL bytes after the record list
inline constexpr long kIndexFixedSize = 8 * 2;  // 0, 1, chunk count, flag, four zeros
inline constexpr uint32_t kFirstRecordId = 0x406F8000;  // attribute 0x40, unique id 0x6F8000
inline constexpr long kMaxRecordSize = 65535;           // sizes are stated in 16 bits
inline constexpr long kMaxChunks = 65534;               // record count N + 1 is a 16-bit field
inline constexpr unsigned char kDate[4] = {0x06, 0xD1, 0x44, 0xAE};  // creation and modification
inline constexpr char kType[] = "Dict";
inline constexpr char kCreator[] = "Zelk";
inline constexpr long kMaxKeyLength = 65535;  // more than any key of a chunk can have

// Offset of the list entry of record r.
constexpr long list_entry_offset(long r) { return kHeaderSize + kListEntrySize * r; }
// Where record 0 begins in a database of n chunks.
constexpr long record0_offset(long n) { return kHeaderSize + kListEntrySize * (n + 1) + kListGap; }
static_assert(kHeaderSize == 78 && record0_offset(1) == 96 && record0_offset(2) == 104);
static_assert(kRecordCountOffset + 2 == kHeaderSize);

// The largest file a database can be: the most chunks, each key as long as
// a key can be, each record as large as a size entry can state.
inline constexpr long long kMaxDatabaseSize = record0_offset(kMaxChunks) + kIndexFixedSize +
                                              kMaxChunks * (2 + 2 * (kMaxKeyLength + 1)) +
                                              kMaxChunks * kMaxRecordSize;

// The 78-byte header for a database of n chunks.
std::vector<unsigned char> build_header(const std::string& name, long n);

// Size of the index record for these chunks.
long index_record_size(const std::vector<IndexEntry>& entries);

// The index record: fixed words, stored sizes, then each chunk's first and
// last key with their NULs.
std::vector<unsigned char> build_index_record(const std::vector<IndexEntry>& entries,
                                              bool compressed);

}  // namespace zelk
