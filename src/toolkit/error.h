// How the converter fails: every fatal condition becomes a Fatal carrying the
// exact text the program prints to standard error before it exits with
// status 1. Stages throw; only main() prints and exits, so stages stay
// testable and files written so far stay in place.
#pragma once

#include <string>

namespace zelk {

struct Fatal {
  std::string message;  // one or more lines, each ending in '\n'
};

// Throws Fatal with the printf-formatted message.
[[noreturn]] void die(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The message printed when an allocation fails, wherever it happens.
inline constexpr const char kNoMemory[] = "Error: No more memory\n";

}  // namespace zelk
