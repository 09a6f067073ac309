// Feeds arbitrary bytes to zelkdump's commands as a database. Nothing may
// crash or read out of bounds, and the commands must agree: a database that
// verifies as sound must also list, extract and describe without error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zelkdump/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  static const std::string name = "fuzz.pdb";
  zelk::DumpContext cx{name, sink, sink};
  std::vector<std::string> keys = {
      std::string(reinterpret_cast<const char*>(data), size < 6 ? size : 6), "a"};
  int verify = zelk::run_dump(cx, "verify", keys, data, size);
  for (const char* command : {"info", "list", "extract", "lookup"}) {
    int status = zelk::run_dump(cx, command, keys, data, size);
    if (status < 0 || status > 1) std::abort();
    if (verify == 0 && status != 0 && std::string(command) != "lookup") std::abort();
  }
  return 0;
}
