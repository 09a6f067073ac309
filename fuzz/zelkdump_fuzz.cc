// Feeds arbitrary bytes to zelkdump's commands as a database file. Nothing may
// crash or read out of bounds, and the commands must agree: a database that
// verifies as sound must also list, extract, describe and show its keys
// without error, and every key it shows must be found.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "helpers.h"
#include "toolkit/error.h"
#include "zelkdump/commands.h"

namespace {

void require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

int run(int fd, size_t size, const zelk::Request& request, std::string* out = nullptr) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  static const std::string name = "fuzz.pdb";
  char* text = nullptr;
  size_t text_size = 0;
  std::FILE* o = out ? open_memstream(&text, &text_size) : sink;
  zelk::DumpContext cx{name, o, sink, false, zelk::Charset()};
  int status;
  try {
    status = zelk::run_dump(cx, request, fd, size) ? 0 : 1;
  } catch (const zelk::Fatal& fatal) {
    status = fatal.status;
  }
  if (out) {
    std::fclose(o);
    out->assign(text, text_size);
    std::free(text);
  }
  return status;
}

zelk::Request request(const char* command, std::vector<std::string> keys = {},
                      const char* strategy = "exact") {
  zelk::Request r;
  r.command = command;
  r.keys = std::move(keys);
  r.strategy = strategy;
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  int fd = zelk_test::memory_file(bytes);
  std::string probe = bytes.substr(0, 6);
  int verify = run(fd, size, request("verify"));
  require(verify == 0 || verify == 1, "verify says sound or damaged");
  for (const char* command : {"info", "list", "extract"}) {
    int status = run(fd, size, request(command));
    require(status == 0 || status == 1, "status 0 or 1");
    require(verify != 0 || status == 0, "a sound database reads without error");
  }
  for (const char* s : {"exact", "prefix", "nocase", "lev"}) {
    int status = run(fd, size, request("lookup", {probe, "a", ""}, s));
    require(status == 0 || status == 1, "lookup status 0 or 1");
  }
  std::string keys;
  int listed = run(fd, size, request("keys"), &keys);
  require(verify != 0 || listed == 0, "a sound database lists its keys");
  if (verify == 0 && keys.find('\\') == std::string::npos) {
    // Keys without bytes that print escaped are found as printed.
    std::vector<std::string> all;
    for (size_t pos = 0; pos < keys.size();) {
      size_t lf = keys.find('\n', pos);
      all.push_back(keys.substr(pos, lf - pos));
      pos = lf + 1;
    }
    if (!all.empty()) {
      require(run(fd, size, request("lookup", all)) == 0, "every key is found");
    }
  }
  close(fd);
  return 0;
}
