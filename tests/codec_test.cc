// Compressed records: their level, and the threads that make them.
#include "codec/codec.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "toolkit/error.h"
#include "toolkit/main.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Records are libdeflate's zlib streams at its strongest level, 12: on 60 KB
// of words, levels 11 and 12 already give other bytes.
TEST(Codec, RecordsAreMadeAtTheStrongestLevel) {
  const char* words[] = {"apple", "pear", "the",  "round", "fruit", "of",
                         "a",     "tree", "rose", "long",  "grows", "in"};
  std::mt19937 rng(7);
  std::string text;
  while (text.size() < 60000) text += std::string(words[rng() % 12]) + (rng() % 9 ? " " : "\n");
  libdeflate_compressor* strongest = libdeflate_alloc_compressor(12);
  Bytes want(libdeflate_zlib_compress_bound(strongest, text.size()));
  want.resize(
      libdeflate_zlib_compress(strongest, text.data(), text.size(), want.data(), want.size()));
  libdeflate_free_compressor(strongest);
  auto bytes = reinterpret_cast<const unsigned char*>(text.data());
  EXPECT_EQ(zelk::compress_chunk(bytes, text.size()), want);
}

// The strongest level's block is mapped with room to align it and trimmed:
// a compressor gives back all of it, however the mapping happened to fall.
TEST(Codec, CompressorsGiveBackTheirMemory) {
  auto mapped_pages = [] {
    long pages = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    return pages;
  };
  const unsigned char text[] = "apple\tthe round fruit of a tree\n";
  zelk::compress_chunk(text, sizeof text);  // libraries and arenas settle
  const long before = mapped_pages();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 200; ++i) zelk::compress_chunk(text, sizeof text);
  // Each lost trim would keep up to 2 MB: 200 of them, hundreds of megabytes.
  EXPECT_LT((mapped_pages() - before) * sysconf(_SC_PAGESIZE), 32L << 20);
}

// ZELKPACK_THREADS lowers the number of threads; anything else is ignored.
TEST(Codec, ThreadCapTakesOnlyAPositiveNumberBelowTheCores) {
  unsetenv("ZELKPACK_THREADS");
  const int all = zelk::compress_threads();
  for (const char* cap : {"abc", "0", "-3", "1x", "", "99999"}) {
    setenv("ZELKPACK_THREADS", cap, 1);
    EXPECT_EQ(zelk::compress_threads(), all) << cap;
  }
  setenv("ZELKPACK_THREADS", "1", 1);
  EXPECT_EQ(zelk::compress_threads(), 1);
  unsetenv("ZELKPACK_THREADS");
}

}  // namespace

// Every program ends through run_main: whatever ends its work becomes one
// message on standard error and the exit status, the program's own words
// for a failure that is no error of its own (zelkpack has only "No more
// memory" for them).
TEST(Ending, EveryFailureBecomesAMessageAndAStatus) {
  struct Case {
    int (*run)(int, char**);
    const char* program;
    int status;
    std::string said;
  } cases[] = {
      {[](int, char**) -> int {
         throw zelk::Fatal{"no such word", 3};
       },
       "p", 3, "p: no such word\n"},
      {[](int, char**) -> int { throw std::bad_alloc(); }, "p", 2, "p: out of memory\n"},
      {[](int, char**) -> int {
         throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
       },
       "p", 2, "p: cannot go on: Resource temporarily unavailable\n"},
      {[](int, char**) -> int { throw std::runtime_error("odd"); }, "p", 2,
       "p: unexpected failure: odd\n"},
      {[](int, char**) -> int { throw 7; }, "p", 2, "p: unexpected failure\n"},
      {[](int, char**) -> int { throw std::logic_error("odd"); }, nullptr, 2,
       "Error: No more memory\n"},
      {[](int, char**) { return 0; }, "p", 0, ""},
  };
  for (const Case& c : cases) {
    std::fflush(stderr);
    int saved = dup(2);
    std::FILE* said = std::tmpfile();
    dup2(fileno(said), 2);
    int status = zelk::run_main({c.program, c.program ? "out of memory" : zelk::kNoMemory, 2},
                                c.run, 0, nullptr);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text(256, '\0');
    std::rewind(said);
    text.resize(std::fread(text.data(), 1, text.size(), said));
    std::fclose(said);
    EXPECT_EQ(status, c.status) << c.said;
    EXPECT_EQ(text, c.said);
  }
}
