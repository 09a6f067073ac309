// zelkpack: turns a text dictionary into a dictionary database file.
#include "toolkit/main.h"

#include <csignal>

#include "toolkit/error.h"
#include "zelkpack/run.h"

int main(int argc, char** argv) {
  // A file size limit must show up as a failed write, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return zelk::run_main(
      {nullptr, zelk::kNoMemory, 1},
      [](int n, char** args) { return zelk::zelkpack_main(n, args); }, argc, argv);
}
