#include "zelkimport/sink.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <future>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "convert/entry.h"
#include "format/format.h"
#include "toolkit/file.h"
#include "zelkimport/cuts.h"
#include "zelkimport/forms.h"

namespace zelk::import {

int layout_budget(const Options& o) {
  return o.long_definitions == Long::kWhole ? 65535 : o.chunksize;
}

Sink::Sink(const Options& o) : options(o), keep_reflowed(o.long_definitions != Long::kWhole) {
  stray = !o.replace.empty() ? o.replace : "\xEF\xBF\xBD";  // U+FFFD
  if (!o.to.empty()) {
    open_converter(to_output, "UTF-8", o.to, false);
    if (o.translit) open_converter(translit, "UTF-8", o.to, true);
    if (!o.replace.empty()) {
      if (!convert(to_output, o.replace, replacement, nullptr).ok || replacement.empty()) {
        die("the replacement %s cannot be written in %s", quote(o.replace).c_str(), o.to.c_str());
      }
    }
    std::string probe;
    if (o.replace.empty() && !o.translit && !convert(to_output, stray, probe, nullptr).ok) {
      stray = "?";
    }
  } else {
    replacement = o.replace;
  }
  unmappable.translit = is_open(translit) ? &translit : nullptr;
  unmappable.replacement = replacement.empty() ? nullptr : &replacement;
}

void take_entries(Sink& sink, Sink& part) {
  sink.out.insert(sink.out.end(), part.out.begin(), part.out.end());
  part.out.clear();
  sink.written += part.written;
  sink.repaired += part.repaired;
  sink.shortened += part.shortened;
  sink.long_keys += part.long_keys;
  for (Reflowed& r : part.reflowed) {
    r.first_line += sink.written - part.written;
    sink.reflowed.push_back(std::move(r));
  }
  part.reflowed.clear();
  sink.forms.insert(sink.forms.end(), part.forms.begin(), part.forms.end());
  sink.keys.insert(sink.keys.end(), part.keys.begin(), part.keys.end());
  for (auto& [key, values] : part.definitions) {
    auto& all = sink.definitions[key];
    all.insert(all.end(), values.begin(), values.end());
  }
  sink.continued += part.continued;
  sink.cut += part.cut;
  sink.unmappable.transliterated += part.unmappable.transliterated;
  sink.unmappable.replaced += part.unmappable.replaced;
  sink.longest_line = std::max(sink.longest_line, part.longest_line);
  for (const auto& [reason, count] : part.skipped) sink.skipped[reason] += count;
}

void skip_entry(Sink& sink, const Where& where, std::string_view key, std::string_view reason,
                std::string_view detail, bool quiet) {
  ++sink.skipped[std::string(reason)];
  if (sink.skipped_at) sink.skipped_at->emplace_back(*where.file, where.number);
  if (quiet) return;
  std::string what = key.empty() ? describe(where) + ":" : describe(where, key);
  note(sink.messages, "zelkimport: %s skipped: %.*s%.*s\n", what.c_str(),
       static_cast<int>(reason.size()), reason.data(), static_cast<int>(detail.size()),
       detail.data());
}

Bytes read_whole(const std::string& path) {
  Bytes data;
  read_whole_file(path, data);
  return data;
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

// Text in the output's character set: converted when it is not UTF-8.
void to_output(Sink& sink, std::string_view text, std::string& out, const Where& where,
               std::string_view key) {
  if (!is_open(sink.to_output)) {
    out.assign(text);
    return;
  }
  Conversion r = convert(sink.to_output, text, out, &sink.unmappable);
  if (!r.ok) {
    size_t length = 1;
    char32_t cp = utf8_at(text, r.at, &length);
    die("%s: '%.*s' (U+%04X) cannot be written in %s; give --translit or --replace CHAR",
        describe(where, key).c_str(), static_cast<int>(length), text.data() + r.at,
        static_cast<unsigned>(cp), sink.to_output.to.c_str());
  }
}

// The longest start of utf8, ending at a character boundary, whose output
// fits in room bytes; piece receives that output. Returns its length in utf8.
size_t fit(Sink& sink, std::string_view utf8, size_t room, std::string& piece, const Where& where,
           std::string_view key) {
  auto boundary = [&](size_t n) {
    while (n > 0 && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
    return n;
  };
  if (!is_open(sink.to_output)) {
    size_t n = boundary(std::min(room, utf8.size()));
    piece.assign(utf8.substr(0, n));
    return n;
  }
  // Converted pieces are not counted again: the whole text was.
  Unmappable counted = sink.unmappable;
  size_t fits = 0, too_long = utf8.size() + 1;  // lengths known to fit and not to fit
  std::string best;
  size_t guess = std::min(room, utf8.size());
  for (int round = 0; round < 24 && too_long - fits > 1; ++round) {
    size_t n = boundary(std::clamp(guess, fits + 1, too_long - 1));
    if (n <= fits) break;
    to_output(sink, utf8.substr(0, n), piece, where, key);
    if (piece.size() <= room) {
      fits = n;
      best.swap(piece);
      if (n == utf8.size()) break;
      guess = n + std::max<size_t>(1, (room - best.size()) / 2);
    } else {
      too_long = n;
      guess = fits + (too_long - fits) / 2;
    }
  }
  sink.unmappable = counted;
  piece.swap(best);
  return fits;
}

// Appends the line key<TAB>value<LF>.
void write_line(Sink& sink, std::string_view key, std::string_view value) {
  Bytes& out = sink.out;
  out.insert(out.end(), key.begin(), key.end());
  out.push_back('\t');
  out.insert(out.end(), value.begin(), value.end());
  out.push_back('\n');
  sink.longest_line = std::max(sink.longest_line, key.size() + 1 + value.size());
  sink.long_keys += key.size() > kMaxSortKey;
  ++sink.written;
}

// Writes the definition as lines of key k, each piece as long as room
// allows, cut at good places.
void write_continued(Sink& sink, const std::string& k, std::string_view value, const Cuts& cuts,
                     size_t room, const Where& where, std::string_view key) {
  ++sink.continued;
  for (size_t start = 0; start < value.size();) {
    std::string_view rest = value.substr(start);
    size_t n = fit(sink, rest, room, sink.piece_buf, where, key);
    size_t next = start + n;
    if (n < rest.size()) {
      size_t cut = n > 0 ? cut_at(cuts, value, start, n) : 0;
      if (cut == 0) {
        die("%s: -k %d leaves no room for a character of the definition",
            describe(where, key).c_str(), sink.options.chunksize);
      }
      if (cut < n) fit(sink, rest.substr(0, cut), room, sink.piece_buf, where, key);
      next = after_cut(value, start, cut);
    }
    write_line(sink, k, sink.piece_buf);
    start = next;
  }
}

}  // namespace

void write_entry(Sink& sink, std::string_view key, std::string_view value, const Where& where,
                 int chunksize) {
  const auto line_room = static_cast<size_t>(line_cap(chunksize).kept);
  // A key takes half the line at most, the rest is for the definition.
  const size_t key_room = (line_room - 1) / 2;
  const long first_line = sink.written;
  bool kept_whole = true, shortened = false;
  Cuts cuts;
  std::string k;
  to_output(sink, key, k, where, key);
  std::string_view whole_key = key;
  if (k.size() > key_room) {
    size_t n = fit(sink, key, key_room, k, where, key);
    ++sink.shortened;
    kept_whole = false;
    shortened = true;
    note(sink.messages, "zelkimport: %s: key shortened to its first %zu bytes\n",
         describe(where, key).c_str(), k.size());
    key = key.substr(0, n);
  }
  // In UTF-8 the value is written as it is; else converted first.
  std::string_view v = value;
  if (is_open(sink.to_output)) {
    to_output(sink, value, sink.conv_buf, where, key);
    v = sink.conv_buf;
  }
  const size_t room = line_room - 1 - k.size();
  if (v.size() <= room) {
    write_line(sink, k, v);
  } else if (sink.options.long_definitions == Long::kCut) {
    fit(sink, value, room, sink.piece_buf, where, key);
    ++sink.cut;
    kept_whole = false;
    write_line(sink, k, sink.piece_buf);
  } else {
    kept_whole = false;
    if (value.size() > UINT32_MAX) {
      die("%s: a definition of %zu bytes, over 4 GiB", describe(where, key).c_str(), value.size());
    }
    cuts = find_cuts(value);
    write_continued(sink, k, value, cuts, room, where, key);
  }
  if (!kept_whole && sink.keep_reflowed) {
    if (cuts.blanks.empty() && cuts.glued.empty() && cuts.references.empty()) {
      cuts = find_cuts(value);  // at another K its definition may go on in further lines
    }
    sink.reflowed.push_back(Reflowed{std::string(whole_key), std::string(value), first_line,
                                     sink.written - first_line, shortened, std::move(cuts)});
  }
}

size_t fit_output(Sink& sink, std::string_view utf8, size_t room, std::string& out) {
  std::string name = "the name";
  return fit(sink, utf8, room, out, Where{&name, 0, false}, utf8);
}

namespace {

// Where the first byte from p on stands that is a control byte, or a blank
// followed by a blank or a control byte: sixteen bytes at a time, what runs
// of words take up. Stops short of the end; what is left the caller reads.
const char* past_plain_text(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i controls = _mm_set1_epi8(0x1F), blanks = _mm_set1_epi8(0x20);
  while (end - p >= 17) {  // sixteen bytes and the one after
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, controls), v);
    __m128i blank_then_blank =
        _mm_and_si128(_mm_cmpeq_epi8(v, blanks), _mm_cmpeq_epi8(_mm_min_epu8(next, blanks), next));
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, blank_then_blank)));
    if (mask) return p + std::countr_zero(mask);
    p += 16;
  }
