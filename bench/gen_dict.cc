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
//   realistic    entries shaped like a real dictionary's: a part of speech,
//                numbered senses and examples, words drawn with Zipf's law
//                from a vocabulary of 30000 made-up words
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
  static const char* const words[] = {"the",   "fruit", "of",      "a",      "tree", "with",
                                      "sweet", "small", "round",   "green",  "skin", "and",
                                      "used",  "in",    "cooking", "(bot.)", "red",  "seed"};
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

// A made-up vocabulary whose words are used with Zipf's law frequencies, as
// in natural text.
struct Vocabulary {
  std::vector<std::string> words;
  std::vector<double> cumulative;
};

Vocabulary make_vocabulary(std::mt19937_64& rng, size_t size) {
  static const char* const syllables[] = {"an",  "ber", "cal", "do", "en", "fra", "gi", "hol",
                                          "in",  "ja",  "ko",  "lu", "mo", "ne",  "or", "pa",
                                          "qui", "ri",  "sta", "te", "un", "ve",  "wo", "zy"};
  Vocabulary v;
  double total = 0;
  for (size_t i = 0; i < size; ++i) {
    std::string w;
    for (size_t n = 1 + rng() % 4; n > 0; --n) w += syllables[rng() % std::size(syllables)];
    v.words.push_back(w);
    total += 1.0 / static_cast<double>(i + 1);
    v.cumulative.push_back(total);
  }
  for (double& c : v.cumulative) c /= total;
  return v;
}

const std::string& zipf_word(std::mt19937_64& rng, const Vocabulary& v) {
  double u = std::uniform_real_distribution<double>(0, 1)(rng);
  size_t i = static_cast<size_t>(std::lower_bound(v.cumulative.begin(), v.cumulative.end(), u) -
                                 v.cumulative.begin());
  return v.words[std::min(i, v.words.size() - 1)];
}

std::string realistic_value(std::mt19937_64& rng, const Vocabulary& v) {
  static const char* const parts[] = {"(n.)", "(v.)", "(adj.)", "(adv.)", "(n. pl.)"};
  std::string value = parts[rng() % std::size(parts)];
  size_t senses = 1 + rng() % 3;
  for (size_t s = 1; s <= senses; ++s) {
    if (senses > 1) value += " " + std::to_string(s) + ".";
    for (size_t n = 4 + rng() % 14; n > 0; --n) value += " " + zipf_word(rng, v);
    value += rng() % 3 ? ";"
                       : ": \"" + zipf_word(rng, v) + " " + zipf_word(rng, v) + " " +
                             zipf_word(rng, v) + "\";";
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: gen_dict random|sorted|alternating|repeated|realistic LINES [SEED]\n");
    return 2;
  }
  std::string shape = argv[1];
  size_t lines = std::strtoull(argv[2], nullptr, 10);
  std::mt19937_64 rng(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 42);
  std::vector<std::string> out;
  out.reserve(lines);
  std::vector<std::string> vocabulary;
  Vocabulary zipf;
  if (shape == "realistic") zipf = make_vocabulary(rng, 30000);
  if (shape == "repeated") {
    for (size_t i = 0; i < std::max<size_t>(1, lines / 8); ++i)
      vocabulary.push_back(random_word(rng, 3, 20));
  }
  for (size_t i = 0; i < lines; ++i) {
    std::string key;
    if (shape == "random" || shape == "sorted") {
      key = random_word(rng, 3, 20);
    } else if (shape == "alternating") {
      key = run_key(i % 2 ? "x" : "e", i / 2);
    } else if (shape == "repeated") {
      key = vocabulary[rng() % vocabulary.size()];
    } else if (shape == "realistic") {
      out.push_back(zipf_word(rng, zipf) + "\t" + realistic_value(rng, zipf) + "\n");
      continue;
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
