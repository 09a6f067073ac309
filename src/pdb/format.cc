#include "pdb/format.h"

#include <cstring>

#include "pdb/byteorder.h"

namespace zelk {

std::vector<unsigned char> build_header(const std::string& name, long n) {
  std::vector<unsigned char> h(kHeaderSize, 0);
  std::memcpy(h.data(), name.data(), name.size() < 31 ? name.size() : 31);
  // 32 attributes, 34 version: zero
  std::memcpy(&h[36], kDate, 4);  // creation date
  std::memcpy(&h[40], kDate, 4);  // modification date
  // 44 backup date, 48 modification number, 52 app info, 56 sort info: zero
  std::memcpy(&h[60], "Dict", 4);
  std::memcpy(&h[64], "Zelk", 4);
  // 68 unique id seed, 72 next record list: zero
  put_word(&h[76], static_cast<uint32_t>(n + 1));
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