#else
  (void)end;
#endif
  return p;
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
      p = past_plain_text(p, end);
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

namespace {

// Text the readers hand on is UTF-8; should a byte not be, it becomes
// sink.stray rather than reach the output.
std::string_view in_utf8(Sink& sink, std::string_view text, std::string& scratch) {
  if (is_utf8(text)) return text;
  scratch.clear();
  while (!text.empty()) {
    size_t valid = utf8_valid_prefix(text);
    scratch.append(text.substr(0, valid));
    if (valid == text.size()) break;
    scratch += sink.stray;
    text.remove_prefix(valid + 1);
  }
  return scratch;
}

// The key as zelkpack can keep it: repaired, or with --bad-keys skip
// skipped; false when it is skipped or empty.
bool usable_key(Sink& sink, std::string& k, const Where& where) {
  if (const char* problem = key_problem(k)) {
    if (sink.options.bad_keys == BadKeys::kSkip) {
      skip_entry(sink, where, k, "key holds a byte zelkpack cannot keep",
                 std::string(" (") + problem + ")");
      return false;
    }
    std::string before = quote(k);
    repair_key(k);
    ++sink.repaired;
    note(sink.messages, "zelkimport: %s: key %s holds %s; repaired as %s\n",
         describe(where).c_str(), before.c_str(), problem, quote(k).c_str());
  }
  if (k.empty()) {
    skip_entry(sink, where, k, "empty key");
    return false;
  }
  return true;
}

}  // namespace

