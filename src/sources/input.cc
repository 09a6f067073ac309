#include "sources/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk::sources {

bool is_gzip(std::string_view head) {
  return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1F &&
         static_cast<unsigned char>(head[1]) == 0x8B;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

Input::Input(Input&& other) noexcept
    : path(std::move(other.path)), gz(std::exchange(other.gz, nullptr)) {}

Input& Input::operator=(Input&& other) noexcept {
  if (this != &other) {
    if (gz) gzclose(gz);
    path = std::move(other.path);
    gz = std::exchange(other.gz, nullptr);
  }
  return *this;
}

Input::~Input() {
  if (gz) gzclose(gz);
}

namespace {

// The file's descriptor, open for reading: a folder is refused.
int open_file_for_reading(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) die("cannot open '%s': %s", path.c_str(), std::strerror(errno));
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    die("cannot read '%s': %s", path.c_str(), std::strerror(EISDIR));
  }
  return fd;
}

}  // namespace

Input open_input(const std::string& path) {
  Input in;
  in.path = path;
  int fd = open_file_for_reading(path);
  in.gz = gzdopen(fd, "rb");
  if (!in.gz) {
    close(fd);
    throw std::bad_alloc();
  }
  gzbuffer(in.gz, 1 << 18);
  return in;
}

size_t read_input(Input& in, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    auto want = static_cast<unsigned>(std::min<size_t>(size - got, INT_MAX));
    int n = gzread(in.gz, buffer + got, want);
    if (n < 0 || (n == 0 && !gzeof(in.gz))) {
      int code;
      const char* message = gzerror(in.gz, &code);
      if (code == Z_ERRNO) die("cannot read '%s': %s", in.path.c_str(), std::strerror(errno));
      if (code == Z_MEM_ERROR) throw std::bad_alloc();
      die("%s: damaged compressed data (%s)", in.path.c_str(), message);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < size && gzeof(in.gz)) {
    int code;
    const char* message = gzerror(in.gz, &code);
    if (code == Z_BUF_ERROR) die("%s: compressed data cut short (%s)", in.path.c_str(), message);
  }
  return got;
}

