#include "zelkdump/database.h"

#include <algorithm>
#include <cstring>

#include "codec/codec.h"
#include "pdb/format.h"

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

}  // namespace

bool open_database(const unsigned char* bytes, size_t size, Database& db, Problem& problem) {
  db = Database();
  db.bytes = bytes;
  db.size = size;
  if (size < static_cast<size_t>(kHeaderSize)) {
    problem = {-1, 0, "file of " + std::to_string(size) + " bytes is shorter than a header (78)"};
    return false;
  }
  const unsigned char* name_end = static_cast<const unsigned char*>(std::memchr(bytes, 0, 32));
  db.name.assign(reinterpret_cast<const char*>(bytes),
                 name_end ? static_cast<size_t>(name_end - bytes) : 32);
  db.created = get32(bytes + 36);
  db.modified = get32(bytes + 40);
  db.type.assign(reinterpret_cast<const char*>(bytes + 60), 4);
  db.creator.assign(reinterpret_cast<const char*>(bytes + 64), 4);
  db.record_count = get16(bytes + 76);
  size_t fit = (size - kHeaderSize) / kListEntrySize;
  for (size_t r = 0; r < db.record_count && r < fit; ++r) {
    const unsigned char* e = bytes + kHeaderSize + kListEntrySize * r;
    db.list.push_back({get32(e), e[4], get32(e + 4) & 0xFFFFFF});
  }
  if (db.record_count < 1 || db.list.size() < db.record_count) {
    problem = {-1, static_cast<uint64_t>(kHeaderSize),
               "record list of " + std::to_string(db.record_count) + " entries does not fit in " +
                   std::to_string(size) + " bytes"};
    return false;
  }
  // Record 0, the index record. Its keys are read up to the end of the file,
  // not of the record, so that a wrong offset of record 1 is reported as such
  // and does not hide the index.
  uint64_t at = db.list[0].offset;
  if (at + 16 > size) {
    problem = {0, at, "index record at " + hex(at) + " is not inside the file"};
    return false;
  }
  const unsigned char* p = bytes + at;
  db.chunk_count = get16(p + 4);
  db.flag = get16(p + 6);
  size_t n = db.chunk_count;
  if (kIndexFixedSize + 2 * n > size - at) {
    problem = {0, at, "index record too short for its " + std::to_string(n) + " sizes"};
    return false;
  }
  const char* keys = reinterpret_cast<const char*>(p + kIndexFixedSize + 2 * n);
  const char* keys_end = reinterpret_cast<const char*>(bytes + size);
  for (size_t k = 0; k < n; ++k) {
    ChunkInfo c;
    c.size = get16(p + kIndexFixedSize + 2 * k);
    for (std::string* key : {&c.first, &c.last}) {
      const void* nul = std::memchr(keys, 0, static_cast<size_t>(keys_end - keys));
      if (!nul) {
        problem = {0, at + static_cast<uint64_t>(reinterpret_cast<const unsigned char*>(keys) - p),
                   "key of chunk " + std::to_string(k + 1) + " in the index record has no NUL"};
        return false;
      }
      key->assign(keys, static_cast<const char*>(nul));
      keys = static_cast<const char*>(nul) + 1;
    }
    db.chunks.push_back(std::move(c));
  }
  return true;
}

bool record_bytes(const Database& db, size_t r, std::string_view& record, Problem& problem) {
  uint64_t begin = db.list[r].offset;
  uint64_t end = r + 1 < db.list.size() ? db.list[r + 1].offset : db.size;
  if (begin > db.size || end > db.size || end < begin) {
    problem = {static_cast<long>(r), begin,
               "record spans " + hex(begin) + ".." + hex(end) + ", outside the file of " +
                   std::to_string(db.size) + " bytes or backwards"};
    return false;
  }
  record = std::string_view(reinterpret_cast<const char*>(db.bytes) + begin, end - begin);
  return true;
}

bool chunk_text(const Database& db, size_t r, std::string& text, Problem& problem) {
  std::string_view record;
  if (r >= db.list.size() || !record_bytes(db, r, record, problem)) return false;
  if (db.flag == 0) {
    text.assign(record);
    return true;
  }
  std::vector<unsigned char> out;
  std::string error;
  if (!expand_record(reinterpret_cast<const unsigned char*>(record.data()), record.size(), kMaxRecordSize,
                     out, error)) {
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

std::string escape(std::string_view key) {
  std::string out;
  for (unsigned char c : key) {
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
  return out;
}

}  // namespace zelk