void add_entry(Sink& sink, std::string_view key, std::string_view value, const Where& where) {
  key = in_utf8(sink, key, sink.key_buf);
  if (key.size() >= 3 && std::memcmp(key.data(), "\xEF\xBB\xBF", 3) == 0) key.remove_prefix(3);
  std::string& v = sink.value_buf;
  flatten(in_utf8(sink, value, sink.utf8_buf), sink.options.separator, v);
  std::string& k = sink.key_buf;
  if (k.data() != key.data()) k.assign(key);
  if (!usable_key(sink, k, where)) return;
  if (!sink.options.forms.empty()) sink.keys.push_back(k);
  if (sink.options.copy_forms) sink.definitions[k].push_back(v);
  write_entry(sink, k, v, where, layout_budget(sink.options));
}

bool clean_key(Sink& sink, std::string_view key, const Where& where, std::string& out) {
  std::string scratch;
  key = in_utf8(sink, key, scratch);
  if (key.size() >= 3 && std::memcmp(key.data(), "\xEF\xBB\xBF", 3) == 0) key.remove_prefix(3);
  out.assign(key);
  return usable_key(sink, out, where);
}

namespace {

// The items of [first, last) of batch, in order.
void take_items(Sink& sink, const sources::Batch& batch, size_t first, size_t last) {
  using sources::Kind;
  for (size_t i = first; i < last; ++i) {
    const sources::Item& item = batch.items[i];
    auto text = [&](int n) { return sources::text_of(batch, item, n); };
    switch (item.kind) {
      case Kind::kEntry:
        add_entry(sink, text(0), text(1), item.where);
        break;
      case Kind::kForm:
        add_form(sink, text(0), text(1), item.where);
        break;
      case Kind::kSkip:
        skip_entry(sink, item.where, text(0), text(1), text(2), item.quiet);
        break;
      case Kind::kNote: {
        std::string_view said = text(0);
        note(sink.messages, "zelkimport: %s: %.*s\n", describe(item.where).c_str(),
             static_cast<int>(said.size()), said.data());
        break;
      }
    }
  }
}

}  // namespace

