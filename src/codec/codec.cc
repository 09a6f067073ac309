#include "codec/codec.h"

#include <libdeflate.h>
#include <sched.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

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
// Smaller blocks (the decompressor's) come from malloc. Each block starts with
// a prefix of kBlockPrefix bytes: its mapping's address and length (length 0:
// from malloc).
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kBlockPrefix = 64;
constexpr size_t kPage = 4096;

void* codec_alloc(size_t size) {
  if (size < kHugePage / 2) {
    char* block = static_cast<char*>(std::malloc(size + kBlockPrefix));
    if (!block) return nullptr;
    size_t zero = 0;
    std::memcpy(block + sizeof(void*), &zero, sizeof zero);
    return block + kBlockPrefix;
  }
  // Map 2 MB more than needed, then give back what lies before the first
  // 2 MB boundary and after the block.
  size_t length = (size + kBlockPrefix + kPage - 1) & ~(kPage - 1);
  size_t total = length + kHugePage;
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(p);
  uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(p, aligned - start);
  if (start + total > aligned + length)
    munmap(reinterpret_cast<void*>(aligned + length), start + total - aligned - length);
  char* block = reinterpret_cast<char*>(aligned);
  madvise(block, length, MADV_HUGEPAGE);  // a hint: without it all still works
  std::memcpy(block, &block, sizeof block);
  std::memcpy(block + sizeof block, &length, sizeof length);
  return block + kBlockPrefix;
}

void codec_free(void* ptr) {
  if (!ptr) return;
  char* block = static_cast<char*>(ptr) - kBlockPrefix;
  void* p;
  size_t total;
  std::memcpy(&p, block, sizeof p);
  std::memcpy(&total, block + sizeof p, sizeof total);
  if (total == 0) {
    std::free(block);
  } else {
    munmap(p, total);
  }
}

// The library's allocator is global: set it once, before any thread uses it.
void use_codec_allocator() {
  static std::once_flag once;
  std::call_once(once, [] { libdeflate_set_memory_allocator(codec_alloc, codec_free); });
}

}  // namespace

Compressor::Compressor(Compressor&& other) noexcept : c(std::exchange(other.c, nullptr)) {}

Compressor& Compressor::operator=(Compressor&& other) noexcept {
  if (this != &other) {
    if (c) libdeflate_free_compressor(c);
    c = std::exchange(other.c, nullptr);
  }
  return *this;
}

Compressor::~Compressor() {
  if (c) libdeflate_free_compressor(c);
}

Compressor make_compressor() {
  use_codec_allocator();
  Compressor compressor;
  compressor.c = libdeflate_alloc_compressor(kCompressionLevel);
  if (!compressor.c) throw std::bad_alloc();
  return compressor;
}

void compress_chunk(Compressor& compressor, const unsigned char* text, size_t size,
                    std::vector<unsigned char>& record) {
  record.resize(libdeflate_zlib_compress_bound(compressor.c, size));
  size_t n = libdeflate_zlib_compress(compressor.c, text, size, record.data(), record.size());
  record.resize(n);  // the bound always suffices, so n is never 0
}

std::vector<unsigned char> compress_chunk(const unsigned char* text, size_t size) {
  Compressor compressor = make_compressor();
  std::vector<unsigned char> record;
  compress_chunk(compressor, text, size, record);
  return record;
}

bool expand_record(const unsigned char* record, size_t size, size_t max_size,
                   std::vector<unsigned char>& text, std::string& error) {
  use_codec_allocator();
  // A decompressor keeps state while it runs: one per thread, for the
  // server's threads that expand records at the same time.
  static thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(
      libdeflate_alloc_decompressor());
  if (!d) throw std::bad_alloc();
  text.resize(max_size);
  size_t in_used = 0, out_size = 0;
  libdeflate_result r = libdeflate_zlib_decompress_ex(d.get(), record, size, text.data(), max_size,
                                                      &in_used, &out_size);
  if (r != LIBDEFLATE_SUCCESS) {
    text.clear();
    error = r == LIBDEFLATE_INSUFFICIENT_SPACE
                ? "expands to more than " + std::to_string(max_size) + " bytes"
                : "corrupt or truncated compressed data (or wrong checksum)";
    return false;
  }
  text.resize(out_size);
  if (in_used != size) {
    error = "compressed stream ends after " + std::to_string(in_used) + " of " +
            std::to_string(size) + " bytes";
    return false;
  }
  return true;
}

const char* codec_version() { return LIBDEFLATE_VERSION_STRING; }

int compress_threads() {
  cpu_set_t set;
  int cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  if (const char* cap = std::getenv("ZELKPACK_THREADS")) {
    char* end;
    errno = 0;
    long n = std::strtol(cap, &end, 10);
    if (errno == 0 && end != cap && *end == '\0' && n > 0 && n < cores) cores = static_cast<int>(n);
  }
  return std::max(cores, 1);
}

}  // namespace zelk
