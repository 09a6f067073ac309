#include "toolkit/error.h"

namespace zelk {

std::string format_text(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

void die(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_text(format, args);
  va_end(args);
  throw Fatal{std::move(text), 1};
}

void die_with(int status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_text(format, args);
  va_end(args);
  throw Fatal{std::move(text), status};
}

int exit_status(const Fatal& fatal, const char* program, std::FILE* err) {
  if (program) {
    std::fprintf(err, "%s: %s\n", program, fatal.message.c_str());
  } else {
    std::fwrite(fatal.message.data(), 1, fatal.message.size(), err);
  }
  return fatal.status;
}

}  // namespace zelk
