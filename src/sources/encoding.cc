#include "sources/encoding.h"

#include <simdjson.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "text/utf8.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

constexpr size_t kBlock = 1 << 20;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string upper_case(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
  return name;
}

bool is_utf8_name(const std::string& name) {
  std::string upper = upper_case(name);
  return upper.empty() || upper == "UTF-8" || upper == "UTF8";
}

bool same_set(const std::string& a, const std::string& b) {
  return (is_utf8_name(a) && is_utf8_name(b)) || upper_case(a) == upper_case(b);
}

// A replaced byte: where its replacement stands in the output, and the byte.
struct Spot {
  size_t at;
  char byte;
};

size_t decode_utf8(const Decoder& d, std::string_view bytes, std::string& out,
                   std::vector<Spot>* spots) {
  if (simdjson::validate_utf8(bytes.data(), bytes.size())) {
    out.append(bytes);
    return 0;
  }
  size_t replaced = 0;
  while (!bytes.empty()) {
    size_t valid = utf8_valid_prefix(bytes);
    out.append(bytes.substr(0, valid));
    if (valid == bytes.size()) break;
    if (spots) spots->push_back(Spot{out.size(), bytes[valid]});
    out += d.stray;
    ++replaced;
    bytes.remove_prefix(valid + 1);
  }
  return replaced;
}

size_t decode_set(Decoder& d, std::string_view bytes, std::string& out, std::vector<Spot>* spots) {
  size_t replaced = 0;
  std::string piece;
  while (!bytes.empty()) {
    Conversion r = convert(d.conv, bytes, piece, nullptr);
    out += piece;
    if (r.ok) break;
    if (spots) spots->push_back(Spot{out.size(), bytes[r.at]});
    out += d.stray;
    ++replaced;
    bytes.remove_prefix(std::min(bytes.size(), r.at + d.unit));
  }
  return replaced;
}

size_t decode_spotted(Decoder& d, std::string_view bytes, std::string& out,
                      std::vector<Spot>* spots) {
  return d.charset.empty() ? decode_utf8(d, bytes, out, spots) : decode_set(d, bytes, out, spots);
}

bool big_endian(const Decoder& d) { return d.charset.ends_with("BE"); }

// How many of raw's bytes end at a character's end and can be decoded now;
// the rest waits for the next block. Sets of one-byte units are cut after a
// line feed, which is a character of its own in each of them.
size_t decodable(TextStream& s) {
  const std::string& raw = s.raw;
  if (s.ended) return raw.size();
  const Decoder& d = s.decoder;
  if (d.unit == 1) {
    for (size_t at = raw.size(); at > s.clean; --at) {
      if (raw[at - 1] == '\n') return at;
    }
    s.clean = raw.size();
    return 0;
  }
  size_t n = raw.size() - raw.size() % d.unit;
  if (d.unit == 2 && n >= 2) {  // a first surrogate waits for its second
    auto high = static_cast<unsigned char>(big_endian(d) ? raw[n - 2] : raw[n - 1]);
    if (high >= 0xD8 && high <= 0xDB) n -= 2;
  }
  return n;
}

size_t count_lines(std::string_view text) {
  size_t n = 0;
  for (const char* p = text.data();
       (p = static_cast<const char*>(
            std::memchr(p, '\n', text.size() - static_cast<size_t>(p - text.data()))));) {
    ++n;
    ++p;
  }
  return n;
}

// The line of text around at.
std::string_view line_at(std::string_view text, size_t at) {
  size_t begin = text.rfind('\n', at == 0 ? 0 : at - 1);
  begin = begin == std::string_view::npos || begin >= at ? 0 : begin + 1;
  size_t end = text.find('\n', at);
  return text.substr(begin, (end == std::string_view::npos ? text.size() : end) - begin);
}

