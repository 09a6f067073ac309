#include <cstdarg>
#include <cstring>

#include "zelkimport/import.h"
#include "zelkimport/markup.h"

namespace zelk::import {

void fail(const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  throw ImportError{buf};
}

std::string describe(const Where& where) {
  return *where.file + (where.is_line ? ":" : ": entry ") + std::to_string(where.number);
}

std::string describe(const Where& where, std::string_view key) {
  return describe(where) + (where.is_line ? ": " : " ") + quote(key);
}

std::string quote(std::string_view text) {
  bool utf8 = utf8_valid_prefix(text) == text.size();
  std::string q = "'";
  size_t shown = 0;
  for (char ch : text) {
    if (++shown > 60) {
      q += "...";
      break;
    }
    auto b = static_cast<unsigned char>(ch);
    if (ch == '\t') {
      q += "\\t";
    } else if (ch == '\n') {
      q += "\\n";
    } else if (ch == '\r') {
      q += "\\r";
    } else if (b < 0x20 || b == 0x7F || (b >= 0x80 && !utf8)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      q += hex;
    } else {
      q += ch;
    }
  }
  return q + "'";
}

Sink::Sink(const Options& o) : options(o) {
  if (!o.from.empty()) open_converter(from_source, o.from, "UTF-8", false);
  if (!o.to.empty()) {
    open_converter(to_output, "UTF-8", o.to, o.translit);
    std::string wanted = !o.replace.empty() ? o.replace : o.translit ? "?" : "";
    if (!wanted.empty()) {
      Converter plain;
      open_converter(plain, "UTF-8", o.to, false);
      if (!convert(plain, wanted, replacement, nullptr).ok || replacement.empty()) {
        fail("the replacement %s cannot be written in %s", quote(wanted).c_str(), o.to.c_str());
      }
    }
  } else {
    replacement = o.replace;
  }
}

void take_entries(Sink& sink, Sink& part) {
  sink.out.insert(sink.out.end(), part.out.begin(), part.out.end());
  part.out = Bytes();
  sink.written += part.written;
  sink.repaired += part.repaired;
  for (const auto& [reason, count] : part.skipped) sink.skipped[reason] += count;
}

void skip_entry(Sink& sink, const Where& where, std::string_view key, const char* reason,
                const std::string& detail) {
  ++sink.skipped[reason];
  std::fprintf(sink.messages, "zelkimport: %s skipped: %s%s\n", describe(where, key).c_str(),
               reason, detail.c_str());
}

namespace {

bool is_blank(unsigned char b) { return b == ' ' || b == '\t' || b == '\v' || b == '\f' || b == 0; }
bool is_text(unsigned char b) { return b > ' ' || (b != '\n' && b != '\r' && !is_blank(b)); }

// What a key holds that zelkpack cannot keep, or nullptr.
const char* key_problem(std::string_view key) {
  for (char ch : key) {
    if (ch == '\t') return "a tab";
    if (ch == '\n') return "a line feed";
    if (ch == '\r') return "a carriage return";
    if (ch == '\0') return "a NUL byte";
  }
  if (key.find(" /// ") != std::string_view::npos) return "\" /// \"";
  return nullptr;
}

// Blanks out what a key cannot hold: tabs, line breaks and NULs become
// spaces, " /// " becomes " / ", runs of spaces one, ends trimmed.
void repair_key(std::string& key) {
  for (char& ch : key) {
    if (ch == '\t' || ch == '\n' || ch == '\r' || ch == '\0') ch = ' ';
  }
  for (size_t at; (at = key.find(" /// ")) != std::string::npos;) key.replace(at, 5, " / ");
  std::string tidy;
  for (char ch : key) {
    if (ch == ' ' && (tidy.empty() || tidy.back() == ' ')) continue;
    tidy += ch;
  }
  while (!tidy.empty() && tidy.back() == ' ') tidy.pop_back();
  key.swap(tidy);
}

// Converts text in place into the output's character set.
void to_output(Sink& sink, std::string& text, const Where& where, std::string_view key) {
  const std::string* replacement = sink.replacement.empty() ? nullptr : &sink.replacement;
  Conversion r = convert(sink.to_output, text, sink.conv_buf, replacement);
  if (!r.ok) {
    size_t length = 1;
    char32_t cp = utf8_at(text, r.at, &length);
    fail("%s: '%.*s' (U+%04X) cannot be written in %s; give --translit or --replace CHAR",
         describe(where, key).c_str(), static_cast<int>(length), text.data() + r.at,
         static_cast<unsigned>(cp), sink.to_output.to.c_str());
  }
  text.swap(sink.conv_buf);
}

}  // namespace

void flatten(std::string_view text, const std::string& separator, std::string& out) {
  out.clear();
  const char* p = text.data();
  const char* end = p + text.size();
  bool blank = false, brk = false;
  while (p < end) {
    auto b = static_cast<unsigned char>(*p);
    if (b == '\n' || b == '\r') {
      brk = true;
      ++p;
    } else if (is_blank(b)) {
      blank = true;
      ++p;
    } else {
      if (!out.empty()) {
        if (brk) {
          out += separator;
        } else if (blank) {
          out += ' ';
        }
      }
      brk = blank = false;
      // Text goes over in runs: words and the single spaces between them.
      const char* run = p++;
      while (p < end) {
        auto c = static_cast<unsigned char>(*p);
        if (c == ' ' && p + 1 < end && is_text(static_cast<unsigned char>(p[1]))) {
          p += 2;
        } else if (is_text(c)) {
          ++p;
        } else {
          break;
        }
      }
      out.append(run, static_cast<size_t>(p - run));
    }
  }
}

void add_entry(Sink& sink, std::string_view key, std::string_view value, const Where& where,
               bool markup) {
  if (is_open(sink.from_source) && !sink.source_in_utf8) {
    for (int part = 0; part < 2; ++part) {
      std::string_view text = part == 0 ? key : value;
      std::string& dest = part == 0 ? sink.key_buf : sink.utf8_buf;
      Conversion r = convert(sink.from_source, text, dest, nullptr);
      if (!r.ok) {
        return skip_entry(sink, where, key, "not valid in the source's character set",
                          " (" + sink.options.from + ", byte " + std::to_string(r.at + 1) +
                              " of the " + (part == 0 ? "key" : "definition") + ")");
      }
    }
    key = sink.key_buf;
    value = sink.utf8_buf;
  }
  for (int part = 0; part < 2; ++part) {
    std::string_view text = part == 0 ? key : value;
    size_t valid = utf8_valid_prefix(text);
    if (valid != text.size()) {
      return skip_entry(sink, where, key, "invalid UTF-8",
                        " (byte " + std::to_string(valid + 1) + " of the " +
                            (part == 0 ? "key" : "definition") + ")");
    }
  }
  if (key.size() >= 3 && std::memcmp(key.data(), "\xEF\xBB\xBF", 3) == 0) key.remove_prefix(3);

  std::string text;
  if (markup) {
    text = markup_to_text(value);
    value = text;
  }
  std::string& v = sink.value_buf;
  flatten(value, sink.options.separator, v);

  std::string& k = sink.key_buf;
  if (k.data() != key.data()) k.assign(key);
  if (const char* problem = key_problem(k)) {
    if (sink.options.bad_keys == BadKeys::kSkip) {
      return skip_entry(sink, where, k, "key holds a byte zelkpack cannot keep",
                        std::string(" (") + problem + ")");
    }
    std::string before = quote(k);
    repair_key(k);
    ++sink.repaired;
    std::fprintf(sink.messages, "zelkimport: %s: key %s holds %s; repaired as %s\n",
                 describe(where).c_str(), before.c_str(), problem, quote(k).c_str());
  }
  if (k.empty()) return skip_entry(sink, where, k, "empty key");
  if (is_open(sink.to_output)) {
    std::string original = k;
    to_output(sink, k, where, original);
    to_output(sink, v, where, original);
  }
  Bytes& out = sink.out;
  out.insert(out.end(), k.begin(), k.end());
  out.push_back('\t');
  out.insert(out.end(), v.begin(), v.end());
  out.push_back('\n');
  ++sink.written;
}

}  // namespace zelk::import
