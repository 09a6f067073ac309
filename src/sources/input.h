// A source file's bytes, plain or gzip (.gz, .dz, or gzip data under any
// name): read as they come with zlib's gzread, which hands plain files on as
// they are, or whole; a dictzip file (dictd's and StarDict's .dict.dz, DSL's
// .dsl.dz) is expanded whole on several threads from its index of pieces.
#pragma once

#include <zlib.h>

#include <string>
#include <string_view>

#include "toolkit/big_alloc.h"

namespace zelk::sources {

// A file's bytes or expanded data, in memory that is not zeroed first:
// dictionaries run to hundreds of megabytes.
using Bytes = UninitVector<char>;
inline std::string_view view(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

struct Input {
  std::string path;
  gzFile gz = nullptr;
  Input() = default;
  Input(Input&& other) noexcept;
  Input& operator=(Input&& other) noexcept;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input();
};

// Opens path to be read as it comes. Raises "cannot open 'PATH': REASON",
// and "cannot read 'PATH': Is a directory" for a folder.
Input open_input(const std::string& path);

// Reads up to size bytes of the file's text into buffer; 0 at its end.
// Raises on a read error and on damaged or cut compressed data, naming the
// file.
size_t read_input(Input& input, char* buffer, size_t size);

// The whole text of path, expanded when it is gzip data; a name ending in
// .gz or .dz that holds no gzip data is refused.
Bytes read_all(const std::string& path);

bool is_gzip(std::string_view head);
bool file_exists(const std::string& path);

}  // namespace zelk::sources