// Counts the lines of out (from start on) that hold replaced bytes.
void count_spots(TextStream& s, const std::string& out, size_t start,
                 const std::vector<Spot>& spots) {
  long line = s.lines + 1, current = 0, replaced = 0;
  size_t counted_to = start, at = 0;
  std::string bytes;
  s.emit->damage.lines = true;
  auto count = [&] {
    if (replaced) {
      count_damage(s.emit->damage, Where{s.name, current, true}, bytes, replaced, s.decoder.unit,
                   s.decoder.charset, line_at(out, at));
    }
    bytes.clear();
    replaced = 0;
  };
  for (const Spot& spot : spots) {
    line += static_cast<long>(
        count_lines(std::string_view(out).substr(counted_to, spot.at - counted_to)));
    counted_to = spot.at;
    if (line != current) {
      count();
      current = line;
      at = spot.at;
    }
    bytes += spot.byte;
    ++replaced;
  }
  count();
}

// Decodes bytes into out; while the text has been ASCII, the first other
// bytes decide between UTF-8 and the set the source declares.
void decode_block(TextStream& s, std::string_view bytes, std::string& out) {
  if (s.ascii_so_far && s.decoder.charset.empty()) {
    size_t at = 0;
    while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
    if (at < bytes.size()) {
      s.ascii_so_far = false;
      std::string_view window = bytes.substr(at, 1 << 16);
      size_t valid = utf8_valid_prefix(window);
      bool utf8 = valid == window.size() || (window.size() == 1 << 16 && valid + 4 > window.size());
      if (!utf8 && !s.declared.empty()) {
        out.append(bytes.substr(0, at));
        bytes.remove_prefix(at);
        open_decoder(s.decoder, s.declared, s.decoder.stray);
        warn(*s.emit, Where{s.name, 0, true},
             "read as " + s.declared + ", the set it declares, its text not being UTF-8");
      }
    }
  }
  std::vector<Spot> spots;
  size_t start = out.size();
  decode_spotted(s.decoder, bytes, out, &spots);
  if (!spots.empty()) count_spots(s, out, start, spots);
  s.lines += static_cast<long>(count_lines(std::string_view(out).substr(start)));
}

// Reads up to size more bytes into s.raw; false at the file's end.
bool fill(TextStream& s, size_t size) {
  size_t have = s.raw.size();
  s.raw.resize(have + size);
  size_t n = read_input(s.in, s.raw.data() + have, size);
  s.raw.resize(have + n);
  s.ended = n < size;
  return n > 0;
}

// The set a byte order mark names, and its length; or the set the zero bytes
// of the first characters show (UTF-16 without a mark).
const char* mark_or_zeros(std::string_view head, size_t* mark) {
  struct Mark {
    std::string_view bytes;
    const char* set;
  };
  static const Mark kMarks[] = {{std::string_view("\xFF\xFE\0\0", 4), "UTF-32LE"},
                                {std::string_view("\0\0\xFE\xFF", 4), "UTF-32BE"},
                                {"\xFF\xFE", "UTF-16LE"},
                                {"\xFE\xFF", "UTF-16BE"},
                                {kUtf8Mark, "UTF-8"}};
  for (const Mark& m : kMarks) {
    if (head.starts_with(m.bytes)) {
      *mark = m.bytes.size();
      return m.set;
    }
  }
  *mark = 0;
  size_t even = 0, odd = 0, pairs = std::min<size_t>(head.size(), 4096) / 2;
  for (size_t i = 0; i < pairs; ++i) {
    even += head[2 * i] == '\0';
    odd += head[2 * i + 1] == '\0';
  }
  if (pairs >= 2 && odd * 8 >= pairs && even * 8 <= odd) return "UTF-16LE";
  if (pairs >= 2 && even * 8 >= pairs && odd * 8 <= even) return "UTF-16BE";
  return nullptr;
}

}  // namespace

void open_decoder(Decoder& d, const std::string& charset, const std::string& stray) {
  d.stray = stray;
  if (is_utf8_name(charset)) {
    d.charset.clear();
    d.unit = 1;
    return;
  }
  Converter fresh;
  open_converter(fresh, charset, "UTF-8", false);
  std::swap(d.conv.cd, fresh.cd);
  d.conv.from = charset;
  d.conv.to = "UTF-8";
  d.charset = charset;
  std::string upper = upper_case(charset);
  d.unit = upper.starts_with("UTF-32") || upper.starts_with("UCS-4")   ? 4
           : upper.starts_with("UTF-16") || upper.starts_with("UCS-2") ? 2
                                                                       : 1;
}

