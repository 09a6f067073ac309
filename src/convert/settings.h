// The converter's run settings (zelkpack reads them from its command line,
// zelkimport sets them for its database output), the statistics the sorting
// and chunking stages keep, and the names of the work files those stages write.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

struct Settings {
  std::string storyName = "ZelkDB";      // database name; the file gets its first 31 bytes
  std::string outFileName = "zelk.pdb";  // output database path
  int chunksize = 4096;                  // chunk budget K, 2..65535 once checked
  bool do_compress = true;               // -p turns it off
  bool allow_large_index = false;        // -l
  bool debug = false;                    // -d flips it
  bool write_chunks = true;              // false: the chunking stage only counts (a dry run)
};

struct Stats {
  uint32_t max_key = 0;   // longest key written
  uint32_t max_val = 0;   // longest value written
  long total_words = 0;   // entries written
  long current_line = 0;  // lines of the sorted copy read by the chunking stage
  // What the run mangles, for the warnings at its end.
  long cut_lines = 0;            // lines of the sorted copy over K - 2 bytes before their line feed
  long longest_cut = 0;          // the most bytes before the line feed among them
  long long_input_lines = 0;     // input lines over 65535 bytes, read in pieces
  bool byte_order_mark = false;  // the input starts with EF BB BF
};

inline constexpr int kMinChunkSize = 2;
inline constexpr int kMaxChunkSize = 65535;

// Work directory and the files in it.
inline constexpr const char kWorkDir[] = "out";
inline constexpr const char kChunkPrefix[] = "dic";

// "out/zelksort.dic"
std::string sorted_copy_path();
// "out/dic0007.txt" for (7, "txt"); five digits from chunk 10000 on.
std::string chunk_path(int chunk, const char* extension);

}  // namespace zelk
