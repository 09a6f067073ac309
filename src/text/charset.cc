#include "text/charset.h"

#include <cerrno>

#include "text/utf8.h"
#include "toolkit/error.h"

namespace zelk {

Converter::~Converter() {
  if (is_open(*this)) iconv_close(cd);
}

bool try_open(Converter& c, const std::string& from, const std::string& to, bool translit) {
  std::string target = translit ? to + "//TRANSLIT" : to;
  c.cd = iconv_open(target.c_str(), from.c_str());
  c.from = from;
  c.to = to;
  return is_open(c);
}

void open_converter(Converter& c, const std::string& from, const std::string& to, bool translit) {
  if (!try_open(c, from, to, translit)) {
    die("cannot convert from %s to %s: unknown character set", from.c_str(), to.c_str());
  }
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
      out.resize(used);
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

}  // namespace zelk