size_t decode(Decoder& d, std::string_view bytes, std::string& out) {
  return decode_spotted(d, bytes, out, nullptr);
}

std::string_view decode_piece(Decoder& d, std::string_view bytes, std::string& scratch,
                              Damage& damage, const Where& where) {
  if (d.charset.empty() && simdjson::validate_utf8(bytes.data(), bytes.size())) return bytes;
  scratch.clear();
  std::vector<Spot> spots;
  decode_spotted(d, bytes, scratch, &spots);
  if (spots.empty()) return scratch;
  std::string sample;
  for (const Spot& spot : spots) sample += spot.byte;
  count_damage(damage, where, sample, static_cast<long>(spots.size()), d.unit, d.charset, scratch);
  return scratch;
}

void open_text(TextStream& s, const std::string& path, const Reading& reading, Emit& emit,
               std::string (*declared)(std::string_view head)) {
  s.in = open_input(path);
  s.name = &path;
  s.emit = &emit;
  fill(s, kBlock);
  size_t mark = 0;
  const char* found = mark_or_zeros(s.raw, &mark);
  std::string charset = found ? found : "";
  if (!reading.from.empty()) {
    charset = upper_case(reading.from);
    // UTF-16 or UTF-32 without an order: the mark's, else big-endian.
    if (charset == "UTF-16" || charset == "UTF-32") {
      charset = found && std::string(found).starts_with(charset) ? found : charset + "BE";
    } else {
      charset = reading.from;
    }
    if (!found || !same_set(found, charset)) mark = 0;  // a mark of another set is text
  }
  s.raw.erase(0, mark);
  open_decoder(s.decoder, charset, reading.stray);
  if (reading.from.empty() && found && !s.decoder.charset.empty()) {
    warn(emit, Where{&path, 0, true},
         "read as " + charset + (mark ? " (its byte order mark)" : " (its zero bytes)"));
  }
  if (declared && s.decoder.charset.empty() && reading.from.empty()) s.declared = declared(s.raw);
}

bool read_text(TextStream& s, std::string& out, size_t want) {
  const size_t before = out.size();
  while (out.size() - before < want) {
    if (!s.ended) fill(s, std::max(kBlock, want));
    if (s.raw.empty()) break;
    size_t n = decodable(s);
    if (n == 0) continue;
    size_t start = out.size();
    decode_block(s, std::string_view(s.raw).substr(0, n), out);
    s.raw.erase(0, n);
    s.clean = 0;
    if (s.at_start && out.size() > start) {
      if (std::string_view(out).substr(start).starts_with(kUtf8Mark)) out.erase(start, 3);
      s.at_start = false;
    }
  }
  return out.size() > before;
}

bool next_line(Lines& lines, std::string_view* line) {
  std::string& buf = lines.buf;
  for (;;) {
    size_t from = std::max(lines.pos, lines.scanned);
    const void* found = std::memchr(buf.data() + from, '\n', buf.size() - from);
    bool more = !(lines.text.ended && lines.text.raw.empty());
    if (found || !more) {
      if (!found && lines.pos == buf.size()) return false;
      size_t end =
          found ? static_cast<size_t>(static_cast<const char*>(found) - buf.data()) : buf.size();
      size_t length = end - lines.pos;
      if (length > 0 && buf[end - 1] == '\r') --length;
      *line = std::string_view(buf).substr(lines.pos, length);
      lines.pos = found ? end + 1 : end;
      ++lines.number;
      return true;
    }
    // Room for more: what was handed out goes, and the rest of a long line
    // is not searched again.
    buf.erase(0, lines.pos);
    lines.scanned = buf.size();
    lines.pos = 0;
    read_text(lines.text, buf, std::max(kBlock, buf.size()));
  }
}

}  // namespace zelk::sources
