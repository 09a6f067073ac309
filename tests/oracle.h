// The sorted copy computed the plain way, for differential tests: lines read
// by the 65535-byte rule, capped at K, at most 127 key bytes copied into a
// 128-byte slot, the slots Shell sorted with halving gaps.
#pragma once

#include <string>
#include <utility>

namespace zelk_test {

struct Sorted {
  std::string copy;      // bytes of out/zelksort.dic
  std::string warnings;  // what went to standard error
  long nul_line = 0;     // first line holding a NUL byte, or 0
};

Sorted oracle_sort(const std::string& input, int k);

// The Shell sort with halving gaps, run literally: each pass an insertion sort
// per chain that stops at the first element not greater (greater(x, y): x
// goes after y).
template <class Vector, class Greater>
void literal_shell_sort(Vector& a, Greater greater) {
  long n = static_cast<long>(a.size());
  for (long gap = n / 2; gap > 0; gap /= 2) {
    for (long i = gap; i < n; ++i) {
      for (long j = i - gap; j >= 0 && greater(a[j], a[j + gap]); j -= gap) {
        std::swap(a[j], a[j + gap]);
      }
    }
  }
}

}  // namespace zelk_test
