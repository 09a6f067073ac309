#include "codec/steps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace zelk {

namespace {

void say_failure(std::FILE* err, const char* what, const char* file, int error) {
  std::fprintf(err, "zelkpress: %s '%s': %s\n", what, file, std::strerror(error));
}

void remove_if_regular(const char* path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode)) unlink(path);
}

}  // namespace

OutputState prepare_output(const char* input, const char* output, std::FILE* err) {
  struct stat out;
  if (lstat(output, &out) != 0) return OutputState::kFree;
  bool regular = S_ISREG(out.st_mode);
  struct stat in, target;
  if (stat(input, &in) == 0 && (regular || stat(output, &target) == 0)) {
    const struct stat& o = regular ? out : target;
    if (o.st_dev == in.st_dev && o.st_ino == in.st_ino) {
      std::fprintf(err, "zelkpress: output '%s' is the input file\n", output);
      return OutputState::kIsInput;
    }
  }
  if (!regular) return OutputState::kWriteThrough;
  unlink(output);
  return OutputState::kFree;
}

void say_read_failure(const FileRead& read, const char* path, std::FILE* err) {
  say_failure(err, read.what, path, read.error);
}

bool write_output(const char* output, const std::vector<unsigned char>& record, std::FILE* err) {
  int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    say_failure(err, "cannot create", output, errno);
    return false;
  }
  size_t done = 0;
  int error = 0;
  while (done < record.size()) {
    ssize_t n = write(fd, record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0) return true;
  remove_if_regular(output);
  say_failure(err, "cannot write", output, error);
  return false;
}

bool press_file(const char* chunk, const char* output, std::FILE* err) {
  if (prepare_output(chunk, output, err) == OutputState::kIsInput) return false;
  std::vector<unsigned char> text, record;
  try {
    FileRead read = read_file(chunk, text);
    if (!read.ok) {
      say_read_failure(read, chunk, err);
      return false;
    }
    compress_chunk(text.data(), text.size()).swap(record);
  } catch (const std::bad_alloc&) {
    say_failure(err, "cannot compress", chunk, ENOMEM);
    return false;
  }
  return write_output(output, record, err);
}

}  // namespace zelk
