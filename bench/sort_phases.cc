// Times the phases of the sorting stage on one input: loading, cutting into
// lines and keys, ranking and replaying, writing the sorted copy.
//
//   sort_phases dic-file
#include <chrono>
#include <cstdio>
#include <memory>

#include "convert/sort.h"
#include "toolkit/file.h"

namespace {
double ms_since(std::chrono::steady_clock::time_point& t) {
  auto now = std::chrono::steady_clock::now();
  double ms = std::chrono::duration<double, std::milli>(now - t).count();
  t = now;
  return ms;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sort_phases dic-file\n");
    return 2;
  }
  auto t = std::chrono::steady_clock::now();
  zelk::File input = zelk::open_file(argv[1], "rb");
  zelk::UninitVector<char> in;
  if (!input.f || !zelk::load_input(input.f, in)) return 1;
  std::printf("load   %7.1f ms\n", ms_since(t));
  zelk::LineTable table = zelk::scan_lines(in.data(), in.size(), 4096, nullptr);
  std::printf("scan   %7.1f ms  (%zu lines)\n", ms_since(t), table.key_lengths.size());
  zelk::SortedLines order = zelk::sort_lines(in.data(), table);
  std::printf("order  %7.1f ms\n", ms_since(t));
  zelk::File copy = zelk::open_file("/dev/null", "wb");
  zelk::write_sorted(copy, in.data(), table, order);
  zelk::close_file(copy);
  std::printf("write  %7.1f ms\n", ms_since(t));
  return 0;
}
