#include "zelkpack/run.h"

#include <sys/stat.h>

#include <new>
#include <stdexcept>

#include "convert/entry.h"
#include "convert/sort.h"
#include "convert/split.h"
#include "format/format.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "zelkpack/cmdline.h"
#include "zelkpack/guard.h"
#include "zelkpack/host.h"
#include "zelkpack/merge.h"

namespace zelk {

namespace {

// What the run had to mangle, said once at its end.
void warn_mangled(const Stats& stats, int chunksize) {
  if (stats.cut_lines) {
    std::fprintf(stderr, "Warning: %ld line%s cut to %ld bytes; the longest was %ld bytes.\n",
                 stats.cut_lines, stats.cut_lines == 1 ? "" : "s", line_cap(chunksize).kept,
                 stats.longest_cut);
  }
  if (stats.long_input_lines) {
    std::fprintf(stderr, "Warning: %ld input line%s over 65535 bytes read in pieces.\n",
                 stats.long_input_lines, stats.long_input_lines == 1 ? "" : "s");
  }
  if (stats.byte_order_mark) {
    std::fprintf(stderr,
                 "Warning: Input file starts with a byte order mark, kept in the first line's "
                 "key.\n");
  }
}

void report(const Stats& stats) {
  std::printf("\n");
  std::printf("MAX Key Length = %d\n", static_cast<int>(stats.max_key));
  std::printf("MAX Val Length = %d\n", static_cast<int>(stats.max_val));
  std::printf("Total words    = %ld\n", stats.total_words);
}

void run(int argc, const char* const* argv) {
  Settings settings;
  std::vector<std::string> operands;
  parse_options(argc, argv, settings, operands, stderr);
  if (operands.size() != 1) throw Fatal{kUsage};
  if (settings.chunksize < kMinChunkSize || settings.chunksize > kMaxChunkSize) {
    die("Error: Chunk size %d out of range (2..65535)\n", settings.chunksize);
  }
  File input = open_run(settings, operands[0]);
  Stats stats;
  pack_sorted(sort_dic(std::move(input), settings.chunksize, stats), settings, stats);
  report(stats);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    die("Error: Can not write 'standard output'\n");
  }
}

}  // namespace

File open_run(const Settings& settings, const std::string& dic_file) {
  File input = open_file(dic_file, "rb");
  if (!input.f || !is_readable_stream(input.f)) die("Can not open '%s'\n", dic_file.c_str());
  check_output_path(settings.outFileName, input.f);
  if (!host_order_known()) die("Fail to determine byte order.\n");
  mkdir(kWorkDir, 0777);  // an existing directory, or any failure, shows up later
  return input;
}

void pack_sorted(File sorted, const Settings& settings, Stats& stats) {
  ChunkIndex index;
  split(sorted.f, settings, stats, index);
  check_chunk_count(index);
  File out = open_file(settings.outFileName, "wb");
  if (!out.f) die("Can not open '%s' for write.\n", settings.outFileName.c_str());
  set_buffer(out, 1 << 20);
  merge(out, settings, index);
  warn_mangled(stats, settings.chunksize);
}

int zelkpack_main(int argc, const char* const* argv) {
  try {
    run(argc, argv);
    return 0;
  } catch (const Fatal& fatal) {
    return exit_status(fatal, nullptr, stderr);
  } catch (const std::bad_alloc&) {
    return exit_status(Fatal{kNoMemory}, nullptr, stderr);
  } catch (const std::length_error&) {
    return exit_status(Fatal{kNoMemory}, nullptr, stderr);
  }
}

}  // namespace zelk
