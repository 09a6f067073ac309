#include "main/run.h"

#include <sys/stat.h>

#include <new>
#include <stdexcept>

#include "common/error.h"
#include "common/file.h"
#include "main/cmdline.h"
#include "pdb/byteorder.h"
#include "pdb/format.h"
#include "pdb/writer.h"
#include "text/sort.h"
#include "text/split.h"

namespace zelk {

namespace {

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

  const std::string& dic_file = operands[0];
  File input = open_file(dic_file, "rb");
  if (!input.f || !is_readable_stream(input.f)) die("Can not open '%s'\n", dic_file.c_str());
  if (!SwapChoose()) die("Fail to determine byte order.\n");
  mkdir(kWorkDir, 0777);  // an existing directory, or any failure, shows up later

  File sorted = sort_dic(std::move(input), settings.chunksize);
  Stats stats;
  ChunkIndex index;
  split(sorted.f, settings, stats, index);
  if (index.entries.empty()) die("Error: No entries in input file.\n");
  if (index.suffix > kMaxChunks) {
    die("Error: Too many chunks (%d), at most 65534.\n", index.suffix);
  }

  File out = open_file(settings.outFileName, "wb");
  if (!out.f) die("Can not open '%s' for write.\n", settings.outFileName.c_str());
  set_buffer(out, 1 << 20);
  merge(out, settings, index);
  report(stats);
}

}  // namespace

int zelkpack_main(int argc, const char* const* argv) {
  try {
    run(argc, argv);
    return 0;
  } catch (const Fatal& fatal) {
    std::fwrite(fatal.message.data(), 1, fatal.message.size(), stderr);
  } catch (const std::bad_alloc&) {
    std::fputs(kNoMemory, stderr);
  } catch (const std::length_error&) {
    std::fputs(kNoMemory, stderr);
  }
  return 1;
}

}  // namespace zelk
