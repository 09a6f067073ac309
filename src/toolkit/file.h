// A FILE* that closes itself, with checked writes: a failed write, seek or
// close ends the run with zelkpack's "Error: Can not write '<path>'", or
// with the companions' "cannot write '<path>': <reason>".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/big_alloc.h"

namespace zelk {

struct File {
  std::FILE* f = nullptr;
  std::string path;
  std::vector<char> buffer;  // stdio buffer set with setvbuf, kept alive with the stream
  bool say_reason = false;   // failures in the companions' words, with the system's reason

  File() = default;
  File(std::FILE* stream, std::string name) : f(stream), path(std::move(name)) {}
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();  // closes without checking: used only when a run is already failing
};

// fopen; the result's f is null when the file cannot be opened. Running out
// of memory throws std::bad_alloc, as every allocation failure does.
File open_file(const std::string& path, const char* mode);

// Gives the stream a buffer of the given size (call before the first I/O).
void set_buffer(File& file, size_t size);

// Checked output; each throws "Error: Can not write '%s'\n" on failure (with
// say_reason: "cannot write '%s': REASON").
void write_bytes(File& file, const void* data, size_t size);
void seek_to(File& file, long long offset);
void close_file(File& file);

// Shows text on a terminal's progress line, rewritten in place ("" clears
// it); nothing when terminal is null.
void show_progress(std::FILE* terminal, const char* text);

// Prints a printf-formatted message to stream, clearing first a progress
// line shown there, so that the message starts a line of its own; nothing
// when stream is null.
void note(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A stream in memory, and what was written to it: for messages and output
// held back until they can be shown, or kept for an answer.
struct Captured {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* f = nullptr;
  Captured();  // throws std::bad_alloc
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;
  ~Captured();
  std::string text();  // what was written so far
};

// Reads a whole file with plain system calls (no stdio). On failure, ok is
// false and what ("cannot open" or "cannot read") and error (errno) say why;
// a directory fails to be read. Throws std::bad_alloc.
struct FileRead {
  bool ok = true;
  const char* what = nullptr;
  int error = 0;
};
template <class Bytes>  // std::vector<unsigned char> or UninitVector<char>
FileRead read_file(const char* path, Bytes& bytes);

// The same, raising "cannot open 'PATH': REASON" or "cannot read ..." on
// failure.
void read_whole_file(const std::string& path, UninitVector<char>& bytes);

// True when both paths name one file (links followed); false when either
// cannot be looked at.
bool same_file(const std::string& a, const std::string& b);
bool same_file(int fd, const std::string& path);  // the open file fd and path

// Takes in the whole stream (positioned at its start, nothing read from it
// through stdio yet) as one block, with read_file's reader, on huge pages
// where the system grants them: far fewer page faults than mapping the file.
// False on a read error.
bool load_input(std::FILE* f, UninitVector<char>& in);

// The folder part of a path: "." when it has none, "/" for a file at the top.
std::string folder_of(const std::string& path);

// True when an open stream is a regular file, a device or a pipe, that is,
// something that can be read; false for a directory.
bool is_readable_stream(std::FILE* f);

}  // namespace zelk