namespace {

uint32_t le16(std::string_view d, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(d[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(d[at + 1])) << 8;
}
uint32_t le32(std::string_view d, size_t at) { return le16(d, at) | le16(d, at + 2) << 16; }

// A dictzip file: one gzip member whose deflate stream starts afresh every
// `length` bytes of text, with each piece's compressed size listed in the
// header's "RA" field.
struct Pieces {
  size_t length = 0;           // text bytes per piece (the last may be short)
  std::vector<size_t> starts;  // where each piece's deflate data begins; one more at the end
  uint32_t crc = 0, size = 0;  // the trailer's checksum and text size
};

// The pieces of data when it is a well-formed dictzip file whose sizes all
// agree; false for anything else, which is left to the plain way.
bool find_pieces(std::string_view d, Pieces& p) {
  if (d.size() < 18 || !is_gzip(d) || d[2] != 8 || !(d[3] & 4)) return false;
  const unsigned flags = static_cast<unsigned char>(d[3]);
  size_t extra_end = 12 + le16(d, 10);
  if (extra_end > d.size()) return false;
  size_t count = 0, at = 12;
  for (; at + 4 <= extra_end; at += 4 + le16(d, at + 2)) {
    size_t len = le16(d, at + 2);
    if (at + 4 + len > extra_end) return false;
    if (d[at] == 'R' && d[at + 1] == 'A' && len >= 6 && le16(d, at + 4) == 1) {
      p.length = le16(d, at + 6);
      count = le16(d, at + 8);
      if (len < 6 + 2 * count) return false;
      break;
    }
  }
  if (p.length == 0 || count == 0 || at + 4 > extra_end) return false;
  size_t pos = extra_end;
  for (unsigned flag : {8u, 16u}) {  // a file name, a comment: NUL-terminated
    if (!(flags & flag)) continue;
    size_t nul = d.find('\0', pos);
    if (nul == std::string_view::npos) return false;
    pos = nul + 1;
  }
  if (flags & 2) pos += 2;  // the header's checksum
  p.starts.push_back(pos);
  for (size_t i = 0; i < count; ++i) {
    pos += le16(d, at + 10 + 2 * i);
    p.starts.push_back(pos);
  }
  // The last piece runs to the trailer: the stream's closing block follows it.
  if (pos + 8 > d.size()) return false;  // cut short
  p.starts.back() = d.size() - 8;
  p.crc = le32(d, d.size() - 8);
  p.size = le32(d, d.size() - 4);
  uint64_t most = static_cast<uint64_t>(count) * p.length;
  return most < (uint64_t{1} << 32) && p.size <= most && p.size > most - p.length;
}

// Expands pieces [first, last) into out; false when one does not expand to
// its length exactly.
bool expand_pieces(std::string_view d, const Pieces& p, size_t first, size_t last, char* out,
                   uint32_t* crc) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  bool ok = true;
  *crc = 0;
  for (size_t i = first; ok && i < last; ++i) {
    size_t begin = i * p.length, want = std::min<size_t>(p.length, p.size - begin);
    inflateReset(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(d.data() + p.starts[i]));
    z.avail_in = static_cast<uInt>(p.starts[i + 1] - p.starts[i]);
    z.next_out = reinterpret_cast<Bytef*>(out + begin);
    z.avail_out = static_cast<uInt>(want);
    int status = inflate(&z, Z_SYNC_FLUSH);
    ok = (status == Z_OK || status == Z_STREAM_END) && z.avail_out == 0 && z.avail_in == 0;
    if (ok) *crc = static_cast<uint32_t>(crc32(*crc, z.next_out - want, static_cast<uInt>(want)));
  }
  inflateEnd(&z);
  return ok;
}

// Expands a dictzip file's pieces on several threads; false (out unusable)
// when it is not one or anything fails to agree.
bool gunzip_pieces(std::string_view data, Bytes& out) {
  Pieces p;
  if (!find_pieces(data, p)) return false;
  size_t count = p.starts.size() - 1;
  size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  threads = std::min(threads, count);
  out.resize(p.size);
  std::vector<uint32_t> crcs(threads);
  std::vector<char> ok(threads);
  std::vector<std::thread> workers;
  auto range = [&](size_t t) {
    ok[t] = expand_pieces(data, p, count * t / threads, count * (t + 1) / threads, out.data(),
                          &crcs[t]);
  };
  for (size_t t = 1; t < threads; ++t) workers.emplace_back(range, t);
  range(0);
  for (std::thread& w : workers) w.join();
  uLong crc = crcs[0];
  for (size_t t = 0; t < threads; ++t) {
    if (!ok[t]) return false;
    if (t == 0) continue;
    size_t first = count * t / threads, last = count * (t + 1) / threads;
    size_t bytes = std::min<size_t>(last * p.length, p.size) - first * p.length;
    crc = crc32_combine(crc, crcs[t], static_cast<z_off_t>(bytes));
  }
  return crc == p.crc;
}

}  // namespace

Bytes read_all(const std::string& path) {
  Bytes raw;
  int fd = open_file_for_reading(path);
  close(fd);
  read_whole_file(path, raw);
  if (!is_gzip(view(raw))) {
    if (path.ends_with(".gz") || path.ends_with(".dz")) die("%s: not gzip data", path.c_str());
    return raw;
  }
  Bytes text;
  if (gunzip_pieces(view(raw), text)) return text;
  raw = Bytes();
  // Any other gzip data, or a dictzip file whose pieces do not agree, is
  // expanded the plain way, as it comes.
  Input in = open_input(path);
  text.clear();
  size_t used = 0;
  for (size_t room = 1 << 20;; room = std::min<size_t>(room * 2, 1 << 28)) {
    text.resize(used + room);
    size_t n = read_input(in, text.data() + used, room);
    used += n;
    if (n < room) break;
  }
  text.resize(used);
  return text;
}

}  // namespace zelk::sources
