// An output file that is replaced whole or not at all: written under a
// hidden temporary name beside the file it replaces, flushed to the disk,
// then renamed over it. Whatever ends the run before that (a failed write,
// a failed check, SIGINT, SIGTERM, SIGHUP, SIGPIPE, an abort) removes the
// temporary file and leaves an existing output as it was.
//
// An output that is a symbolic link is followed: the file it leads to is
// replaced (in that file's folder) and the link stays. A device or a pipe
// is written in place.
#pragma once

#include <string>

namespace zelk {

struct Output {
  std::string name;       // as the user gave it: every message names it so
  std::string target;     // the file replaced: name, or where its links lead
  std::string temporary;  // the file being written; empty when written in place
  int fd = -1;
  bool committed = true;  // nothing to undo: until open_output takes the signals

  Output() = default;
  Output(Output&& other) noexcept;
  Output& operator=(Output&&) = delete;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();  // removes the temporary file unless committed
};

// Opens the temporary file for name, before any work is done, so that an
// output that cannot be written stops the run at once: raises "cannot
// write 'NAME': REASON" for a folder that is missing or not writable, a
// name too long, or a directory. The new file gets the permission bits of
// the file it replaces, else 0666 less the umask. SIGXFSZ is ignored while
// an output is open, so a write past the file size limit fails (EFBIG) and
// is reported like any other.
Output open_output(const std::string& name);

// Flushes the file to the disk, renames it over the target and flushes the
// folder, so that the new file is there after a power cut; raises "cannot
// write 'NAME': REASON" when any of that fails (the temporary file goes).
void commit_output(Output& output);

// "cannot write 'NAME': REASON" with the system's reason for errno.
[[noreturn]] void cannot_write(const std::string& name, int error);

}  // namespace zelk
