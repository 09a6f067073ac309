#include "zelkdump/database.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/codec.h"

namespace zelk {

namespace {

uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

std::string hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%#llx", static_cast<unsigned long long>(v));
  return buf;
}

// Reads the index record's keys from offset on, in steps, until 2 n keys
// have their NUL: a sound index is read in one step (its size is known from
// record 1's offset), a damaged one no further than needed.
bool read_index(Database& db, uint64_t at, Problem& problem) {
  size_t n = db.chunk_count;
  uint64_t end = db.list.size() > 1 && db.list[1].offset >= at && db.list[1].offset <= db.size
                     ? db.list[1].offset
                     : db.size;
  db.index_size = end - at;
  auto grow = [&](uint64_t want) {
    uint64_t have = db.index.size();
    uint64_t upto = std::min<uint64_t>(db.size - at, std::max<uint64_t>(want, have + 65536));
    db.index.resize(static_cast<size_t>(upto));
    read_at(db, at + have, static_cast<size_t>(upto - have), db.index.data() + have);
  };
  uint64_t fixed = kIndexFixedSize + 2 * static_cast<uint64_t>(n);
  if (fixed > db.size - at) {
    problem = {0, at, "index record too short for its " + std::to_string(n) + " sizes"};
    return false;
  }
  db.index.clear();
  grow(std::max(fixed, end - at));
  std::vector<std::pair<size_t, size_t>> keys;  // start and length of each key
  size_t pos = fixed;
  for (size_t k = 0; k < 2 * n; ++k) {
    size_t start = pos;
    for (;;) {
      const void* nul = std::memchr(db.index.data() + pos, 0, db.index.size() - pos);
      if (nul) {
        pos = static_cast<size_t>(static_cast<const unsigned char*>(nul) - db.index.data());
        break;
      }
      pos = db.index.size();
      if (at + pos >= db.size || pos - start > static_cast<size_t>(kMaxKeyLength)) {
        problem = {0, at + start,
                   "key of chunk " + std::to_string(k / 2 + 1) + " in the index record has no NUL"};
        return false;
      }
      grow(db.index.size() * 2);
    }
    keys.emplace_back(start, pos - start);
    ++pos;
  }
  db.index.resize(pos);
  const char* base = reinterpret_cast<const char*>(db.index.data());
  db.chunks.resize(n);
  for (size_t k = 0; k < n; ++k) {
    ChunkInfo& c = db.chunks[k];
    c.size = get16(db.index.data() + kIndexFixedSize + 2 * k);
    c.first = std::string_view(base + keys[2 * k].first, keys[2 * k].second);
    c.last = std::string_view(base + keys[2 * k + 1].first, keys[2 * k + 1].second);
  }
  return true;
}

}  // namespace

void read_at(const Database& db, uint64_t offset, size_t n, unsigned char* out) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = pread(db.fd, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw ReadFailure{errno};
    if (got == 0) throw ReadFailure{EIO};  // the file shrank under us
    done += static_cast<size_t>(got);
  }
}

uint16_t header16(const Database& db, long offset) { return get16(db.header + offset); }
uint32_t header32(const Database& db, long offset) { return get32(db.header + offset); }

bool read_header(int fd, uint64_t size, Database& db, Problem& problem) {
  db = Database();
  db.fd = fd;
  db.size = size;
  if (size < static_cast<uint64_t>(kHeaderSize)) {
    problem = {-1, 0, "file of " + std::to_string(size) + " bytes is shorter than a header (78)"};
    return false;
  }
  read_at(db, 0, kHeaderSize, db.header);
  const unsigned char* name_end = static_cast<const unsigned char*>(std::memchr(db.header, 0, 32));
  db.name.assign(reinterpret_cast<const char*>(db.header),
                 name_end ? static_cast<size_t>(name_end - db.header) : 32);
  db.type.assign(reinterpret_cast<const char*>(db.header + kTypeOffset), 4);
  db.creator.assign(reinterpret_cast<const char*>(db.header + kCreatorOffset), 4);
  db.record_count = header16(db, kRecordCountOffset);
  return true;
}

