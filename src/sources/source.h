// What a reader of a source format hands on: entries, forms, and what it
// left out or had to mend, in the order of the source, a batch at a time;
// where each came from; and what it learnt of the source as a whole (its
// title, the parts of its text it counted instead of writing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::sources {

// Where a part of the source is, for messages: "wn.index:17" or
// "gcide.idx: entry 17".
struct Where {
  const std::string* file;
  long number;
  bool is_line;  // number is a line (file:N), else an entry (file: entry N)
};
std::string describe(const Where& where);  // "file" alone for number 0
// The same with a key: "wn.index:17: 'apple'", "gcide.idx: entry 17 'apple'";
// without one for an empty key.
std::string describe(const Where& where, std::string_view key);

// Runs of blanks and line breaks as one space, none at either end.
void flatten_blanks(std::string_view text, std::string& out);

// Quotes a key for a message: control bytes escaped, cut after ~60 bytes.
std::string quote(std::string_view text);

enum class Kind : uint8_t {
  kEntry,  // texts: key, definition (UTF-8; a line break is a paragraph's end)
  kForm,   // texts: form, headword: the form points at the headword
  kSkip,   // texts: key, reason, detail: a part of the source not written
  kNote,   // texts: message: something the reader mended, said in its place
};

struct Item {
  Kind kind;
  bool quiet;  // a skip counted without a message of its own
  Where where;
  size_t at;          // the first text's place in Batch::text
  size_t sizes[3]{};  // the texts, one after the other
};

struct Batch {
  std::string text;
  std::vector<Item> items;
};

// The n-th text of item (0, 1 or 2).
std::string_view text_of(const Batch& batch, const Item& item, int n);

// Bytes of the source that are not valid in its character set, replaced by
// U+FFFD (or --replace) and counted by the line or entry they are in.
struct Damage {
  long units = 0;                  // lines or entries with bytes replaced
  bool lines = false;              // they are lines (of a text read as it comes)
  std::string first;               // where the first of them is
  std::string sample;              // some of those bytes, to guess the set they are in
  std::vector<std::string> notes;  // the first of them, said when the import goes on
};

// Counts a unit with replaced bytes: where it is ("wn.index:17"), the
// replaced bytes, how many replacements (each of a byte, or of a
// character of a set of wider characters: unit), the set, and its text.
void count_damage(Damage& damage, const Where& where, std::string_view bytes, long replaced,
                  size_t unit, const std::string& charset, std::string_view text);

struct Emit {
  std::function<void(Batch&)> take;  // takes each full batch (and the last) in order
  size_t batch_bytes = 4 << 20;      // the text a batch holds before it is taken
  Batch batch;
  size_t expected = 0;                  // about the bytes of text the source holds, once known
  std::string title;                    // the source's name for itself, if it gives one
  std::map<std::string, long> counted;  // parts of the text counted, not written: what -> how many
  Damage damage;
};

void add_entry(Emit& emit, std::string_view key, std::string_view definition, const Where& where);
void add_form(Emit& emit, std::string_view form, std::string_view headword, const Where& where);
// A part of the source not written, counted by reason; quiet: without a
// message for each (a language left out, a header line).
void skip(Emit& emit, const Where& where, std::string_view key, std::string_view reason,
          std::string_view detail = {}, bool quiet = false);
void warn(Emit& emit, const Where& where, std::string_view message);
// Hands the batch on; readers end with it.
void flush(Emit& emit);

}  // namespace zelk::sources
