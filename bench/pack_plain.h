// What the benchmark programs share with `zelkpack -p -l`: everything after
// the sorted copy is written.
#pragma once

#include <sys/stat.h>

#include <cstdio>

#include "common/error.h"
#include "common/file.h"
#include "pdb/byteorder.h"
#include "pdb/writer.h"
#include "text/split.h"

namespace bench {

// Runs sort_copy(input) to write out/zelksort.dic, then chunks it and writes
// a plain database (large index allowed) as zelkpack does. Returns the exit
// status.
template <class SortCopy>
int pack_plain(const char* name, const char* dic_file, SortCopy sort_copy) {
  try {
    zelk::Settings settings;
    settings.do_compress = false;
    settings.allow_large_index = true;
    zelk::File input = zelk::open_file(dic_file, "rb");
    if (!input.f) zelk::die("%s: cannot read %s\n", name, dic_file);
    zelk::SwapChoose();
    mkdir(zelk::kWorkDir, 0777);
    sort_copy(input, settings);
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

}  // namespace bench
