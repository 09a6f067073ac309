#include "format/format.h"

#include <algorithm>
#include <cstring>

#include "format/byteorder.h"

namespace zelk {

std::vector<unsigned char> build_header(const std::string& name, size_t n) {
  std::vector<unsigned char> h(kHeaderSize, 0);
  std::memcpy(h.data(), name.data(), std::min(name.size(), kNameSize - 1));
  // attributes, version, backup date, modification number, app info, sort
  // info, unique id seed and next record list stay zero
  std::memcpy(&h[kCreationDateOffset], kDate, sizeof kDate);
  std::memcpy(&h[kModificationDateOffset], kDate, sizeof kDate);
  std::memcpy(&h[kTypeOffset], kType, kTagSize);
  std::memcpy(&h[kCreatorOffset], kCreator, kTagSize);
  put_word(&h[kRecordCountOffset], static_cast<uint32_t>(n + 1));
  return h;
}

std::vector<unsigned char> build_record_list(const std::vector<IndexEntry>& entries,
                                             size_t index_size) {
  size_t n = entries.size();
  std::vector<unsigned char> list(kListEntrySize * (n + 1), 0);
  uint64_t offset = record0_offset(n);
  for (size_t r = 0; r <= n; ++r) {
    put_long(&list[kListEntrySize * r], static_cast<uint32_t>(offset));
    put_long(&list[kListEntrySize * r + kListAttributesField],  // attribute byte, then the id
             kFirstRecordId + static_cast<uint32_t>(r));
    offset += r == 0 ? index_size : entries[r - 1].size;
  }
  return list;
}

uint64_t last_record_offset(const std::vector<IndexEntry>& entries, size_t index_size) {
  uint64_t offset = record0_offset(entries.size());
  if (!entries.empty()) offset += index_size;
  for (size_t r = 0; r + 1 < entries.size(); ++r) offset += entries[r].size;
  return offset;
}

size_t index_record_size(const std::vector<IndexEntry>& entries) {
  size_t size = index_keys_offset(entries.size());
  for (const IndexEntry& e : entries) size += e.first.size() + 1 + e.last.size() + 1;
  return size;
}

std::vector<unsigned char> build_index_record(const std::vector<IndexEntry>& entries,
                                              bool compressed) {
  std::vector<unsigned char> r(index_record_size(entries), 0);
  put_word(&r[2], 1);
  put_word(&r[kIndexChunkCountOffset], static_cast<uint32_t>(entries.size()));
  put_word(&r[kIndexFlagOffset], compressed ? 1 : 0);
  unsigned char* p = &r[kIndexSizesOffset];
  for (const IndexEntry& e : entries) {
    put_word(p, static_cast<uint32_t>(e.size));
    p += 2;
  }
  for (const IndexEntry& e : entries) {
    std::memcpy(p, e.first.data(), e.first.size());
    p += e.first.size() + 1;
    std::memcpy(p, e.last.data(), e.last.size());
    p += e.last.size() + 1;
  }
  return r;
}

}  // namespace zelk
