// What the benchmark programs share with `zelkpack -p -l`: the converter's
// own run before and after the sorted copy is written.
#pragma once

#include <cstdio>

#include "toolkit/error.h"
#include "toolkit/file.h"
#include "zelkpack/run.h"

namespace bench {

// Readies the run as zelkpack does, runs sort_copy(input) to write
// out/zelksort.dic, then chunks it and writes a plain database (large index
// allowed) with the converter's own stages. Returns the exit status.
template <class SortCopy>
int pack_plain(const char* name, const char* dic_file, SortCopy sort_copy) {
  try {
    zelk::Settings settings;
    settings.do_compress = false;
    settings.allow_large_index = true;
    zelk::File input = zelk::open_run(settings, dic_file);
    sort_copy(input, settings);
    input = zelk::File();
    zelk::File sorted = zelk::open_file(zelk::sorted_copy_path(), "rb");
    if (!sorted.f) zelk::die("%s: cannot read %s\n", name, zelk::sorted_copy_path().c_str());
    zelk::Stats stats;
    zelk::pack_sorted(std::move(sorted), settings, stats);
  } catch (const zelk::Fatal& fatal) {
    std::fputs(fatal.message.c_str(), stderr);
    return 1;
  }
  return 0;
}

}  // namespace bench
