// The cost of starting a program once per chunk the way zelkpack starts the
// compressor: system("./noop out/dicNNNN.txt out/dicNNNN.txz") for every
// chunk file in out/, with noop a static program that does nothing.
//
//   spawn_floor CHUNKS     (run in the directory that holds ./noop and out/)
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: spawn_floor CHUNKS\n");
    return 2;
  }
  int chunks = std::atoi(argv[1]);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < chunks; ++i) {
    char command[128];
    std::snprintf(command, sizeof command, "./noop out/dic%04d.txt out/dic%04d.txz", i, i);
    if (std::system(command) != 0) return 1;
  }
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", ms / chunks);
  return 0;
}
