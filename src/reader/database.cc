#include "reader/database.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/codec.h"
#include "format/byteorder.h"
#include "toolkit/error.h"

namespace zelk {

namespace {

[[noreturn]] void cannot_read(const Database& db, int error) {
  die_with(2, "cannot read '%s': %s", db.path.c_str(), std::strerror(error));
}

// Reads n > 0 bytes of the file from offset on.
std::unique_ptr<unsigned char[]> read_part(const Database& db, uint64_t offset, size_t n) {
  auto part = std::make_unique_for_overwrite<unsigned char[]>(n);
  read_at(db, offset, n, part.get());
  return part;
}

// Where the NUL bytes of the 64 bytes at p are: a bit each.
uint64_t nul_mask(const unsigned char* p) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int i = 0; i < 4; ++i) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    mask |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))))
            << (16 * i);
  }
  return mask;
#else
  uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(p[i] == 0) << i;
  return mask;
#endif
}

// Counts the NULs that end keys in p[pos, end) until want keys are
// complete: found counts them, key is where the next key starts, and the
// start of every kKeySample-th chunk's first key goes to first_keys. Returns
// where it stopped. Sixty-four bytes at a time, counting: an index record
// holds tens of thousands of short keys, and a lookup reads it whole.
size_t find_keys(const unsigned char* p, size_t pos, size_t end, size_t want, size_t& found,
                 size_t& key, std::vector<uint32_t>& first_keys) {
  constexpr size_t kEvery = 2 * kKeySample;  // keys from one sampled first key to the next
  auto ended_at = [&](size_t nul) {
    if (found % kEvery == 0) first_keys.push_back(static_cast<uint32_t>(key));
    ++found;
    key = nul + 1;
  };
  while (want - found >= 64 && end - pos >= 64) {
    uint64_t zeros = nul_mask(p + pos);
    auto n = static_cast<size_t>(std::popcount(zeros));
    if (n != 0 && (found + n - 1) / kEvery * kEvery >= found) {
      for (; zeros; zeros &= zeros - 1)
        ended_at(pos + static_cast<size_t>(std::countr_zero(zeros)));
    } else if (n != 0) {  // no sampled key starts here: count the keys only
      found += n;
      key = pos + static_cast<size_t>(63 - std::countl_zero(zeros)) + 1;
    }
    pos += 64;
  }
  for (; found < want && pos < end; ++pos) {
    if (p[pos] == 0) ended_at(pos);
  }
  return found < want ? pos : key;
}

// Reads the index record's keys from offset on, in steps, until 2 n keys
// have their NUL: a sound index is read in one step (its size is known from
// record 1's offset), a damaged one no further than needed.
bool read_index(Database& db, uint64_t at, Problem& problem) {
  size_t n = db.chunk_count;
  uint64_t next = db.record_count > 1 ? record_start(db, 1) : db.size;
  uint64_t end = next >= at && next <= db.size ? next : db.size;
  db.index_size = end - at;
  auto grow = [&](uint64_t want) {
    db.index_read = static_cast<size_t>(std::min<uint64_t>(db.size - at, want));
    db.index = read_part(db, at, db.index_read);
  };
  uint64_t fixed = index_keys_offset(n);
  if (fixed > db.size - at) {
    problem = {0, at, "index record too short for its " + std::to_string(n) + " sizes"};
    return false;
  }
  grow(std::max(fixed, end - at));
  db.first_keys.reserve(n / kKeySample + 1);
  size_t key = static_cast<size_t>(fixed);  // where the key being looked at starts
  size_t pos = key, found = 0;
  while (found < 2 * n) {
    pos = find_keys(db.index.get(), pos, db.index_read, 2 * n, found, key, db.first_keys);
    if (found == 2 * n) break;
    if (at + db.index_read >= db.size || db.index_read - key > kMaxKeyLength) {
      problem = {
          0, at + key,
          "key of chunk " + std::to_string(found / 2 + 1) + " in the index record has no NUL"};
      db.index.reset();  // names no chunk
      return false;
    }
    grow(std::max<uint64_t>(2 * db.index_read, db.index_read + 65536));
  }
  db.index_read = key;  // the byte after the last NUL
  return true;
}

}  // namespace

std::string hex(uint64_t v, int bytes) {
  char buf[32];
  if (bytes == 0) {
    std::snprintf(buf, sizeof buf, "%#llx", static_cast<unsigned long long>(v));
  } else {
    std::snprintf(buf, sizeof buf, "0x%0*llx", 2 * bytes, static_cast<unsigned long long>(v));
  }
  return buf;
}

void read_at(const Database& db, uint64_t offset, size_t n, unsigned char* out) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = pread(db.fd, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) cannot_read(db, errno);
    if (got == 0) cannot_read(db, EIO);  // the file shrank under us
    done += static_cast<size_t>(got);
  }
}

void load_list(Database& db) {
  size_t bytes = kListEntrySize * db.record_count;
  db.list = std::make_unique_for_overwrite<unsigned char[]>(bytes);
  read_at(db, kHeaderSize, bytes, db.list.get());
}

ListEntry list_entry(const Database& db, size_t r) {
  unsigned char e[kListEntrySize];
  if (db.list) {
    std::memcpy(e, db.list.get() + kListEntrySize * r, sizeof e);
  } else {
    read_at(db, list_entry_offset(r), sizeof e, e);
  }
  return {get_long(e), e[kListAttributesField], get_long(e + kListAttributesField) & 0xFFFFFF};
}

