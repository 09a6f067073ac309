// Writes a deterministic test dictionary to standard output.
//
//   gen_dict SHAPE LINES [SEED]
//
// SHAPE is one of
//   random       keys of 3-20 random letters, values of 20-200 bytes
//   sorted       the random lines, already in key order
//   alternating  even lines one ascending run of keys, odd lines another
//                (a bilingual file alternating directions)
//   repeated     each key drawn from LINES/8 words, so every word occurs
//                about eight times
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string random_word(std::mt19937_64& rng, size_t min, size_t max) {
  std::string w(min + rng() % (max - min + 1), ' ');
  for (char& c : w) c = static_cast<char>('a' + rng() % 26);
  return w;
}

std::string random_value(std::mt19937_64& rng) {
  static const char* const words[] = {"the",  "fruit", "of",    "a",     "tree", "with",
                                      "sweet", "small", "round", "green", "skin", "and",
                                      "used",  "in",    "cooking", "(bot.)", "red", "seed"};
  size_t target = 20 + rng() % 181;
  std::string v;
  while (v.size() < target) {
    if (!v.empty()) v += ' ';
    v += words[rng() % std::size(words)];
  }
  v.resize(target);
  return v;
}

// Ascending keys built from a counter: prefix + base-26 digits.
std::string run_key(const char* prefix, size_t i) {
  std::string digits;
  for (int k = 0; k < 5; ++k, i /= 26) digits += static_cast<char>('a' + i % 26);
  std::reverse(digits.begin(), digits.end());
  return prefix + digits;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: gen_dict random|sorted|alternating|repeated LINES [SEED]\n");
    return 2;
  }
  std::string shape = argv[1];
  size_t lines = std::strtoull(argv[2], nullptr, 10);
  std::mt19937_64 rng(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 42);
  std::vector<std::string> out;
  out.reserve(lines);
  std::vector<std::string> vocabulary;
  if (shape == "repeated") {
    for (size_t i = 0; i < std::max<size_t>(1, lines / 8); ++i) vocabulary.push_back(random_word(rng, 3, 20));
  }
  for (size_t i = 0; i < lines; ++i) {
    std::string key;
    if (shape == "random" || shape == "sorted") {
      key = random_word(rng, 3, 20);
    } else if (shape == "alternating") {
      key = run_key(i % 2 ? "x" : "e", i / 2);
    } else if (shape == "repeated") {
      key = vocabulary[rng() % vocabulary.size()];
    } else {
      std::fprintf(stderr, "gen_dict: unknown shape '%s'\n", shape.c_str());
      return 2;
    }
    out.push_back(key + (rng() % 4 ? "\t" : " /// ") + random_value(rng) + "\n");
  }
  if (shape == "sorted") {
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
      return a.substr(0, a.find_first_of("\t ")) < b.substr(0, b.find_first_of("\t "));
    });
  }
  for (const std::string& line : out) std::fwrite(line.data(), 1, line.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
