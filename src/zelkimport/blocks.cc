#include "zelkimport/blocks.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "toolkit/error.h"

namespace zelk::import {

namespace {

constexpr size_t kReadSize = 1 << 20;

// Reads more compressed bytes into r.in; false at the file's end.
bool fill(BlockReader& r) {
  size_t have = r.in.size();
  r.in.resize(have + kReadSize);
  size_t n = std::fread(r.in.data() + have, 1, kReadSize, r.f);
  r.in.resize(have + n);
  if (std::ferror(r.f)) die("cannot read '%s': %s", r.path.c_str(), std::strerror(errno));
  return n > 0;
}

}  // namespace

BlockReader::~BlockReader() {
  if (f) std::fclose(f);
  if (gzip) inflateEnd(&z);
}

std::unique_ptr<BlockReader> open_blocks(const std::string& path) {
  auto r = std::make_unique<BlockReader>();
  r->path = path;
  r->f = std::fopen(path.c_str(), "rb");
  if (!r->f) die("cannot open '%s': %s", path.c_str(), std::strerror(errno));
  fill(*r);
  r->gzip = r->in.size() >= 2 && r->in[0] == 0x1F && r->in[1] == 0x8B;
  if (r->gzip && inflateInit2(&r->z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  return r;
}

bool read_block(BlockReader& r, std::string& out, size_t want) {
  if (r.ended) return false;
  size_t before = out.size();
  if (!r.gzip) {
    while (out.size() - before < want) {
      if (r.in.empty() && !fill(r)) {
        r.ended = true;
        break;
      }
      out.append(reinterpret_cast<const char*>(r.in.data()), r.in.size());
      r.in.clear();
    }
    return out.size() > before;
  }
  while (out.size() - before < want) {
    if (r.in.empty() && !fill(r)) {
      die("%s: compressed data cut short after %llu bytes", r.path.c_str(), r.consumed);
    }
    size_t at = out.size();
    out.resize(at + kReadSize);
    r.z.next_in = r.in.data();
    r.z.avail_in = static_cast<uInt>(r.in.size());
    r.z.next_out = reinterpret_cast<Bytef*>(out.data() + at);
    r.z.avail_out = static_cast<uInt>(kReadSize);
    int status = inflate(&r.z, Z_NO_FLUSH);
    size_t used = r.in.size() - r.z.avail_in;
    r.consumed += used;
    r.in.erase(r.in.begin(), r.in.begin() + static_cast<long>(used));
    out.resize(at + kReadSize - r.z.avail_out);
    if (status == Z_STREAM_END) {
      // Another member may follow; anything but a gzip header ends the data.
      if (r.in.size() < 2 && !std::feof(r.f)) fill(r);
      if (r.in.size() >= 2 && r.in[0] == 0x1F && r.in[1] == 0x8B) {
        inflateReset(&r.z);
        continue;
      }
      r.ended = true;
      break;
    }
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    if (status != Z_OK && status != Z_BUF_ERROR) {
      die("%s: damaged compressed data at byte %llu (%s)", r.path.c_str(), r.consumed,
          r.z.msg ? r.z.msg : "inflate failed");
    }
  }
  return out.size() > before;
}

}  // namespace zelk::import
