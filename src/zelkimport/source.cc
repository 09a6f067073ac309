// Reading the source files: whole, and expanded when gzip-compressed (dictd's
// and StarDict's .dz files are gzip files with an index of their blocks,
// read here from start to end).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "zelkimport/import.h"

namespace zelk::import {

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string read_whole(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("cannot open '%s': %s", path.c_str(), std::strerror(errno));
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(fd);
    fail("cannot read '%s': %s", path.c_str(), std::strerror(error));
  }
  std::string data;
  data.resize(S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 65536);
  size_t used = 0;
  for (;;) {
    if (used == data.size()) data.resize(data.size() * 2);
    ssize_t n = read(fd, data.data() + used, data.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      close(fd);
      fail("cannot read '%s': %s", path.c_str(), std::strerror(error));
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  data.resize(used);
  return data;
}

bool is_gzip(std::string_view data) {
  return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1F &&
         static_cast<unsigned char>(data[1]) == 0x8B;
}

std::string gunzip(const std::string& path, std::string_view data) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  std::string out;
  // The size the last member's trailer gives is a good first guess, within
  // what deflate can expand to (1032 to 1): cut data ends in other bytes.
  size_t guess = data.size() * 4;
  if (data.size() >= 18) {
    uint32_t isize;
    std::memcpy(&isize, data.data() + data.size() - 4, 4);
    if (isize > guess && isize / 1032 <= data.size()) guess = isize;
  }
  out.resize(guess + 1);
  size_t used = 0, consumed = 0;
  int status = Z_OK;
  for (;;) {
    size_t in_chunk = std::min<size_t>(data.size() - consumed, UINT_MAX);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
    z.avail_in = static_cast<uInt>(in_chunk);
    if (used == out.size()) out.resize(out.size() * 2);
    size_t out_chunk = std::min<size_t>(out.size() - used, UINT_MAX);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    z.avail_out = static_cast<uInt>(out_chunk);
    status = inflate(&z, Z_NO_FLUSH);
    consumed += in_chunk - z.avail_in;
    used += out_chunk - z.avail_out;
    if (status == Z_STREAM_END) {
      // Another member may follow; anything but a gzip header ends the data.
      if (!is_gzip(data.substr(consumed))) break;
      inflateReset(&z);
      continue;
    }
    if (status == Z_OK) continue;
    if (status == Z_BUF_ERROR && used == out.size()) continue;  // only room was short
    if (status == Z_BUF_ERROR) break;                           // input cut short
    inflateEnd(&z);
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    fail("%s: damaged compressed data at byte %zu (%s)", path.c_str(), consumed,
         z.msg ? z.msg : "inflate failed");
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) {
    fail("%s: compressed data cut short after %zu bytes (%zu expanded)", path.c_str(),
         data.size(), used);
  }
  out.resize(used);
  return out;
}

std::string read_maybe_gzip(const std::string& path) {
  std::string data = read_whole(path);
  if (!is_gzip(data)) {
    bool named = path.size() > 3 && (path.ends_with(".gz") || path.ends_with(".dz"));
    if (named) fail("%s: not gzip data", path.c_str());
    return data;
  }
  return gunzip(path, data);
}

}  // namespace zelk::import
