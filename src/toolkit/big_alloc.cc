#include "toolkit/big_alloc.h"

#include <sys/mman.h>

#include <cstdlib>

namespace zelk {

namespace {
constexpr size_t kBigBlock = size_t{1} << 20;
}

void* big_allocate(size_t bytes) {
  if (bytes < kBigBlock) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  madvise(p, bytes, MADV_HUGEPAGE);  // a hint; without it the block still works
  return p;
}

void big_release(void* p, size_t bytes) noexcept {
  if (bytes < kBigBlock) {
    std::free(p);
  } else {
    munmap(p, bytes);
  }
}

}  // namespace zelk
