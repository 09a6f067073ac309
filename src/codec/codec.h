// Compressed chunk records: each is one zlib stream (a 2-byte header, raw
// DEFLATE, the Adler-32 of the chunk text), compressed at libdeflate's
// strongest level and expandable on its own. doc/format.md describes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct libdeflate_compressor;

namespace zelk {

inline constexpr int kCompressionLevel = 12;

// A compressor at kCompressionLevel, used for one chunk after another. Each
// thread needs its own.
struct Compressor {
  libdeflate_compressor* c = nullptr;
  Compressor() = default;
  Compressor(Compressor&& other) noexcept;
  Compressor& operator=(Compressor&& other) noexcept;
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  ~Compressor();
};
// Throws std::bad_alloc when there is no memory for it.
Compressor make_compressor();

// Makes the compressed record of a chunk's text into record.
void compress_chunk(Compressor& compressor, const unsigned char* text, size_t size,
                    std::vector<unsigned char>& record);
// The same with a compressor of its own.
std::vector<unsigned char> compress_chunk(const unsigned char* text, size_t size);

// Expands a record into text; at most max_size bytes are accepted. On a
// corrupt, truncated or oversized record returns false and says why in error.
bool expand_record(const unsigned char* record, size_t size, size_t max_size,
                   std::vector<unsigned char>& text, std::string& error);

// The number of threads that compress chunks: the cores this process may
// use, capped by ZELKPACK_THREADS when that is a positive number.
int compress_threads();

// The compression library's version.
const char* codec_version();

}  // namespace zelk
