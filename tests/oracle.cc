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
  struct Slot {
    std::array<char, 128> word;  // at most 127 key bytes and a NUL
    size_t line;
  };
  std::vector<Slot> slots(lines.size());
  static char buf[65536];
  for (size_t i = 0; i < lines.size(); ++i) {
    slots[i].line = i;
    std::memcpy(buf, lines[i].data(), lines[i].size());
    buf[lines[i].size()] = '\0';
    long len = static_cast<long>(std::strlen(buf));
    if (len >= k - 7) buf[k - 2] = '\n';
    buf[k - 1] = '\0';
    slots[i].word.fill(0);
    for (size_t j = 0; buf[j] && buf[j] != '\t' && std::strncmp(buf + j, " /// ", 5) != 0; ++j) {
      if (j == 127) {
        result.warnings +=
            "Warning: Too long word in line " + std::to_string(i + 1) + ", Truncated\n";
        break;
      }
      slots[i].word[j] = buf[j];
    }
  }
  literal_shell_sort(slots, [](const Slot& x, const Slot& y) {
    return std::strcmp(x.word.data(), y.word.data()) > 0;
  });
  for (const Slot& slot : slots) {
    result.copy += lines[slot.line];
    if (lines[slot.line].back() != '\n') result.copy += '\n';
  }
  return result;
}

}  // namespace zelk_test
