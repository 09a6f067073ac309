// Runs commands many times, each time with a key drawn at random from a
// file in place of the argument "{}", their output thrown away, and prints
// for each command a line with its median wall time in milliseconds and its
// largest peak memory in KiB. Several commands, separated by "::", are run in
// turn, so that they are measured under the same conditions.
//
//   repeat RUNS KEYFILE COMMAND ARG... [:: COMMAND ARG...]  ({} for the key)
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
  std::vector<std::vector<char*>> commands(1);
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "::") == 0) {
      commands.emplace_back();
    } else {
      commands.back().push_back(argv[i]);
    }
  }
  std::mt19937 rng(12345);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::vector<double>> ms(commands.size());
  std::vector<long> peak(commands.size(), 0);
  for (int r = 0; r < runs; ++r) {
    std::string key = keys[rng() % keys.size()];
    for (size_t c = 0; c < commands.size(); ++c) {
      std::vector<char*> args;
      for (char* a : commands[c]) args.push_back(std::strcmp(a, "{}") == 0 ? key.data() : a);
      args.push_back(nullptr);
      auto start = std::chrono::steady_clock::now();
      pid_t pid;
      if (args[0] == nullptr ||
          posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::perror(args[0] ? args[0] : "repeat");
        return 1;
      }
      int status;
      struct rusage usage;
      wait4(pid, &status, 0, &usage);
      ms[c].push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      peak[c] = std::max(peak[c], usage.ru_maxrss);
    }
  }
  for (size_t c = 0; c < commands.size(); ++c) {
    std::sort(ms[c].begin(), ms[c].end());
    std::printf("%.2f %ld\n", ms[c][ms[c].size() / 2], peak[c]);
  }
  return 0;
}
