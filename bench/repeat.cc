// Runs a command many times, each time with a key drawn at random from a
// file in place of the argument "{}", its output thrown away, and prints the
// median wall time in milliseconds and the largest peak memory in KiB.
//
//   repeat RUNS KEYFILE COMMAND ARG... ({} for the key)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: repeat RUNS KEYFILE COMMAND ARG...\n");
    return 2;
  }
  int runs = std::atoi(argv[1]);
  std::vector<std::string> keys;
  std::ifstream in(argv[2], std::ios::binary);
  for (std::string line; std::getline(in, line);) keys.push_back(line);
  if (keys.empty() || runs < 1) {
    std::fprintf(stderr, "repeat: no keys in %s\n", argv[2]);
    return 2;
  }
  std::mt19937 rng(12345);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<double> ms;
  long peak = 0;
  for (int r = 0; r < runs; ++r) {
    std::string key = keys[rng() % keys.size()];
    std::vector<char*> args;
    for (int i = 3; i < argc; ++i) {
      args.push_back(std::strcmp(argv[i], "{}") == 0 ? key.data() : argv[i]);
    }
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
      std::perror(args[0]);
      return 1;
    }
    int status;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    peak = std::max(peak, usage.ru_maxrss);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.2f %ld\n", ms[ms.size() / 2], peak);
  return 0;
}
