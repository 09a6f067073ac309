// A source file read a block at a time, expanded on the way when it is gzip
// data (.gz, .dz): files of gigabytes go through in bounded memory.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zelk::import {

struct BlockReader {
  std::string path;
  std::FILE* f = nullptr;
  bool gzip = false;
  z_stream z{};
  std::vector<unsigned char> in;    // compressed bytes read, not yet expanded
  bool ended = false;               // everything has been handed out
  unsigned long long consumed = 0;  // compressed bytes taken in
  BlockReader() = default;
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;
  ~BlockReader();
};

// Opens path; gzip data is recognised by its first bytes. Raises "cannot
// open 'PATH': REASON".
std::unique_ptr<BlockReader> open_blocks(const std::string& path);

// Appends up to about want bytes of the file's text to out; false once the
// file has ended and nothing was added. Raises on a read error and on
// damaged or cut compressed data, naming the file.
bool read_block(BlockReader& r, std::string& out, size_t want);

}  // namespace zelk::import
