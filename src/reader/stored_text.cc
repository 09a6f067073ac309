#include "reader/stored_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "text/charset.h"
#include "text/utf8.h"

namespace zelk {

namespace {

// A conversion opened once per thread (iconv keeps state while it runs);
// null when iconv has none.
Converter* converter(const std::string& to, const std::string& from) {
  static thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>>
      open;
  auto key = std::make_pair(to, from);
  auto it = open.find(key);
  if (it == open.end()) {
    auto c = std::make_unique<Converter>();
    if (!try_open(*c, from, to)) return nullptr;
    it = open.emplace(key, std::move(c)).first;
  }
  return it->second.get();
}

// Converts in into out; returns the offset where a byte sequence could not
// be converted, or in.size() when all was.
size_t convert(Converter* c, std::string_view in, std::string& out) {
  Conversion done = convert(*c, in, out, nullptr);
  return done.ok ? in.size() : done.at;
}

}  // namespace

bool charset_named(const std::string& name, Charset& charset) {
  if (!converter("UTF-8", name) || !converter(name, "UTF-8")) return false;
  charset.name = name;
  std::string probe;
  charset.utf8 = convert(converter("UTF-8", name), "\xC3\xA9", probe) == 2 && probe == "\xC3\xA9";
  charset.assumed = false;
  return true;
}

Charset guess_charset(const Database& db) {
  Charset utf8;
  bool valid = true;
  // The keys of up to 256 chunks spread over the index: a lookup stays quick.
  size_t n = chunks_indexed(db), step = std::max<size_t>(1, n / 256);
  for (size_t k = 0; valid && k < n; k += step) {
    ChunkInfo info = chunk_info(db, k);
    valid = is_utf8(info.first) && is_utf8(info.last);
  }
  if (valid && db.chunk_count > 0) {
    std::vector<unsigned char> record, text;
    Problem p;
    if (chunk_text(db, 1, record, text, p)) valid = is_utf8(as_text(text));
  }
  if (valid) return utf8;
  Charset windows;
  charset_named("CP1252", windows);
  windows.assumed = true;
  return windows;
}

std::string to_utf8(const Charset& charset, std::string_view stored) {
  if (charset.utf8) return std::string(stored);
  Converter* c = converter("UTF-8", charset.name);
  std::string out, part;
  while (!stored.empty()) {
    size_t done = convert(c, stored, part);
    out += part;
    if (done == stored.size()) break;
    append_hex_byte(static_cast<unsigned char>(stored[done]), out);
    stored.remove_prefix(done + 1);
  }
  return out;
}

bool to_stored(const Charset& charset, std::string_view utf8, std::string& stored,
               std::string& problem) {
  if (charset.utf8 || !is_utf8(utf8)) {  // bytes that are not UTF-8: as they are
    stored.assign(utf8);
    return true;
  }
  size_t done = convert(converter(charset.name, "UTF-8"), utf8, stored);
  if (done == utf8.size()) return true;
  // The character that has no place: its UTF-8 bytes from done on.
  size_t length;
  char32_t c = utf8_at(utf8, done, &length);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  problem = "'" + std::string(utf8.substr(done, length)) + "' (" + code + ") has no place in " +
            charset.name;
  return false;
}

}  // namespace zelk
