// UTF-8 text as the programs meet it: checked, decoded and encoded (with
// utfcpp), and bytes made printable for messages and answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelk {

// Offset of the first byte that is not part of valid UTF-8 (overlong forms,
// surrogates and values above U+10FFFF are not), or text.size().
size_t utf8_valid_prefix(std::string_view text);

inline bool is_utf8(std::string_view text) { return utf8_valid_prefix(text) == text.size(); }

// The characters of valid UTF-8 text into out; false for any other text.
bool decode_utf8(std::string_view text, std::u32string& out);

// The code point of the valid UTF-8 character at text[at], and its length.
char32_t utf8_at(std::string_view text, size_t at, size_t* length);

// Appends c in UTF-8.
void append_utf8(char32_t c, std::string& out);

// Appends byte as \xNN (upper-case hex).
void append_hex_byte(unsigned char byte, std::string& out);

// Valid UTF-8 as it is, every other byte as \xNN: text that is always UTF-8.
std::string printable_utf8(std::string_view bytes);

// How bytes are made printable in a message: a tab, line feed and carriage
// return as \t, \n, \r, other control bytes as \xNN.
struct Escaping {
  bool double_backslash = true;  // a backslash becomes two
  bool upper_hex = false;        // \x1F rather than \x1f
  bool high_bytes = false;       // bytes from 0x80 on as \xNN too (text that is not UTF-8)
  size_t max = SIZE_MAX;  // past this many bytes, the rest becomes "..." at a character's start
};
std::string escape_bytes(std::string_view text, const Escaping& how = {});

// Key bytes made printable: control bytes as \t, \n, \r or \xNN, a backslash
// doubled; other bytes as they are.
std::string escape(std::string_view key);

// escape(), cut to about max bytes (at a character's start) with "..." added.
std::string escape_short(std::string_view key, size_t max = 60);

}  // namespace zelk