void take_batch(Sink& sink, const sources::Batch& batch) {
  // A large batch is cleaned in two halves side by side: the second half's
  // lines and messages are put after the first's, as if it had been read in
  // one go.
  const size_t n = batch.items.size();
  if (n < 4096 || std::thread::hardware_concurrency() < 2) return take_items(sink, batch, 0, n);
  const size_t half = n / 2;
  Sink second(sink.options);
  second.stray = sink.stray;
  second.out.swap(sink.spare);  // the room of the batches before
  Captured said;                // the second half's messages, until the first half is done
  second.messages = sink.messages ? said.f : nullptr;
  std::vector<std::pair<std::string, long>> second_skipped;
  if (sink.skipped_at) second.skipped_at = &second_skipped;
  std::future<void> later =
      std::async(std::launch::async, take_items, std::ref(second), std::cref(batch), half, n);
  try {
    take_items(sink, batch, 0, half);
  } catch (...) {
    later.wait();  // what the second half found comes after the first failure: dropped
    throw;
  }
  std::exception_ptr failed;
  try {
    later.get();
  } catch (...) {
    failed = std::current_exception();
  }
  std::string messages = said.text();
  if (!messages.empty()) note(sink.messages, "%s", messages.c_str());
  take_entries(sink, second);
  sink.spare.swap(second.out);
  if (sink.skipped_at) {
    sink.skipped_at->insert(sink.skipped_at->end(), second_skipped.begin(), second_skipped.end());
  }
  if (failed) std::rethrow_exception(failed);
}

namespace {

// The set a text with bytes invalid in UTF-8 was most likely saved in: the
// Windows set when it uses the bytes 0x80..0x9F for letters, else Latin-1.
const char* likely_charset(std::string_view invalid_bytes) {
  for (char ch : invalid_bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b <= 0x9F) return "CP1252";
  }
  return "ISO-8859-1";
}

}  // namespace

void finish_reading(Sink& sink, const sources::Emit& emit, const std::string& source) {
  const sources::Damage& damage = emit.damage;
  sink.invalid = damage.units;
  sink.invalid_lines = damage.lines;
  sink.counted = emit.counted;
  // A handful: a few stray bytes, or one entry in a thousand.
  long handful = std::max<long>(3, (sink.written + damage.units) / 1000);
  if (damage.units > handful) {
    die("%s is not UTF-8: %ld %s hold bytes that are not, the first %s; give --from %s (or the "
        "character set it was saved in)",
        source.c_str(), damage.units, damage.lines ? "lines" : "entries", damage.first.c_str(),
        likely_charset(damage.sample));
  }
  for (const std::string& said : damage.notes) {
    note(sink.messages, "zelkimport: %s\n", said.c_str());
  }
  if (damage.units > static_cast<long>(damage.notes.size())) {
    note(sink.messages, "zelkimport: ... and %zu more %s with bytes replaced\n",
         static_cast<size_t>(damage.units) - damage.notes.size(),
         damage.lines ? "lines" : "entries");
  }
  if (sink.written == 0) die("%s: no entries to write", source.c_str());
}

}  // namespace zelk::import
