// An allocator for the large per-line tables of the sorting stage: blocks of
// a megabyte and more are mapped on their own and marked for transparent huge
// pages, which saves most page faults on inputs of millions of lines.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace zelk {

void* big_allocate(size_t bytes);  // throws std::bad_alloc
void big_release(void* p, size_t bytes) noexcept;

template <class T>
struct BigAllocator {
  using value_type = T;
  BigAllocator() = default;
  template <class U>
  BigAllocator(const BigAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(big_allocate(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { big_release(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const BigAllocator<U>&) const {
    return true;
  }
};

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

}  // namespace zelk
