// The floor the converter is measured against: reads the input once, writes
// it unsorted as out/zelksort.dic, then chunks it and writes a plain database
// with a large index allowed, exactly like `zelkpack -p -l` minus the sort.
//
//   floor dic-file
#include <memory>

#include "pack_plain.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor dic-file\n");
    return 2;
  }
  return bench::pack_plain("floor", argv[1], [&](zelk::File& input, const zelk::Settings&) {
    zelk::UninitVector<char> data;
    if (!zelk::load_input(input.f, data)) zelk::die("floor: cannot read %s\n", argv[1]);
    zelk::File copy = zelk::open_file(zelk::sorted_copy_path(), "wb");
    zelk::write_bytes(copy, data.data(), data.size());
    zelk::close_file(copy);
  });
}
