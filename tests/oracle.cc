#include "oracle.h"

#include <array>
#include <cstring>
#include <vector>

namespace zelk_test {

Sorted oracle_sort(const std::string& input, int k) {
  Sorted result;
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < input.size();) {
    size_t n = 0;
    while (pos + n < input.size() && n < 65535) {
      ++n;
      if (input[pos + n - 1] == '\n') break;
    }
    lines.push_back(input.substr(pos, n));
    pos += n;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find('\0') != std::string::npos) {
      result.nul_line = static_cast<long>(i + 1);
      return result;
    }
  }
  size_t count = lines.size();
  std::vector<std::array<char, 128>> words(count);
  std::vector<size_t> wordpos(count);
  static char buf[65536];
  for (size_t i = 0; i < count; ++i) {
    wordpos[i] = i;
    std::memcpy(buf, lines[i].data(), lines[i].size());
    buf[lines[i].size()] = '\0';
    long len = static_cast<long>(std::strlen(buf));
    if (len >= k - 7) buf[k - 2] = '\n';
    buf[k - 1] = '\0';
    words[i].fill(0);
    for (size_t j = 0; buf[j] && buf[j] != '\t' && std::strncmp(buf + j, " /// ", 5) != 0; ++j) {
      if (j == 127) {
        result.warnings +=
            "Warning: Too long word in line " + std::to_string(i + 1) + ", Truncated\n";
        break;
      }
      words[i][j] = buf[j];
    }
  }
  long n = static_cast<long>(count);
  for (long gap = n / 2; gap > 0; gap /= 2) {
    for (long i = gap; i < n; ++i) {
      for (long j = i - gap; j >= 0; j -= gap) {
        if (std::strcmp(words[j].data(), words[j + gap].data()) <= 0) break;
        std::swap(words[j], words[j + gap]);
        std::swap(wordpos[j], wordpos[j + gap]);
      }
    }
  }
  for (size_t i : wordpos) {
    result.copy += lines[i];
    if (lines[i].back() != '\n') result.copy += '\n';
  }
  return result;
}

}  // namespace zelk_test
