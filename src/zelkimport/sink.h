// zelkimport's output: what the source readers hand on becomes zelkpack's
// input, one "key<TAB>value<LF>" line per entry, in the device's character
// set.
//
// Every entry is cleaned the same way whatever its source: line breaks to
// the separator, runs of blanks to one space, keys with bytes zelkpack
// cannot keep repaired or skipped, then into the output's character set and
// laid out in lines of the chunk budget.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sources/input.h"
#include "sources/source.h"
#include "text/charset.h"
#include "text/utf8.h"
#include "toolkit/error.h"
#include "zelkimport/cuts.h"

namespace zelk::import {

using sources::Bytes;
using sources::describe;
using sources::quote;
using sources::view;
using sources::Where;

enum class BadKeys { kRepair, kSkip };

// What becomes of a definition too long for one entry line at K.
enum class Long {
  kSplit,  // it goes on in further entries of the same key
  kCut,    // it is cut at a character boundary
  kWhole,  // K is chosen to hold the longest (split only past 65535)
};

// The least chunk budget an import takes: room for a key and a definition.
inline constexpr int kMinImportChunkSize = 16;

// The options of every import, whatever its source.
struct Options {
  std::string separator = " ";  // what a line break inside a definition becomes
  BadKeys bad_keys = BadKeys::kRepair;
  std::string to;         // the output's character set; empty: UTF-8
  bool translit = false;  // unmappable characters transliterated, else '?'
  std::string replace;    // unmappable characters become this (UTF-8)
  int chunksize = 4096;   // the -k the summary measures against
  Long long_definitions = Long::kSplit;
  std::vector<std::string> forms;  // --forms: lists of forms, hunspell:LANG
  std::string lang_code;           // --lang-code: the language of a Wiktionary list's forms
  std::string form_text;           // --form-text: a form's value, %s for its headwords
  bool copy_forms = false;         // --form-entries copy: a form repeats the definitions
};

// The chunk budget entries are laid out for while they are read: K, or the
// most there is when K is chosen afterwards.
int layout_budget(const Options& options);

// An entry written in more than one line, cut, or with its key shortened:
// kept whole, so that the advice on -k can lay it out again at another K.
struct Reflowed {
  std::string key, value;  // UTF-8, cleaned
  long first_line;         // the first of its lines among those written
  long lines;              // how many lines it was written in
  bool key_shortened;      // its key was shortened to fit
  Cuts cuts = {};          // where its definition may be cut, when it went on in further lines
};

// A form and the headword it points at, in UTF-8, cleaned; from: where it
// came from (Sink::form_sources).
struct Form {
  std::string form, headword;
  uint8_t from = 0;
};

struct Sink {
  explicit Sink(const Options& options);

  const Options& options;
  Converter to_output;         // from UTF-8, when the output is in another set
  Converter translit;          // the same with //TRANSLIT, for --translit
  std::string replacement;     // --replace in the output's character set
  std::string stray;           // what an invalid byte of the source becomes (UTF-8)
  Unmappable unmappable;       // what --translit and --replace did, counted
  Bytes out;                   // the output text
  Bytes spare;                 // room for a batch's second half, kept from batch to batch
  long written = 0;            // entry lines written
  long repaired = 0;           // keys repaired
  long shortened = 0;          // keys shortened to fit an entry line
  long long_keys = 0;          // lines whose key is over 127 bytes (sorted by its first 127)
  long continued = 0;          // definitions that go on in further entries
  long cut = 0;                // definitions cut (--long cut)
  long invalid = 0;            // lines or entries of the source with bytes replaced
  bool invalid_lines = false;  // ... lines (of a text read as it comes)
  size_t longest_line = 0;     // bytes of the longest entry line before its line feed
  std::map<std::string, long> skipped;  // reason -> entries skipped for it
  std::map<std::string, long> counted;  // parts of the source counted, not written
  bool keep_reflowed = true;            // keep them in reflowed
  std::vector<Reflowed> reflowed;       // the entries not written whole, in order
  std::vector<Form> forms;              // the forms met, in order
  std::vector<std::string> keys;        // the headwords written, when --forms needs them
  std::map<std::string, std::vector<std::string>> definitions;  // each headword's, for copies
  long first_form_line = -1;                            // the first line of a form's entry, -1 none
  long form_entries = 0;                                // forms written
  long form_headwords = 0;                              // headwords that gained a form
  size_t form_bytes = 0;                                // the bytes of their lines
  long forms_unknown = 0;                               // forms whose headword is not in the output
  std::vector<std::string> form_sources{"the source"};  // where forms came from
  std::vector<long> forms_from;                // ... the forms written from each, each once
  std::map<std::string, long> forms_left_out;  // forms not made, by kind
  size_t index_without_forms = 0;              // the index record's bytes without them
  std::FILE* messages = stderr;                // null: none
  // Where each part skipped stands and the forms left out, when given (the
  // tests check that nothing else of a source is lost).
  std::vector<std::pair<std::string, long>>* skipped_at = nullptr;
  std::vector<Form>* dropped = nullptr;
  // Scratch reused from entry to entry.
  std::string key_buf, value_buf, utf8_buf, conv_buf, piece_buf;
};

// Cleans one entry (UTF-8) and appends its lines to sink.out.
void add_entry(Sink& sink, std::string_view key, std::string_view value, const Where& where);

// Takes what a reader handed on: its entries, forms, skips and notes, in
// order (the entries of a large batch cleaned on two threads).
void take_batch(Sink& sink, const sources::Batch& batch);

// Writes a cleaned entry (UTF-8) as entry lines for chunk budget K: one
// line when it fits, else as --long says; the key shortened to half a line
// at most. What add_entry ends with.
void write_entry(Sink& sink, std::string_view key, std::string_view value, const Where& where,
                 int chunksize);

// A key (or a form) cleaned as add_entry cleans keys, into out; false when
// it is skipped (and counted).
bool clean_key(Sink& sink, std::string_view key, const Where& where, std::string& out);

// The longest start of utf8, ending at a character boundary, whose text in
// the output's character set fits in room bytes; out receives that text.
// Returns the length of that start in utf8.
size_t fit_output(Sink& sink, std::string_view utf8, size_t room, std::string& out);

// Moves what part wrote and counted to the end of sink: the entries of a
// later part of the same source, cleaned beside it.
void take_entries(Sink& sink, Sink& part);

// Ends the reading: stops when the source is not in the character set it was
// read in (more than a handful of lines or entries with invalid bytes), else
// says which had bytes replaced; stops when nothing was written.
void finish_reading(Sink& sink, const sources::Emit& emit, const std::string& source);

// Counts an entry left out, with a warning naming it unless quiet.
void skip_entry(Sink& sink, const Where& where, std::string_view key, std::string_view reason,
                std::string_view detail = {}, bool quiet = false);

// Line breaks become the separator, runs of blanks one space, ends trimmed.
void flatten(std::string_view text, const std::string& separator, std::string& out);

// Reads a whole file; fails with its name and the system's reason.
Bytes read_whole(const std::string& path);

}  // namespace zelk::import
