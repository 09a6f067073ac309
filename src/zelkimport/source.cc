// Reading the source files: whole, and expanded when gzip-compressed (dictd's
// and StarDict's .dz files are gzip files with an index of their blocks,
// read here from start to end).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "toolkit/file.h"
#include "zelkimport/import.h"

namespace zelk::import {

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

Bytes read_whole(const std::string& path) {
  Bytes data;
  read_whole_file(path, data);
  return data;
}

bool is_gzip(std::string_view data) {
  return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1F &&
         static_cast<unsigned char>(data[1]) == 0x8B;
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

Bytes gunzip(const std::string& path, std::string_view data) {
  Bytes pieces;
  if (gunzip_pieces(data, pieces)) return pieces;

  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  Bytes out;
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
    die("%s: damaged compressed data at byte %zu (%s)", path.c_str(), consumed,
        z.msg ? z.msg : "inflate failed");
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) {
    die("%s: compressed data cut short after %zu bytes (%zu expanded)", path.c_str(), data.size(),
        used);
  }
  out.resize(used);
  return out;
}

Bytes read_maybe_gzip(const std::string& path) {
  Bytes data = read_whole(path);
  if (!is_gzip(view(data))) {
    bool named = path.size() > 3 && (path.ends_with(".gz") || path.ends_with(".dz"));
    if (named) die("%s: not gzip data", path.c_str());
    return data;
  }
  return gunzip(path, view(data));
}

}  // namespace zelk::import
