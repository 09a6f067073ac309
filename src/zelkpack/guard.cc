#include "zelkpack/guard.h"

#include <sys/stat.h>

#include <string_view>

#include "convert/settings.h"
#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk {

namespace {

// True for a relative path that reads "out" once empty and "." parts are
// dropped: "out", "./out", "out/.", "./out//".
bool names_work_dir(std::string_view dir) {
  if (!dir.empty() && dir[0] == '/') return false;
  int parts = 0;
  bool is_out = false;
  while (!dir.empty()) {
    size_t slash = dir.find('/');
    std::string_view part = dir.substr(0, slash);
    dir = slash == std::string_view::npos ? std::string_view() : dir.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    ++parts;
    is_out = part == kWorkDir;
  }
  return parts == 1 && is_out;
}

}  // namespace

void check_output_path(const std::string& output, std::FILE* input) {
  if (same_file(fileno(input), output)) {
    die("Error: Output file '%s' is the input file.\n", output.c_str());
  }
  std::string parent = folder_of(output);
  if (names_work_dir(parent) || same_file(parent, kWorkDir)) {
    die("Error: Output file '%s' is in the work directory.\n", output.c_str());
  }
}

}  // namespace zelk
