// Compressed records: round trips, and refusal of damaged records.
#include "codec/codec.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text_of(size_t n) {
  static const char words[] = "apple\tthe round fruit of a tree of the rose family\n";
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(words[i % (sizeof words - 1)]);
  return b;
}

Bytes random_of(size_t n) {
  std::mt19937 rng(static_cast<unsigned>(n));
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

bool expands(const Bytes& record, Bytes& text, std::string& error, size_t max = 65535) {
  return zelk::expand_record(record.data(), record.size(), max, text, error);
}

TEST(Codec, RoundTrips) {
  for (size_t n : {0, 1, 4096, 65535}) {
    for (const Bytes& original : {text_of(n), random_of(n)}) {
      Bytes record = zelk::compress_chunk(original.data(), original.size());
      EXPECT_EQ(record, zelk::compress_chunk(original.data(), original.size()));  // deterministic
      EXPECT_EQ(record[0] & 0x0F, 8) << "zlib header names DEFLATE";
      EXPECT_EQ(((record[0] << 8) | record[1]) % 31, 0) << "zlib header check bits";
      Bytes text;
      std::string error;
      ASSERT_TRUE(expands(record, text, error)) << n << ": " << error;
      EXPECT_EQ(text, original);
      // A reader's own zlib expands it as well.
      Bytes by_zlib(n + 1);
      uLongf got = static_cast<uLongf>(by_zlib.size());
      ASSERT_EQ(uncompress(by_zlib.data(), &got, record.data(), static_cast<uLong>(record.size())),
                Z_OK)
          << n;
      by_zlib.resize(got);
      EXPECT_EQ(by_zlib, original);
    }
  }
  Bytes text = text_of(4096);
  EXPECT_LT(zelk::compress_chunk(text.data(), text.size()).size(), 400u);
}

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

TEST(Codec, RefusesDamagedRecords) {
  Bytes original = text_of(4096);
  Bytes good = zelk::compress_chunk(original.data(), original.size());
  struct Case {
    const char* what;
    Bytes record;
  };
  std::vector<Case> cases;
  for (size_t keep : {size_t{0}, size_t{1}, size_t{2}, good.size() / 2, good.size() - 1}) {
    cases.push_back({"truncated", Bytes(good.begin(), good.begin() + static_cast<long>(keep))});
  }
  for (size_t at : {size_t{0}, size_t{1}, good.size() / 2, good.size() - 1}) {
    Bytes bad = good;
    bad[at] ^= 0x10;
    cases.push_back({"flipped", bad});
  }
  Bytes longer = good;
  longer.push_back(0);
  cases.push_back({"trailing byte", longer});
  for (const Case& c : cases) {
    Bytes text;
    std::string error;
    EXPECT_FALSE(expands(c.record, text, error)) << c.what << " " << c.record.size();
    EXPECT_FALSE(error.empty()) << c.what;
  }
  Bytes text;
  std::string error;
  EXPECT_FALSE(expands(good, text, error, 4095));
  EXPECT_EQ(error, "expands to more than 4095 bytes");
}

}  // namespace
