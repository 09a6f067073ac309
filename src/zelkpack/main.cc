// zelkpack: turns a text dictionary into a dictionary database file.
#include <csignal>

#include "zelkpack/run.h"

int main(int argc, char** argv) {
  // A file size limit must show up as a failed write, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return zelk::zelkpack_main(argc, argv);
}
