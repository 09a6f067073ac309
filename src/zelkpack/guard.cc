#include "zelkpack/guard.h"

#include <sys/stat.h>

#include <string_view>

#include "text/settings.h"
#include "toolkit/error.h"

namespace zelk {

namespace {

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The directory part of a path: "." when it has none.
std::string parent_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

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
  struct stat in, out;
  if (fstat(fileno(input), &in) == 0 && stat(output.c_str(), &out) == 0 && same_file(in, out)) {
    die("Error: Output file '%s' is the input file.\n", output.c_str());
  }
  std::string parent = parent_of(output);
  struct stat dir, work;
  if (names_work_dir(parent) ||
      (stat(parent.c_str(), &dir) == 0 && stat(kWorkDir, &work) == 0 && same_file(dir, work))) {
    die("Error: Output file '%s' is in the work directory.\n", output.c_str());
  }
}

}  // namespace zelk
