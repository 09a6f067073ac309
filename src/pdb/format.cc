#include "pdb/format.h"

#include <cstring>

#include "pdb/byteorder.h"

namespace zelk {

std::vector<unsigned char> build_header(const std::string& name, long n) {
  std::vector<unsigned char> h(kHeaderSize, 0);
  std::memcpy(h.data(), name.data(), name.size() < 31 ? name.size() : 31);
  // attributes, version, backup date, modification number, app info, sort
  // info, unique id seed and next record list stay zero
  std::memcpy(&h[kCreationDateOffset], kDate, 4);
  std::memcpy(&h[kModificationDateOffset], kDate, 4);
  std::memcpy(&h[kTypeOffset], kType, 4);
  std::memcpy(&h[kCreatorOffset], kCreator, 4);
  put_word(&h[kRecordCountOffset], static_cast<uint32_t>(n + 1));
  return h;
}

long index_record_size(const std::vector<IndexEntry>& entries) {
  long size = kIndexFixedSize;
  for (const IndexEntry& e : entries) {
    size += static_cast<long>(2 + e.first.size() + 1 + e.last.size() + 1);
  }
  return size;
}

std::vector<unsigned char> build_index_record(const std::vector<IndexEntry>& entries,
                                              bool compressed) {
  std::vector<unsigned char> r(static_cast<size_t>(index_record_size(entries)), 0);
  const uint32_t fixed[8] = {
      0, 1, static_cast<uint32_t>(entries.size()), compressed ? 1u : 0u, 0, 0, 0, 0};
  unsigned char* p = r.data();
  for (uint32_t word : fixed) {
    put_word(p, word);
    p += 2;
  }
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
