// An allocator for the input and the large per-line tables of the sorting
// stage: blocks of a megabyte and more are mapped on their own and marked for
// transparent huge pages, which saves most page faults on inputs of millions
// of lines. Elements are not zeroed: every table is filled before it is read.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
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
  // New elements are left uninitialised (resize does not zero a table that
  // is about to be filled); constructions with arguments are as usual.
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const BigAllocator<U>&) const {
    return true;
  }
};

template <class T>
using UninitVector = std::vector<T, BigAllocator<T>>;

}  // namespace zelk