uint32_t record_start(const Database& db, size_t r) { return list_entry(db, r).offset; }

uint64_t record_end(const Database& db, size_t r) {
  return r + 1 < db.record_count ? record_start(db, r + 1) : db.size;
}

size_t chunks_indexed(const Database& db) { return db.index ? db.chunk_count : 0; }

ChunkInfo chunk_info(const Database& db, size_t k) {
  const char* first = reinterpret_cast<const char*>(db.index.get()) + db.first_keys[k / kKeySample];
  for (size_t skip = 2 * (k % kKeySample); skip > 0; --skip) first += std::strlen(first) + 1;
  size_t first_len = std::strlen(first);
  const char* last = first + first_len + 1;
  return {get_word(db.index.get() + kIndexSizesOffset + 2 * k), std::string_view(first, first_len),
          std::string_view(last, std::strlen(last))};
}

uint16_t header16(const Database& db, size_t offset) { return get_word(db.header + offset); }
uint32_t header32(const Database& db, size_t offset) { return get_long(db.header + offset); }

bool read_header(int fd, uint64_t size, Database& db, Problem& problem) {
  db = Database();
  db.fd = fd;
  db.size = size;
  if (size < kHeaderSize) {
    problem = {-1, 0,
               "file of " + std::to_string(size) + " bytes is shorter than a header (" +
                   std::to_string(kHeaderSize) + ")"};
    return false;
  }
  read_at(db, 0, kHeaderSize, db.header);
  const unsigned char* name_end =
      static_cast<const unsigned char*>(std::memchr(db.header, 0, kNameSize));
  db.name.assign(reinterpret_cast<const char*>(db.header),
                 name_end ? static_cast<size_t>(name_end - db.header) : kNameSize);
  db.type.assign(reinterpret_cast<const char*>(db.header + kTypeOffset), kTagSize);
  db.creator.assign(reinterpret_cast<const char*>(db.header + kCreatorOffset), kTagSize);
  db.record_count = header16(db, kRecordCountOffset);
  return true;
}

bool is_dictionary(const Database& db) { return db.type == kType && db.creator == kCreator; }

bool open_database(Database& db, Problem& problem) {
  uint64_t list_bytes = kListEntrySize * db.record_count;
  if (db.record_count < 1 || kHeaderSize + list_bytes > db.size) {
    problem = {-1, kHeaderSize,
               "record list of " + std::to_string(db.record_count) + " entries does not fit in " +
                   std::to_string(db.size) + " bytes"};
    return false;
  }
  uint64_t at = record_start(db, 0);
  if (at + kIndexFixedSize > db.size) {
    problem = {0, at, "index record at " + hex(at) + " is not inside the file"};
    return false;
  }
  unsigned char fixed[kIndexFixedSize];
  read_at(db, at, sizeof fixed, fixed);
  db.chunk_count = get_word(fixed + kIndexChunkCountOffset);
  db.flag = get_word(fixed + kIndexFlagOffset);
  return read_index(db, at, problem);
}

bool record_bytes(const Database& db, size_t r, std::vector<unsigned char>& record,
                  Problem& problem) {
  uint64_t begin = record_start(db, r), end = record_end(db, r);
  if (begin > db.size || end > db.size || end < begin) {
    problem = {static_cast<long>(r), begin,
               "record spans " + hex(begin) + ".." + hex(end) + ", outside the file of " +
                   std::to_string(db.size) + " bytes or backwards"};
    return false;
  }
  if (end - begin > kMaxRecordSize) {
    problem = {static_cast<long>(r), begin,
               "record of " + std::to_string(end - begin) + " bytes, more than a record holds (" +
                   std::to_string(kMaxRecordSize) + ")"};
    return false;
  }
  record.resize(static_cast<size_t>(end - begin));
  read_at(db, begin, record.size(), record.data());
  return true;
}

bool chunk_text(const Database& db, size_t r, std::vector<unsigned char>& record,
                std::vector<unsigned char>& text, Problem& problem) {
  if (r >= db.record_count || !record_bytes(db, r, record, problem)) return false;
  if (db.flag == 0) {
    text = record;
    return true;
  }
  std::string error;
  if (!expand_record(record.data(), record.size(), kMaxRecordSize, text, error)) {
    problem = {static_cast<long>(r), record_start(db, r), "cannot expand: " + error};
    return false;
  }
  return true;
}

bool split_entries(std::string_view text, std::vector<Entry>& entries, size_t& bad_at) {
  entries.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t tab = text.find('\t', pos);
    size_t lf = tab == std::string_view::npos ? tab : text.find('\n', tab + 1);
    if (lf == std::string_view::npos) {
      bad_at = pos;
      return false;
    }
    std::string_view value = text.substr(tab + 1, lf - tab - 1);
    if (value.find('\r') != std::string_view::npos) {
      bad_at = pos;
      return false;
    }
    entries.push_back({text.substr(pos, tab - pos), value});
    pos = lf + 1;
  }
  return true;
}

std::string where(const Problem& p) {
  char buf[80];
  if (p.record < 0) {
    std::snprintf(buf, sizeof buf, "header at offset %#llx",
                  static_cast<unsigned long long>(p.offset));
  } else {
    std::snprintf(buf, sizeof buf, "record %ld at offset %#llx", p.record,
                  static_cast<unsigned long long>(p.offset));
  }
  return buf;
}

std::string count(size_t n, const char* singular, const char* plural) {
  return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace zelk