bool is_dictionary(const Database& db) { return db.type == kType && db.creator == kCreator; }

bool open_database(Database& db, Problem& problem) {
  uint64_t list_bytes = kListEntrySize * static_cast<uint64_t>(db.record_count);
  if (db.record_count < 1 || kHeaderSize + list_bytes > db.size) {
    problem = {-1, static_cast<uint64_t>(kHeaderSize),
               "record list of " + std::to_string(db.record_count) + " entries does not fit in " +
                   std::to_string(db.size) + " bytes"};
    return false;
  }
  std::vector<unsigned char> raw(static_cast<size_t>(list_bytes));
  read_at(db, kHeaderSize, raw.size(), raw.data());
  db.list.resize(db.record_count);
  for (size_t r = 0; r < db.record_count; ++r) {
    const unsigned char* e = raw.data() + kListEntrySize * r;
    db.list[r] = {get32(e), e[4], get32(e + 4) & 0xFFFFFF};
  }
  uint64_t at = db.list[0].offset;
  if (at + kIndexFixedSize > db.size) {
    problem = {0, at, "index record at " + hex(at) + " is not inside the file"};
    return false;
  }
  unsigned char fixed[kIndexFixedSize];
  read_at(db, at, sizeof fixed, fixed);
  db.chunk_count = get16(fixed + 4);
  db.flag = get16(fixed + 6);
  return read_index(db, at, problem);
}

bool record_bytes(const Database& db, size_t r, std::vector<unsigned char>& record,
                  Problem& problem) {
  uint64_t begin = db.list[r].offset;
  uint64_t end = r + 1 < db.list.size() ? db.list[r + 1].offset : db.size;
  if (begin > db.size || end > db.size || end < begin) {
    problem = {static_cast<long>(r), begin,
               "record spans " + hex(begin) + ".." + hex(end) + ", outside the file of " +
                   std::to_string(db.size) + " bytes or backwards"};
    return false;
  }
  if (end - begin > static_cast<uint64_t>(kMaxRecordSize)) {
    problem = {static_cast<long>(r), begin,
               "record of " + std::to_string(end - begin) + " bytes, more than a record holds (" +
                   std::to_string(kMaxRecordSize) + ")"};
    return false;
  }
  record.resize(static_cast<size_t>(end - begin));
  read_at(db, begin, record.size(), record.data());
  return true;
}

bool chunk_text(const Database& db, size_t r, std::vector<unsigned char>& record, std::string& text,
                Problem& problem) {
  if (r >= db.list.size() || !record_bytes(db, r, record, problem)) return false;
  if (db.flag == 0) {
    text.assign(record.begin(), record.end());
    return true;
  }
  static std::vector<unsigned char> out;
  std::string error;
  if (!expand_record(record.data(), record.size(), kMaxRecordSize, out, error)) {
    problem = {static_cast<long>(r), db.list[r].offset, "cannot expand: " + error};
    return false;
  }
  text.assign(out.begin(), out.end());
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

int compare_keys(std::string_view a, std::string_view b) {
  a = a.substr(0, std::min<size_t>(a.size(), 127));
  b = b.substr(0, std::min<size_t>(b.size(), 127));
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace {

void append_escaped(std::string& out, unsigned char c) {
  if (c == '\\') {
    out += "\\\\";
  } else if (c == '\t') {
    out += "\\t";
  } else if (c == '\n') {
    out += "\\n";
  } else if (c == '\r') {
    out += "\\r";
  } else if (c < 0x20 || c == 0x7F) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", c);
    out += buf;
  } else {
    out += static_cast<char>(c);
  }
}

}  // namespace

std::string escape(std::string_view key) {
  std::string out;
  for (unsigned char c : key) append_escaped(out, c);
  return out;
}

std::string escape_short(std::string_view key, size_t max) {
  std::string out;
  for (unsigned char c : key) {
    if (out.size() >= max && (c & 0xC0) != 0x80) return out + "...";
    append_escaped(out, c);
  }
  return out;
}

}  // namespace zelk
