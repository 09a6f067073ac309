#include "codec/codec.h"

#include <libdeflate.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace zelk {

namespace {

struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The strongest level takes a block of about 9 MB, of which compressing one
// chunk touches a few hundred kilobytes spread over it (the match finder's
// tables are cleared for every stream). zelkpress starts once per chunk, and
// faulting those pages in one by one costs more than the compression itself;
// on transparent huge pages, aligned to their 2 MB, it takes three faults.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHeader = 64;  // keeps the mapping's start and length

void* compressor_alloc(size_t size) {
  size_t total = size + kHeader + kHugePage;
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(p);
  char* block = reinterpret_cast<char*>((start + kHugePage - 1) & ~(kHugePage - 1));
  madvise(block, size + kHeader, MADV_HUGEPAGE);  // a hint: without it all still works
  std::memcpy(block, &p, sizeof p);
  std::memcpy(block + sizeof p, &total, sizeof total);
  return block + kHeader;
}

void compressor_free(void* ptr) {
  if (!ptr) return;
  char* block = static_cast<char*>(ptr) - kHeader;
  void* p;
  size_t total;
  std::memcpy(&p, block, sizeof p);
  std::memcpy(&total, block + sizeof p, sizeof total);
  munmap(p, total);
}

}  // namespace

std::vector<unsigned char> compress_chunk(const unsigned char* text, size_t size) {
  // The allocator is global to the library: set it for this compressor only.
  struct Compressor {
    libdeflate_compressor* c;
    Compressor() {
      libdeflate_set_memory_allocator(compressor_alloc, compressor_free);
      c = libdeflate_alloc_compressor(kCompressionLevel);
    }
    ~Compressor() {
      libdeflate_free_compressor(c);
      libdeflate_set_memory_allocator(std::malloc, std::free);
    }
  } compressor;
  if (!compressor.c) throw std::bad_alloc();
  std::vector<unsigned char> out(libdeflate_zlib_compress_bound(compressor.c, size));
  size_t n = libdeflate_zlib_compress(compressor.c, text, size, out.data(), out.size());
  out.resize(n);  // the bound always suffices, so n is never 0
  return out;
}

bool expand_record(const unsigned char* record, size_t size, size_t max_size,
                   std::vector<unsigned char>& text, std::string& error) {
  static std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(
      libdeflate_alloc_decompressor());
  if (!d) throw std::bad_alloc();
  size_t room = max_size < 65536 ? max_size : 65536;
  for (;;) {
    text.resize(room);
    size_t in_used = 0, out_size = 0;
    libdeflate_result r = libdeflate_zlib_decompress_ex(d.get(), record, size, text.data(), room,
                                                        &in_used, &out_size);
    if (r == LIBDEFLATE_SUCCESS) {
      text.resize(out_size);
      if (in_used != size) {
        error = "compressed stream ends after " + std::to_string(in_used) + " of " +
                std::to_string(size) + " bytes";
        return false;
      }
      return true;
    }
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE && room < max_size) {
      room = room * 4 < max_size ? room * 4 : max_size;
      continue;
    }
    text.clear();
    error = r == LIBDEFLATE_INSUFFICIENT_SPACE
                ? "expands to more than " + std::to_string(max_size) + " bytes"
                : "corrupt or truncated compressed data (or wrong checksum)";
    return false;
  }
}

const char* codec_version() { return LIBDEFLATE_VERSION_STRING; }

}  // namespace zelk
