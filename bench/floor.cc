// The floor the converter is measured against: reads the input once, writes
// it unsorted as out/zelksort.dic, then chunks it and writes a plain database
// with a large index allowed, exactly like `zelkpack -p -l` minus the sort.
//
//   floor dic-file
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "common/error.h"
#include "common/file.h"
#include "pdb/byteorder.h"
#include "pdb/writer.h"
#include "text/split.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor dic-file\n");
    return 2;
  }
  try {
    zelk::Settings settings;
    settings.do_compress = false;
    settings.allow_large_index = true;
    zelk::File input = zelk::open_file(argv[1], "rb");
    auto data = std::make_unique<zelk::InputBytes>();
    if (!input.f || !zelk::load_input(input.f, *data)) zelk::die("floor: cannot read %s\n", argv[1]);
    zelk::SwapChoose();
    mkdir(zelk::kWorkDir, 0777);
    zelk::File copy = zelk::open_file(zelk::sorted_copy_path(), "wb");
    zelk::write_bytes(copy, data->data, data->size);
    zelk::close_file(copy);
    data.reset();
    zelk::File sorted = zelk::open_file(zelk::sorted_copy_path(), "rb");
    zelk::Stats stats;
    zelk::ChunkIndex index;
    zelk::split(sorted.f, settings, stats, index);
    zelk::File out = zelk::open_file(settings.outFileName, "wb");
    zelk::set_buffer(out, 1 << 20);
    zelk::merge(out, settings, index);
  } catch (const zelk::Fatal& fatal) {
    std::fputs(fatal.message.c_str(), stderr);
    return 1;
  }
  return 0;
}
