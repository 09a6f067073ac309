#include "codec/companion.h"

#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

#include "codec/identity.h"
#include "toolkit/file.h"

namespace zelk {

namespace {

// The companion is about a megabyte; anything far larger is something else.
constexpr off_t kMaxCompanionSize = off_t{64} << 20;

}  // namespace

std::string companion_tag() {
  std::string tag = "zelkpress companion";
  tag += " of build ";
  tag += ZELK_PRESS_BUILD;
  return tag;
}

bool is_companion(const char* path) {
  struct stat st;
  struct statvfs fs;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxCompanionSize ||
      access(path, X_OK) != 0 || statvfs(path, &fs) != 0 || (fs.f_flag & ST_NOEXEC)) {
    return false;
  }
  std::vector<unsigned char> bytes;
  if (!read_file(path, bytes).ok) return false;
  std::string tag = companion_tag();
  // The tag ends in a NUL in the file: a longer text that starts with it is
  // not the tag.
  return memmem(bytes.data(), bytes.size(), tag.c_str(), tag.size() + 1) != nullptr;
}

}  // namespace zelk
