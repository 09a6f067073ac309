// The character set a database's keys and values are stored in, and the
// conversions between it and the UTF-8 of the terminal and the web page. A database made
// for the device is often in CP1252 or a double-byte set such as SHIFT_JIS;
// searches run on the stored bytes, so a query is converted into the set
// first, and what is shown is converted out of it.
#pragma once

#include <string>
#include <string_view>

#include "reader/database.h"

namespace zelk {

struct Charset {
  std::string name = "UTF-8";  // as iconv knows it
  bool utf8 = true;
  bool assumed = true;  // found from the database, not given with --charset
};

// The set called name, when iconv can convert between it and UTF-8; else
// false.
bool charset_named(const std::string& name, Charset& charset);

// The set a database is most likely in: UTF-8 when the index keys of up to
// 256 chunks spread over it and the values of its first chunk are valid
// UTF-8, else CP1252.
Charset guess_charset(const Database& db);

// Stored bytes as UTF-8 for display; a byte the set does not define becomes
// \xNN.
std::string to_utf8(const Charset& charset, std::string_view stored);

// A query typed in UTF-8 in the database's set (bytes that are not UTF-8 are
// taken as they are). False when a character has no place in the set:
// problem names it.
bool to_stored(const Charset& charset, std::string_view utf8, std::string& stored,
               std::string& problem);

}  // namespace zelk
