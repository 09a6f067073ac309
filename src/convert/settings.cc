#include "convert/settings.h"

#include <cstdio>

namespace zelk {

std::string sorted_copy_path() { return std::string(kWorkDir) + "/zelksort.dic"; }

std::string chunk_path(int chunk, const char* extension) {
  char name[64];
  std::snprintf(name, sizeof name, "%s/%s%04d.%s", kWorkDir, kChunkPrefix, chunk, extension);
  return name;
}

}  // namespace zelk
