// Writes the FORMATS section of zelkimport(1) from the source readers'
// table, as roff: each format's name, what it is, the endings of its files
// and its own options. The build runs it (cmake/man_formats.cmake), so the
// page lists what the program reads.
#include "sources/formats.h"

#include <cstdio>
#include <string>

namespace {

// Text as roff reads it: backslashes and dashes escaped, no request at a
// line's start.
std::string roff(std::string_view text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\\') {
      out += "\\e";
    } else if (ch == '-') {
      out += "\\-";
    } else {
      out += ch;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace

int main() {
  for (const zelk::sources::Format* f : zelk::sources::formats()) {
    std::printf(".TP\n.B %s\n%s.\n", f->name, roff(f->description).c_str());
    if (!f->endings.empty()) {
      std::string endings;
      for (const char* e : f->endings) endings += (endings.empty() ? "" : ", ") + roff(e);
      std::printf("Known by its ending: %s.\n", endings.c_str());
    }
    for (const zelk::sources::FormatOption& o : f->options) {
      std::printf(".br\n\\fB\\-\\-%s\\fP", roff(o.name).c_str());
      std::string choices;
      for (const char* c : o.choices) choices += (choices.empty() ? "" : "|") + roff(c);
      if (!choices.empty()) {
        std::printf(" %s", choices.c_str());
      } else if (o.value) {
        std::printf(" \\fI%s\\fP", roff(o.value).c_str());
      }
      std::printf(": %s", roff(o.help).c_str());
      std::string_view fallback = o.fallback;
      if (o.value && !fallback.empty() && fallback != "0") {
        std::printf(" (default: %s)", roff(fallback).c_str());
      }
      std::printf(".\n");
    }
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
