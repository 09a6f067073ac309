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
inline constexpr long kHeaderSize = kNameSize + 2 + 2 + 10 * 4 + 2;  // name, attributes, version,
                                                                     // ten 4-byte fields, count
inline constexpr long kListEntrySize = 4 + 4;   // record offset, attribute byte + 3-byte unique id
inline constexpr long kListGap = 2;             // two NUL bytes after the record list
inline constexpr long kIndexFixedSize = 8 * 2;  // 0, 1, chunk count, flag, four zeros
inline constexpr uint32_t kFirstRecordId = 0x406F8000;  // attribute 0x40, unique id 0x6F8000
inline constexpr long kMaxRecordSize = 65535;           // sizes are stated in 16 bits
inline constexpr long kMaxChunks = 65534;               // record count N + 1 is a 16-bit field
inline constexpr unsigned char kDate[4] = {0x06, 0xD1, 0x44, 0xAE};  // creation and modification

// Offset of the list entry of record r.
constexpr long list_entry_offset(long r) { return kHeaderSize + kListEntrySize * r; }
// Where record 0 begins in a database of n chunks.
constexpr long record0_offset(long n) { return kHeaderSize + kListEntrySize * (n + 1) + kListGap; }
static_assert(kHeaderSize == 78 && record0_offset(1) == 96 && record0_offset(2) == 104);

// The 78-byte header for a database of n chunks.
std::vector<unsigned char> build_header(const std::string& name, long n);

// Size of the index record for these chunks.
long index_record_size(const std::vector<IndexEntry>& entries);

// The index record: fixed words, stored sizes, then each chunk's first and
// last key with their NULs.
std::vector<unsigned char> build_index_record(const std::vector<IndexEntry>& entries,
                                              bool compressed);

}  // namespace zelk
