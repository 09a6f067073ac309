#include "zelkdump/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "zelkdump/keys.h"

namespace zelk {

namespace {

struct IconvClose {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Descriptor = std::unique_ptr<void, IconvClose>;

// A conversion opened once per thread (iconv keeps state while it runs).
iconv_t converter(const std::string& to, const std::string& from) {
  static thread_local std::map<std::pair<std::string, std::string>, Descriptor> open;
  auto key = std::make_pair(to, from);
  auto it = open.find(key);
  if (it == open.end()) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
    it = open.emplace(key, Descriptor(cd)).first;
  }
  iconv(static_cast<iconv_t>(it->second.get()), nullptr, nullptr, nullptr, nullptr);
  return static_cast<iconv_t>(it->second.get());
}

// Converts in; returns the offset where a byte sequence could not be
// converted, or in.size() when all was.
size_t convert(iconv_t cd, std::string_view in, std::string& out) {
  out.clear();
  std::vector<char> buf(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  while (true) {
    char* dst = buf.data();
    size_t room = buf.size();
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
    if (r != static_cast<size_t>(-1)) break;
    if (errno != E2BIG) return in.size() - left;
  }
  char* dst = buf.data();
  size_t room = buf.size();
  iconv(cd, nullptr, nullptr, &dst, &room);  // back to the initial shift state
  out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
  return in.size();
}

bool valid_utf8(std::string_view text) {
  std::u32string chars;
  return decode_utf8(text, chars);
}

}  // namespace

bool charset_named(const std::string& name, Charset& charset) {
  if (converter("UTF-8", name) == reinterpret_cast<iconv_t>(-1) ||
      converter(name, "UTF-8") == reinterpret_cast<iconv_t>(-1)) {
    return false;
  }
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
    valid = valid_utf8(info.first) && valid_utf8(info.last);
  }
  if (valid && db.chunk_count > 0) {
    std::vector<unsigned char> record, text;
    Problem p;
    if (chunk_text(db, 1, record, text, p)) valid = valid_utf8(as_text(text));
  }
  if (valid) return utf8;
  Charset windows;
  charset_named("CP1252", windows);
  windows.assumed = true;
  return windows;
}

std::string to_utf8(const Charset& charset, std::string_view stored) {
  if (charset.utf8) return std::string(stored);
  iconv_t cd = converter("UTF-8", charset.name);
  std::string out, part;
  while (!stored.empty()) {
    size_t done = convert(cd, stored, part);
    out += part;
    if (done == stored.size()) break;
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(stored[done]));
    out += hex;
    stored.remove_prefix(done + 1);
    cd = converter("UTF-8", charset.name);
  }
  return out;
}

bool to_stored(const Charset& charset, std::string_view utf8, std::string& stored,
               std::string& problem) {
  std::u32string chars;
  if (charset.utf8 || !decode_utf8(utf8, chars)) {  // bytes that are not UTF-8: as they are
    stored.assign(utf8);
    return true;
  }
  size_t done = convert(converter(charset.name, "UTF-8"), utf8, stored);
  if (done == utf8.size()) return true;
  // The character that has no place: its UTF-8 bytes from done on.
  size_t length = 1;
  while (done + length < utf8.size() &&
         (static_cast<unsigned char>(utf8[done + length]) & 0xC0) == 0x80)
    ++length;
  std::u32string one;
  decode_utf8(utf8.substr(done, length), one);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", one.empty() ? 0u : static_cast<unsigned>(one[0]));
  problem = "'" + std::string(utf8.substr(done, length)) + "' (" + code + ") has no place in " +
            charset.name;
  return false;
}

}  // namespace zelk
