#include "sources/source.h"

#include "text/utf8.h"

namespace zelk::sources {

std::string describe(const Where& where) {
  if (where.number == 0) return *where.file;
  return *where.file + (where.is_line ? ":" : ": entry ") + std::to_string(where.number);
}

std::string describe(const Where& where, std::string_view key) {
  if (key.empty()) return describe(where);
  return describe(where) + (where.is_line ? ": " : " ") + quote(key);
}

void flatten_blanks(std::string_view text, std::string& out) {
  out.clear();
  bool blank = false;
  for (char ch : text) {
    if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += ch;
  }
}

std::string quote(std::string_view text) {
  Escaping how;
  how.double_backslash = false;
  how.upper_hex = true;
  how.high_bytes = !is_utf8(text);
  how.max = 60;
  return "'" + escape_bytes(text, how) + "'";
}

std::string_view text_of(const Batch& batch, const Item& item, int n) {
  size_t at = item.at;
  for (int i = 0; i < n; ++i) at += item.sizes[i];
  return std::string_view(batch.text).substr(at, item.sizes[n]);
}

void count_damage(Damage& damage, const Where& where, std::string_view bytes, long replaced,
                  size_t unit, const std::string& charset, std::string_view text) {
  std::string in = describe(where) + (where.is_line ? ": " : " ") + quote(text);
  if (damage.units++ == 0) damage.first = in;
  if (damage.sample.size() < 256) damage.sample.append(bytes.substr(0, 256 - damage.sample.size()));
  if (damage.notes.size() < 20) {
    const char* what = unit == 1 ? "byte" : "character";
    damage.notes.push_back(describe(where) + ": " + std::to_string(replaced) + " " + what +
                           (replaced == 1 ? "" : "s") + " not valid " +
                           (charset.empty() ? "UTF-8" : charset) + " replaced in " + quote(text));
  }
}

namespace {

void add(Emit& emit, Kind kind, const Where& where, std::initializer_list<std::string_view> texts,
         bool quiet = false) {
  Item item{kind, quiet, where, emit.batch.text.size()};
  int n = 0;
  for (std::string_view t : texts) {
    emit.batch.text.append(t);
    item.sizes[n++] = t.size();
  }
  emit.batch.items.push_back(item);
  if (emit.batch.text.size() >= emit.batch_bytes) flush(emit);
}

}  // namespace

void add_entry(Emit& emit, std::string_view key, std::string_view definition, const Where& where) {
  add(emit, Kind::kEntry, where, {key, definition});
}

void add_form(Emit& emit, std::string_view form, std::string_view headword, const Where& where) {
  add(emit, Kind::kForm, where, {form, headword});
}

void skip(Emit& emit, const Where& where, std::string_view key, std::string_view reason,
          std::string_view detail, bool quiet) {
  add(emit, Kind::kSkip, where, {key, reason, detail}, quiet);
}

void warn(Emit& emit, const Where& where, std::string_view message) {
  add(emit, Kind::kNote, where, {message});
}

void flush(Emit& emit) {
  if (emit.batch.items.empty()) return;
  if (emit.take) emit.take(emit.batch);
  emit.batch.text.clear();
  emit.batch.items.clear();
}

}  // namespace zelk::sources
