// What zelkpress does with its files, step by step. zelkpress runs the steps
// in a row; zelkpack's built-in compressor reads and compresses ahead on
// other threads and takes the file steps in chunk order, so that both leave
// the same files and print the same messages.
#pragma once

#include <cstdio>
#include <vector>

#include "codec/codec.h"
#include "toolkit/file.h"

namespace zelk {

// What stands at OUTPUT before anything is written.
enum class OutputState {
  kFree,          // nothing, or a regular file that has just been removed
  kWriteThrough,  // a link, a device or a directory: left in place, written through
  kIsInput,       // the input file itself (however named): refused
};

// Makes OUTPUT ready: a regular file there is removed (so a failed run leaves
// no stale output), anything else is left alone, and the input itself is
// refused with a message on err.
OutputState prepare_output(const char* input, const char* output, std::FILE* err);

// Prints "zelkpress: WHAT 'FILE': REASON" for a chunk file that could not
// be read (read with read_file).
void say_read_failure(const FileRead& read, const char* path, std::FILE* err);

// Writes the record to OUTPUT; on failure prints the reason, removes OUTPUT
// when it is a regular file and returns false.
bool write_output(const char* output, const std::vector<unsigned char>& record, std::FILE* err);

// The whole of "zelkpress CHUNK OUTPUT": true when OUTPUT was written, else
// false after a message on err.
bool press_file(const char* chunk, const char* output, std::FILE* err);

}  // namespace zelk
