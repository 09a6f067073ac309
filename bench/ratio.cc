// Compressed size of chunk files: our records (libdeflate, level 12) against
// zlib at level 9, both as zlib streams.
//
//   ratio out/dic0000.txt out/dic0001.txt ...
#include <zlib.h>

#include <cstdio>
#include <vector>

#include "codec/codec.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ratio CHUNK...\n");
    return 2;
  }
  unsigned long long plain = 0, ours = 0, zlib9 = 0;
  for (int i = 1; i < argc; ++i) {
    std::FILE* f = std::fopen(argv[i], "rb");
    if (!f) {
      std::perror(argv[i]);
      return 1;
    }
    std::vector<unsigned char> text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    plain += text.size();
    ours += zelk::compress_chunk(text.data(), text.size()).size();
    std::vector<unsigned char> z(compressBound(static_cast<uLong>(text.size())));
    uLongf zsize = static_cast<uLongf>(z.size());
    if (compress2(z.data(), &zsize, text.data(), static_cast<uLong>(text.size()), 9) != Z_OK)
      return 1;
    zlib9 += zsize;
  }
  double p = static_cast<double>(plain), o = static_cast<double>(ours),
         z = static_cast<double>(zlib9);
  std::printf("chunks %d, text %llu bytes\n", argc - 1, plain);
  std::printf("zelkpress (libdeflate 12): %llu bytes, %.2f %% of the text\n", ours, 100 * o / p);
  std::printf("zlib level 9:              %llu bytes, %.2f %% of the text\n", zlib9, 100 * z / p);
  std::printf("zelkpress is %.2f %% smaller than zlib level 9\n", 100 * (1 - o / z));
  return 0;
}
