#include "toolkit/error.h"

#include <cstdarg>
#include <cstdio>

namespace zelk {

void die(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  throw Fatal{std::move(text)};
}

}  // namespace zelk
