// The sorted copy against a plain rendering of the Shell sort it must match:
// 128-byte key slots, halving gaps, insertion that stops at the first key
// less or equal.
#include "convert/sort.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "oracle.h"

namespace {

using zelk_test::Sorted;

Sorted fast(const std::string& input, int k, unsigned compact_bits = 32) {
  Sorted result;
  std::FILE* warnings = std::tmpfile();
  zelk::LineTable table = zelk::scan_lines(input.data(), input.size(), k, warnings);
  std::rewind(warnings);
  for (int c; (c = std::fgetc(warnings)) != EOF;) result.warnings += static_cast<char>(c);
  std::fclose(warnings);
  if (table.nul_line) {
    result.nul_line = table.nul_line;
    return result;
  }
  for (uint32_t line : zelk::sort_lines(input.data(), table, compact_bits)) {
    result.copy.append(input, table.starts[line], table.starts[line + 1] - table.starts[line]);
    if (result.copy.back() != '\n') result.copy += '\n';
  }
  return result;
}

void expect_same(const std::string& input, int k, const std::string& what,
                 unsigned compact_bits = 32) {
  Sorted want = zelk_test::oracle_sort(input, k), got = fast(input, k, compact_bits);
  ASSERT_EQ(got.nul_line, want.nul_line) << what;
  ASSERT_EQ(got.warnings, want.warnings) << what;
  ASSERT_TRUE(got.copy == want.copy) << what << " (K=" << k << ")";
}

// Random dictionaries rich in equal keys: tiny alphabets, keys that differ
// only past byte 127, all three separator forms, capping by small budgets.
std::string random_input(std::mt19937& rng, size_t lines) {
  std::uniform_int_distribution<int> pick(0, 99);
  std::string long_stem(126 + pick(rng) % 4, 'k');
  const char* alphabet = pick(rng) < 50 ? "ab" : "ab \t/\r\xe9";
  size_t alpha_len = std::strlen(alphabet);
  std::string text;
  for (size_t i = 0; i < lines; ++i) {
    int shape = pick(rng);
    std::string key;
    if (shape < 10) {
      key = long_stem + static_cast<char>('a' + pick(rng) % 3);
    } else if (shape < 20) {  // around the 8 bytes a key's cached prefix holds
      key = std::string("abcdefghij").substr(0, 6 + static_cast<size_t>(pick(rng)) % 5);
    } else {
      for (int n = pick(rng) % 4; n > 0; --n)
        key += alphabet[static_cast<size_t>(pick(rng)) % alpha_len];
    }
    int sep = pick(rng);
    text += key;
    if (sep < 45) {
      text += '\t';
    } else if (sep < 85) {
      text += " /// ";
    }
    for (int n = pick(rng) % 12; n > 0; --n) text += static_cast<char>('0' + pick(rng) % 10);
    if (pick(rng) < 3) text += '\r';
    if (pick(rng) < 97 || i + 1 < lines) text += '\n';
  }
  return text;
}

TEST(SortedCopy, MatchesShellSortOnRandomInputsRichInTies) {
  std::mt19937 rng(20261205);
  const int budgets[] = {2, 3, 5, 8, 9, 12, 20, 64, 128, 129, 130, 131, 4096};
  for (int round = 0; round < 600; ++round) {
    size_t lines = static_cast<size_t>(rng() % 300);
    int k = budgets[rng() % std::size(budgets)];
    // Every third round takes the 64-bit way of replaying the passes.
    expect_same(random_input(rng, lines), k, "round " + std::to_string(round), round % 3 ? 32 : 0);
  }
}

TEST(SortedCopy, MatchesShellSortOnLargerInputs) {
  // Enough lines for the byte-by-byte bucketing of the ranking sort.
  std::mt19937 rng(4242);
  for (int round = 0; round < 4; ++round) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
      std::string key = rng() % 3 ? "" : "abcXYZab";  // keys alike in their first 8 bytes
      for (int n = 1 + static_cast<int>(rng() % 10); n > 0; --n)
        key += static_cast<char>("abcXYZ\xff\x01"[rng() % 8]);
      text += key + "\t" + std::to_string(i) + "\n";
    }
    expect_same(text, 4096, "large round " + std::to_string(round), round % 2 ? 32 : 0);
  }
}

// The replay of the gap passes on integer ranks against the passes run
// literally, for sizes that give every mix of even and odd gaps, and for
// inputs that run past the move budget of an insertion pass.
TEST(ShellReplay, EqualsLiteralPasses) {
  auto by_rank = [](unsigned shift) {
    return [shift](uint64_t x, uint64_t y) { return (x >> shift) > (y >> shift); };
  };
  std::mt19937 rng(7);
  for (size_t n = 0; n < 700; n += 1 + n / 8) {
    for (uint32_t distinct : {1u, 2u, 5u, 1000u}) {
      zelk::UninitVector<uint64_t> values(n);
      for (size_t i = 0; i < n; ++i) values[i] = (uint64_t{rng() % distinct} << 32) | i;
      zelk::UninitVector<uint64_t> literal = values;
      zelk_test::literal_shell_sort(literal, by_rank(32));
      zelk::shell_replay(values, 32);
      ASSERT_EQ(values, literal) << "n=" << n << " distinct=" << distinct;
    }
  }
  // Each residue class mod 3 in order, small ranks in pairs: the pass after
  // an odd gap (at 576 and 960 lines), or the last pass (at 1536 and 3072),
  // moves far more than its budget and finishes chain by chain.
  for (size_t n : {576, 960, 1536, 3072}) {
    zelk::UninitVector<uint32_t> values(n);
    for (size_t i = 0; i < n; ++i) {
      uint32_t rank = static_cast<uint32_t>(i % 3 == 0 ? n + i : i / 2);
      values[i] = rank << 13 | static_cast<uint32_t>(i);
    }
    zelk::UninitVector<uint32_t> literal = values;
    zelk_test::literal_shell_sort(literal, by_rank(13));
    zelk::shell_replay(values, 13);
    ASSERT_TRUE(values == literal) << "n=" << n;
  }
}

}  // namespace
