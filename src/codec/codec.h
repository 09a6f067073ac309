// Compressed chunk records: each is one zlib stream (a 2-byte header, raw
// DEFLATE, the Adler-32 of the chunk text), compressed at libdeflate's
// strongest level and expandable on its own. doc/format.md describes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zelk {

inline constexpr int kCompressionLevel = 12;

// The compressed record of a chunk's text.
std::vector<unsigned char> compress_chunk(const unsigned char* text, size_t size);

// Expands a record into text; at most max_size bytes are accepted. On a
// corrupt, truncated or oversized record returns false and says why in error.
bool expand_record(const unsigned char* record, size_t size, size_t max_size,
                   std::vector<unsigned char>& text, std::string& error);

// The compression library's version.
const char* codec_version();

}  // namespace zelk
