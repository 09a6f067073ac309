#include "toolkit/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "toolkit/error.h"
#include "toolkit/output.h"

namespace zelk {

namespace {
std::FILE* g_progress_shown = nullptr;  // the terminal whose last line is a progress line
char g_progress_text[64];               // what it says
}  // namespace

void show_progress(std::FILE* terminal, const char* text) {
  if (!terminal || (!*text && terminal != g_progress_shown)) return;  // nothing to clear
  std::fprintf(terminal, *text ? "\r%-40s" : "\r%-40s\r", text);
  std::fflush(terminal);
  g_progress_shown = *text ? terminal : nullptr;
  std::snprintf(g_progress_text, sizeof g_progress_text, "%s", text);
}

void note(std::FILE* stream, const char* format, ...) {
  if (!stream) return;
  bool shown = stream && stream == g_progress_shown;
  if (shown) std::fprintf(stream, "\r%-40s\r", "");  // the progress line cleared
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  if (shown) show_progress(stream, g_progress_text);  // and shown again below
}

File::File(File&& other) noexcept
    : f(std::exchange(other.f, nullptr)),
      path(std::move(other.path)),
      buffer(std::move(other.buffer)),
      say_reason(other.say_reason) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (f) std::fclose(f);
    f = std::exchange(other.f, nullptr);
    path = std::move(other.path);
    buffer = std::move(other.buffer);
    say_reason = other.say_reason;
  }
  return *this;
}

File::~File() {
  if (f) std::fclose(f);
}

File open_file(const std::string& path, const char* mode) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (!f && errno == ENOMEM) throw std::bad_alloc();  // out of memory, not a bad path
  return File(f, path);
}

void set_buffer(File& file, size_t size) {
  file.buffer.resize(size);
  std::setvbuf(file.f, file.buffer.data(), _IOFBF, size);
}

[[noreturn]] static void write_failed(const File& file) {
  if (file.say_reason) cannot_write(file.path, errno ? errno : EIO);
  die("Error: Can not write '%s'\n", file.path.c_str());
}

void write_bytes(File& file, const void* data, size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, file.f) != size) write_failed(file);
}

void seek_to(File& file, long long offset) {
  if (fseeko(file.f, static_cast<off_t>(offset), SEEK_SET) != 0) write_failed(file);
}

void close_file(File& file) {
  std::FILE* f = std::exchange(file.f, nullptr);
  errno = 0;
  bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0) failed = true;
  if (failed) write_failed(file);
}

namespace {

// Appends what is left to read of fd to bytes, with room for the whole file
// and one byte more reserved first, so the read that sees its end needs no
// new room. False on a read error (errno says which).
template <class Bytes>
bool read_rest(int fd, Bytes& bytes) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    bytes.reserve(bytes.size() + static_cast<size_t>(st.st_size) + 1);
  }
  for (;;) {
    size_t used = bytes.size();
    size_t room = bytes.capacity() > used ? bytes.capacity() - used : std::max<size_t>(used, 65536);
    bytes.resize(used + room);
    ssize_t n = read(fd, bytes.data() + used, room);
    bytes.resize(used + static_cast<size_t>(n > 0 ? n : 0));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
  }
}

}  // namespace

template <class Bytes>
FileRead read_file(const char* path, Bytes& bytes) {
  bytes.clear();
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {false, "cannot open", errno};
  FileRead result;
  if (!read_rest(fd, bytes)) result = {false, "cannot read", errno};
  close(fd);
  return result;
}

template FileRead read_file(const char*, std::vector<unsigned char>&);
template FileRead read_file(const char*, UninitVector<char>&);

bool load_input(std::FILE* f, UninitVector<char>& in) { return read_rest(fileno(f), in); }

void read_whole_file(const std::string& path, UninitVector<char>& bytes) {
  FileRead read = read_file(path.c_str(), bytes);
  if (!read.ok) die("%s '%s': %s", read.what, path.c_str(), std::strerror(read.error));
}

namespace {

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && same_file(sa, sb);
}

bool same_file(int fd, const std::string& path) {
  struct stat sa, sb;
  return fstat(fd, &sa) == 0 && stat(path.c_str(), &sb) == 0 && same_file(sa, sb);
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool is_readable_stream(std::FILE* f) {
  struct stat st;
  return fstat(fileno(f), &st) == 0 && !S_ISDIR(st.st_mode);
}

Captured::Captured() : f(open_memstream(&data, &size)) {
  if (!f) throw std::bad_alloc();
}

Captured::~Captured() {
  if (f) std::fclose(f);
  std::free(data);
}

std::string Captured::text() {
  std::fflush(f);
  return std::string(data, size);
}

}  // namespace zelk
