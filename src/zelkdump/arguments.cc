#include "zelkdump/arguments.h"

#include <cstring>

namespace zelk {

namespace {

// An option of the command in one argument: a flag, or --name=value.
bool is_option_of(const CommandSpec& command, const std::string& a) {
  if (a == "-h" || a == "--help") return true;
  for (const CommandOption& o : kOptions) {
    if (!(command.options & o.group)) continue;
    if (o.flag ? a == o.long_name : a.starts_with(std::string(o.long_name) + "=")) return true;
  }
  return false;
}

// An option of the command that takes the next argument as its value.
bool takes_value(const CommandSpec& command, const std::string& a) {
  for (const CommandOption& o : kOptions) {
    if (!(command.options & o.group) || o.flag) continue;
    if (a == o.long_name || (o.short_name && a == o.short_name)) return true;
  }
  return false;
}

}  // namespace

std::vector<const char*> Arguments::argv() const {
  std::vector<const char*> v;
  for (const std::string& w : words) v.push_back(w.c_str());
  return v;
}

Arguments sort_arguments(int argc, const char* const* argv) {
  Arguments args;
  args.words.push_back(argc > 0 ? argv[0] : "zelkdump");
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) args.words.push_back(argv[i]);
  if (i == argc) return args;
  if (std::strcmp(argv[i], "help") == 0) {
    args.help_for = "";
    if (i + 1 < argc) {
      const CommandSpec* command = command_named(argv[i + 1]);
      if (command) args.help_for = command->name;
      if (!command) args.error = "'" + std::string(argv[i + 1]) + "' is not a zelkdump command";
    }
    return args;
  }
  const CommandSpec* command = command_named(argv[i]);
  if (!command) {
    args.error = "'" + std::string(argv[i]) + "' is not a zelkdump command";
    return args;
  }
  args.words.push_back(argv[i]);
  std::vector<std::string> operands;
  bool ended = false;
  for (++i; i < argc; ++i) {
    std::string a = argv[i];
    if (ended) {
      operands.push_back(a);
    } else if (a == "--") {
      ended = true;
    } else if (is_option_of(*command, a)) {
      args.words.push_back(a);
    } else if (takes_value(*command, a)) {
      args.words.push_back(a);
      if (i + 1 < argc) args.words.push_back(argv[++i]);
    } else if (a.size() > 1 && a[0] == '-' && operands.empty()) {
      args.words.push_back(a);  // before FILE: an option, or an error the parser names
    } else {
      operands.push_back(a);
    }
  }
  if (!operands.empty()) {
    args.words.push_back("--");
    args.words.insert(args.words.end(), operands.begin(), operands.end());
  }
  return args;
}

}  // namespace zelk
