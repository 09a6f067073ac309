// A source's text in UTF-8, whatever set it was saved in. The set is
// decided once for every reader: --from; else a byte order mark (UTF-8,
// UTF-16 or UTF-32, either order); else UTF-16 by the zero bytes of its
// first characters; else UTF-8 when the text is UTF-8, else the 8-bit set
// the source declares (DSL's #SOURCE_CODE_PAGE). Each byte that is not valid
// in that set becomes U+FFFD (or --replace) and is counted with its line.
#pragma once

#include <string>
#include <string_view>

#include "sources/input.h"
#include "sources/source.h"
#include "text/charset.h"

namespace zelk::sources {

// What every reader is given besides its file.
struct Reading {
  std::string from;                    // --from: the source's set, if given
  std::string stray = "\xEF\xBF\xBD";  // what a byte not valid in it becomes (UTF-8)
};

struct Decoder {
  std::string charset;  // empty: UTF-8, checked; else iconv's name of the set
  Converter conv;
  size_t unit = 1;  // bytes of the set's smallest character: 2 for UTF-16, 4 for UTF-32
  std::string stray;
};

// Readies a decoder for charset ("" or "UTF-8": UTF-8). Raises "unknown
// character set" for a name iconv has not.
void open_decoder(Decoder& d, const std::string& charset, const std::string& stray);

// Appends bytes in UTF-8 to out, each invalid byte (unit) replaced by
// d.stray; returns how many were. The bytes end at a character's end.
size_t decode(Decoder& d, std::string_view bytes, std::string& out);

// The same for a piece of a source read in pieces (a dictd or StarDict
// entry): the piece itself when it is valid UTF-8 already, else its text in
// scratch; a piece with replaced bytes is counted in damage at where.
std::string_view decode_piece(Decoder& d, std::string_view bytes, std::string& scratch,
                              Damage& damage, const Where& where);

// A file's text, decoded as it is read.
struct TextStream {
  Input in;
  const std::string* name = nullptr;  // the file as named, for messages (outlives the emit's batch)
  Decoder decoder;
  Emit* emit = nullptr;
  std::string raw;           // bytes read and not yet decoded (a character cut at a block's end)
  size_t clean = 0;          // raw holds no line feed before here
  bool ended = false;        // the file has been read to its end
  std::string declared;      // the 8-bit set the source declares, taken if its text is not UTF-8
  bool ascii_so_far = true;  // only ASCII decoded yet: the set is still open
  long lines = 0;            // line feeds in the text handed out so far
  bool at_start = true;
};

// Opens path into s and decides its set, saying which when it is not UTF-8
// (with emit, which counts the bytes replaced). declared, when given, reads
// the set a source declares from its first bytes (empty: none). path must
// outlive what emit hands on.
void open_text(TextStream& s, const std::string& path, const Reading& reading, Emit& emit,
               std::string (*declared)(std::string_view head) = nullptr);

// Appends about want bytes (more to end a character) of the text to out;
// false once the text has ended and nothing was added.
bool read_text(TextStream& s, std::string& out, size_t want);

// A text's lines, numbered from 1, as they come.
struct Lines {
  TextStream text;
  std::string buf;
  size_t pos = 0;      // the next line's start in buf
  size_t scanned = 0;  // buf has no line feed from pos to here
  long number = 0;     // of the line last handed out
};

// The next line, without its line feed and a carriage return before it;
// false at the text's end. The view lasts until the next call.
bool next_line(Lines& lines, std::string_view* line);

}  // namespace zelk::sources
