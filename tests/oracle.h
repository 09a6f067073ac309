// The sorted copy computed the plain way, for differential tests: lines read
// by the 65535-byte rule, capped at K, at most 127 key bytes copied into a
// 128-byte slot, the slots Shell sorted with halving gaps.
#pragma once

#include <string>

namespace zelk_test {

struct Sorted {
  std::string copy;      // bytes of out/zelksort.dic
  std::string warnings;  // what went to standard error
  long nul_line = 0;     // first line holding a NUL byte, or 0
};

Sorted oracle_sort(const std::string& input, int k);

}  // namespace zelk_test
