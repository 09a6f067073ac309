#include "zelkpack/cmdline.h"

#include <climits>

#include "toolkit/error.h"

namespace zelk {

const char kUsage[] =
    "zelkpack v1.2 -- 2002/Nov./12\n"
    "Usage : zelkpack [-n dict_name] [-o out_file] [-l] dic-file\n"
    "        -n : specify Dictionary Name [default : ZelkDB]\n"
    "        -o : specify Output File Name [default : zelk.pdb]\n"
    "        -l : allow large index dictionary\n"
    "## zelkpack generate 'zelk.pdb' as result\n";

int read_chunk_size(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void parse_options(int argc, const char* const* argv, Settings& settings,
                   std::vector<std::string>& operands, std::FILE* err) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    char letter = argv[i][1];  // the rest of the argument is ignored
    char lower = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
    if (lower == 'n' || lower == 'o' || lower == 'k') {
      if (i + 1 >= argc) die("Need operand for '-%c'\n", letter);
      const char* operand = argv[++i];
      if (lower == 'n') settings.storyName = operand;
      if (lower == 'o') settings.outFileName = operand;
      if (lower == 'k') settings.chunksize = read_chunk_size(operand);
    } else if (lower == 'l') {
      settings.allow_large_index = true;
    } else if (lower == 'p') {
      settings.do_compress = false;
    } else if (lower == 'd') {
      settings.debug = !settings.debug;
    } else if (lower != 's') {
      std::fprintf(err, "Illegal option '%c'\n", letter);
    }
  }
  for (; i < argc; ++i) operands.emplace_back(argv[i]);
}

}  // namespace zelk
