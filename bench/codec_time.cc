// The codec alone: the time one thread takes to compress every chunk file
// given, read into memory first, with one compressor. Prints seconds.
//
//   codec_time out/dic0000.txt out/dic0001.txt ...
#include <chrono>
#include <cstdio>
#include <vector>

#include "codec/codec.h"
#include "toolkit/file.h"

int main(int argc, char** argv) {
  std::vector<std::vector<unsigned char>> chunks(static_cast<size_t>(argc > 1 ? argc - 1 : 0));
  for (int i = 1; i < argc; ++i) {
    if (!zelk::read_file(argv[i], chunks[static_cast<size_t>(i - 1)]).ok) {
      std::perror(argv[i]);
      return 1;
    }
  }
  if (chunks.empty()) {
    std::fprintf(stderr, "usage: codec_time CHUNK...\n");
    return 2;
  }
  zelk::Compressor compressor = zelk::make_compressor();
  std::vector<unsigned char> record;
  size_t total = 0;
  auto start = std::chrono::steady_clock::now();
  for (const auto& text : chunks) {
    zelk::compress_chunk(compressor, text.data(), text.size(), record);
    total += record.size();
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", s);
  std::fprintf(stderr, "%zu chunks compressed to %zu bytes\n", chunks.size(), total);
  return 0;
}
