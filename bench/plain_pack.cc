// The sorting stage rendered straightforwardly, for comparison: three reads
// of the input with a 65536-byte line buffer, a 128-byte key slot per line,
// a Shell sort with halving gaps moving whole slots, and a seek per line
// when copying. Then chunks and a plain database, like `zelkpack -p -l`.
//
//   plain_pack dic-file
#include <cstring>
#include <vector>

#include "convert/entry.h"
#include "pack_plain.h"

namespace {

struct Slot {
  char key[128];
};

void plain_sort(std::FILE* in, int chunksize) {
  static char line[65536];
  long count = 0;
  while (std::fgets(line, 65536, in)) ++count;
  std::rewind(in);
  std::vector<Slot> words(static_cast<size_t>(count));
  std::vector<long> wordpos(static_cast<size_t>(count));
  for (long i = 0; i < count; ++i) {
    wordpos[static_cast<size_t>(i)] = std::ftell(in);
    if (!std::fgets(line, 65536, in)) break;
    zelk::truncate_line(line, zelk::line_cap(chunksize));
    Slot& slot = words[static_cast<size_t>(i)];
    std::memset(slot.key, 0, sizeof slot.key);
    for (size_t j = 0; line[j] && line[j] != '\t' && !zelk::at_separator(line + j); ++j) {
      if (j == 127) break;
      slot.key[j] = line[j];
    }
  }
  for (long gap = count / 2; gap > 0; gap /= 2) {
    for (long i = gap; i < count; ++i) {
      for (long j = i - gap; j >= 0; j -= gap) {
        size_t a = static_cast<size_t>(j), b = static_cast<size_t>(j + gap);
        if (std::strcmp(words[a].key, words[b].key) <= 0) break;
        std::swap(words[a], words[b]);
        std::swap(wordpos[a], wordpos[b]);
      }
    }
  }
  zelk::File copy = zelk::open_file(zelk::sorted_copy_path(), "wb");
  for (long i = 0; i < count; ++i) {
    std::fseek(in, wordpos[static_cast<size_t>(i)], SEEK_SET);
    if (!std::fgets(line, 65536, in)) break;
    std::fputs(line, copy.f);
  }
  zelk::close_file(copy);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: plain_pack dic-file\n");
    return 2;
  }
  return bench::pack_plain("plain_pack", argv[1], [](zelk::File& input, const zelk::Settings& s) {
    plain_sort(input.f, s.chunksize);
  });
}
