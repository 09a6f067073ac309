#include "zelkimport/charset.h"

#include <cerrno>

#include "zelkimport/import.h"

namespace zelk::import {

Converter::~Converter() {
  if (is_open(*this)) iconv_close(cd);
}

void open_converter(Converter& c, const std::string& from, const std::string& to, bool translit) {
  std::string target = translit ? to + "//TRANSLIT" : to;
  c.cd = iconv_open(target.c_str(), from.c_str());
  if (!is_open(c)) {
    die("cannot convert from %s to %s: unknown character set", from.c_str(), to.c_str());
  }
  c.from = from;
  c.to = to;
}

Conversion convert(Converter& c, std::string_view in, std::string& out, Unmappable* unmappable) {
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  size_t used = 0;
  iconv(c.cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  auto step = [&](char** from, size_t* from_left) -> int {
    char* dst = out.data() + used;
    size_t dst_left = out.size() - used;
    size_t r = iconv(c.cd, from, from_left, &dst, &dst_left);
    used = static_cast<size_t>(dst - out.data());
    return r == static_cast<size_t>(-1) ? errno : 0;
  };
  for (;;) {
    int error = step(&src, &src_left);
    if (error == 0) break;
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    size_t at = in.size() - src_left;
    if (error != EILSEQ || !unmappable || (!unmappable->translit && !unmappable->replacement)) {
      return Conversion{false, at};
    }
    size_t length = 1;
    utf8_at(in, at, &length);
    out.resize(used);
    std::string instead;
    if (unmappable->translit) {
      Conversion t = convert(*unmappable->translit, in.substr(at, length), instead, nullptr);
      if (!t.ok) return Conversion{false, at};
      ++(instead == "?" ? unmappable->replaced : unmappable->transliterated);
    } else {
      instead = *unmappable->replacement;
      ++unmappable->replaced;
    }
    out += instead;
    used = out.size();
    out.resize(used + src_left * 2 + 16);
    src += length;
    src_left -= length;
  }
  for (;;) {  // back to the initial shift state
    int error = step(nullptr, nullptr);
    if (error == 0) break;
    if (error != E2BIG) return Conversion{false, in.size()};
    out.resize(out.size() * 2);
  }
  out.resize(used);
  return Conversion{};
}

size_t utf8_valid_prefix(std::string_view in) {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  size_t n = in.size(), i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time.
    while (i + 8 <= n) {
      uint64_t word;
      __builtin_memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return i;
    }
    if (i + len > n || p[i + 1] < lo || p[i + 1] > hi) return i;
    for (size_t k = 2; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return i;
    }
    i += len;
  }
  return n;
}

char32_t utf8_at(std::string_view in, size_t at, size_t* length) {
  auto b = static_cast<unsigned char>(in[at]);
  size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  if (at + len > in.size()) len = in.size() - at;
  char32_t cp = len == 1 ? b : b & (0x3F >> (len - 1));
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(in[at + k]) & 0x3F);
  *length = len;
  return cp;
}

}  // namespace zelk::import
