// zelkimport: turns the dictionaries people have into zelkpack's input, one
// "key<TAB>value<LF>" line per entry, in the device's character set.
//
// Every reader hands its entries to add_entry, which cleans them the same way
// whatever their source: from the source's character set to UTF-8, markup to
// text, line breaks to the separator, runs of blanks to one space, keys with
// bytes zelkpack cannot keep repaired or skipped, then into the output's
// character set.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/charset.h"
#include "text/lines.h"
#include "text/utf8.h"
#include "toolkit/big_alloc.h"
#include "toolkit/error.h"

namespace zelk::import {

// A file's bytes or expanded data, in memory that is not zeroed first and
// comes in huge pages when large: dictionaries run to hundreds of megabytes.
using Bytes = UninitVector<char>;
inline std::string_view view(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

enum class BadKeys { kRepair, kSkip };

// What becomes of a definition too long for one entry line at K.
enum class Long {
  kSplit,  // it goes on in further entries of the same key
  kCut,    // it is cut at a character boundary
  kWhole,  // K is chosen to hold the longest (split only past 65535)
};

// The least chunk budget an import takes: room for a key and a definition.
inline constexpr int kMinImportChunkSize = 16;
struct Options {
  std::string format;           // dictd, stardict, tab or csv
  std::string separator = " ";  // what a line break inside a definition becomes
  BadKeys bad_keys = BadKeys::kRepair;
  std::string from;            // the source's character set; empty: UTF-8
  std::string to;              // the output's character set; empty: UTF-8
  bool translit = false;       // unmappable characters transliterated, else '?'
  std::string replace;         // unmappable characters become this (UTF-8)
  bool metadata = false;       // keep dictd's 00-database-* entries
  bool keep_headword = false;  // keep a dictd definition's first line when it is the key
  int key_column = 1;          // CSV columns, from 1
  int value_column = 2;
  bool header = false;   // CSV: the first row names the columns
  char delimiter = ',';  // CSV field delimiter
  int chunksize = 4096;  // the -k the summary measures against
  Long long_definitions = Long::kSplit;
  bool markup = false;             // tab files: definitions are HTML (PyGlossary's)
  bool markup_given = false;       // --markup was given; else html when values hold <br />
  std::vector<std::string> forms;  // --forms: files of "form<TAB>headword" lines, hunspell:LANG
  std::string form_text;           // --form-text: a form's value, %s for its headwords
  bool copy_forms = false;         // --form-entries copy: a form repeats the definitions
  int forms_column = 0;            // CSV: the column of a row's forms, from 1; 0: none
  std::string lang_code;           // Wiktionary: only the words of this language, if given
  bool examples = false;           // Wiktionary: each sense's examples too
  bool pronunciation = false;      // Wiktionary: the first IPA of each word too
};

// The chunk budget entries are laid out for while they are read: K, or the
// most there is when K is chosen afterwards.
int layout_budget(const Options& options);

// Where an entry came from, for messages: "wn.index:17" or
// "gcide.idx: entry 17".
struct Where {
  const std::string* file;
  long number;
  bool is_line;  // number is a line (file:N), else an entry (file: entry N)
};
std::string describe(const Where& where);
// The same with the entry's key: "wn.index:17: 'apple'", "gcide.idx: entry 17 'apple'".
std::string describe(const Where& where, std::string_view key);

// Quotes a key for a message: control bytes escaped, cut after ~60 bytes.
std::string quote(std::string_view text);

// An entry written in more than one line, cut, or with its key shortened:
// kept whole, so that the advice on -k can lay it out again at another K.
struct Reflowed {
  std::string key, value;  // UTF-8, cleaned
  long first_line;         // the first of its lines among those written
  long lines;              // how many lines it was written in
  bool key_shortened;      // its key was shortened to fit
};

// A form and the headword it points at, in UTF-8, cleaned.
struct Form {
  std::string form, headword;
};

struct Sink {
  explicit Sink(const Options& options);

  const Options& options;
  Converter from_source;        // to UTF-8, when the source is in another set
  bool source_in_utf8 = false;  // converted already, as a whole
  Converter to_output;          // from UTF-8, when the output is in another set
  Converter translit;           // the same with //TRANSLIT, for --translit
  std::string replacement;      // --replace in the output's character set
  std::string stray;            // what an invalid byte of the source becomes (UTF-8)
  Unmappable unmappable;        // what --translit and --replace did, counted
  std::string title;            // the source's own name for itself, if it gives one
  Bytes out;                    // the output text
  long written = 0;             // entry lines written
  long repaired = 0;            // keys repaired
  long shortened = 0;           // keys shortened to fit an entry line
  long long_keys = 0;           // lines whose key is over 127 bytes (sorted by its first 127)
  long continued = 0;           // definitions that go on in further entries
  long cut = 0;                 // definitions cut (--long cut)
  long invalid = 0;             // entries with bytes invalid in the source's set, replaced
  std::string first_invalid;    // where the first of them is
  std::string invalid_bytes;    // a sample of those bytes, to guess the set
  std::vector<std::string> invalid_notes;  // their messages, said when the import goes on
  size_t longest_line = 0;                 // bytes of the longest entry line before its line feed
  std::map<std::string, long> skipped;     // reason -> entries skipped for it
  bool keep_reflowed = true;               // keep them in reflowed
  std::vector<Reflowed> reflowed;          // the entries not written whole, in order
  std::vector<Form> forms;                 // the forms met, in order
  std::vector<std::string> keys;           // the headwords written, when --forms needs them
  std::map<std::string, std::vector<std::string>> definitions;  // each headword's, for copies
  long first_form_line = -1;     // the first line of a form's entry, -1 none
  long form_entries = 0;         // forms written
  long form_headwords = 0;       // headwords that gained a form
  size_t form_bytes = 0;         // the bytes of their lines
  long forms_unknown = 0;        // forms whose headword the source has not
  long media = 0;                // DSL's [s] sounds and pictures left out
  std::FILE* messages = stderr;  // null: none
  // Scratch reused from entry to entry.
  std::string key_buf, value_buf, utf8_buf, conv_buf, piece_buf;
};

// Cleans one entry and appends its line to sink.out. markup: the value is
// HTML-like markup to be turned into text first.
void add_entry(Sink& sink, std::string_view key, std::string_view value, const Where& where,
               bool markup = false);

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
// later part of the same source, read beside it.
void take_entries(Sink& sink, Sink& part);

// Ends the reading: stops when the source is not in the character set it was
// read in (more than a handful of entries with invalid bytes), else says
// which entries had bytes replaced; stops when nothing was written.
void finish_reading(Sink& sink, const std::string& source);

// Counts an entry left out, with a warning naming it.
void skip_entry(Sink& sink, const Where& where, std::string_view key, const char* reason,
                const std::string& detail = "");

// Line breaks become the separator, runs of blanks one space, ends trimmed.
void flatten(std::string_view text, const std::string& separator, std::string& out);

// Reads a whole file; fails with its name and the system's reason.
Bytes read_whole(const std::string& path);
// Expands gzip data (one or more members); fails naming path when it is cut
// short or damaged.
Bytes gunzip(const std::string& path, std::string_view data);
// Reads path, expanding it when it is gzip data (.gz, .dz).
Bytes read_maybe_gzip(const std::string& path);
bool file_exists(const std::string& path);

// The readers. Each takes the path named on the command line.
void import_dictd(const std::string& index_path, Sink& sink);
void import_stardict(const std::string& ifo_path, Sink& sink);
void import_tab(const std::string& path, Sink& sink);
void import_csv(const std::string& path, Sink& sink);
void import_wiktionary(const std::string& path, Sink& sink);
void import_xdxf(const std::string& path, Sink& sink);
void import_dsl(const std::string& path, Sink& sink);

// The text-level readers, for the tests and the fuzz targets.
struct TextFile {
  std::string name;
  std::string_view data;
};
void read_tab_text(const TextFile& file, Sink& sink);
void read_csv_text(const TextFile& file, Sink& sink);
void read_wiktionary_text(const TextFile& file, Sink& sink);
void read_xdxf_text(const TextFile& file, Sink& sink);
void read_dsl_text(const TextFile& file, Sink& sink);
// A dictd index and its (expanded) data; release, when given, holds the
// data and is let go of as soon as every entry is read.
void read_dictd(const TextFile& index, const TextFile& data, Sink& sink, Bytes* release = nullptr);
// A StarDict dictionary from its four parts held in memory (syn may be empty
// with no name).
void read_stardict(const TextFile& ifo, const TextFile& idx, const TextFile& dict,
                   const TextFile& syn, Sink& sink);

// dictd's base64 numbers: "A".."/" are 0..63, most significant first; false
// for an empty or invalid one.
bool decode_dictd_number(std::string_view digits, unsigned long long* value);

}  // namespace zelk::import
