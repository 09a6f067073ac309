// How the programs fail: a stage that cannot go on raises a Fatal carrying
// its message and the exit status, and only main() prints it and exits, so
// stages stay testable and files written so far stay in place.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zelk {

struct Fatal {
  std::string message;  // zelkpack's: whole lines, printed as they are; else one text
  int status = 1;
};

// Raises Fatal with the printf-formatted message and status 1.
[[noreturn]] void die(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same with another status.
[[noreturn]] void die_with(int status, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The printf-formatted text.
std::string format_text(const char* format, va_list args);

// main()'s one way out: prints the message on err ("PROGRAM: MESSAGE\n", or
// the message as it is when program is null) and returns the status.
int exit_status(const Fatal& fatal, const char* program, std::FILE* err);

// The message printed when an allocation fails, wherever it happens.
inline constexpr const char kNoMemory[] = "Error: No more memory\n";

}  // namespace zelk
