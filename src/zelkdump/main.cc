// zelkdump: reads a dictionary database back (info, chunk list, lookups,
// keys, extraction, verification).
#include "toolkit/main.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/error.h"
#include "toolkit/version.h"
#include "zelkdump/arguments.h"
#include "zelkdump/commands.h"

namespace {

// Flushes and closes standard output; a failed write anywhere turns the
// status into 2.
int finish(int status) {
  std::cout.flush();
  errno = 0;
  bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
  if (std::fclose(stdout) != 0) failed = true;
  if (!failed) return status;
  std::fprintf(stderr, "zelkdump: cannot write standard output%s%s\n", errno ? ": " : "",
               errno ? std::strerror(errno) : "");
  return zelk::kStatusTrouble;
}

// Closes the database's descriptor however the run ends.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// Opens the file and runs the request on it; true when all went well.
bool run(const std::string& file, const zelk::Request& request) {
  Descriptor d{open(file.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat st;
  if (d.fd < 0 || fstat(d.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int error = d.fd < 0 ? errno : EISDIR;
    zelk::die_with(zelk::kStatusTrouble, "cannot read '%s': %s", file.c_str(),
                   std::strerror(error));
  }
  if (!S_ISREG(st.st_mode)) {
    zelk::die_with(zelk::kStatusTrouble, "'%s' is not a regular file", file.c_str());
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > zelk::kMaxDatabaseSize) {
    zelk::die("'%s' is not a Dict/Zelk database (%llu bytes, more than any database can be)",
              file.c_str(), static_cast<unsigned long long>(size));
  }
  zelk::DumpContext cx{file, stdout, stderr, request.json, zelk::Charset()};
  return zelk::run_dump(cx, request, d.fd, size);
}

// What the command line sets.
struct Parsed {
  std::string file;
  zelk::Request request;
};

// The option a table row describes, added to a command.
void add_option(CLI::App* sub, const zelk::CommandOption& o, zelk::Request& request) {
  std::string names = o.short_name ? std::string(o.short_name) + "," + o.long_name : o.long_name;
  if (o.flag) {
    sub->add_flag(names, request.*o.flag, o.help);
  } else if (o.number) {
    sub->add_option(names, request.*o.number, o.help)->check(CLI::Range(o.low, o.high));
  } else {
    CLI::Option* added = sub->add_option(names, request.*o.text, o.help);
    if (o.choices) {
      std::vector<std::string> choices;
      for (std::string_view rest = o.choices; !rest.empty();) {
        size_t comma = std::min(rest.find(','), rest.size());
        choices.emplace_back(rest.substr(0, comma));
        rest.remove_prefix(std::min(comma + 1, rest.size()));
      }
      added->check(CLI::IsMember(choices));
    }
  }
}

// One subcommand a command, with the operands and options the table says it
// takes.
void add_commands(CLI::App& app, Parsed& p) {
  for (const zelk::CommandSpec& command : zelk::kCommands) {
    CLI::App* sub = app.add_subcommand(command.name, command.help);
    sub->add_option("FILE", p.file, "the database")->required();
    for (const zelk::CommandOption& o : zelk::kOptions) {
      if (command.options & o.group) add_option(sub, o, p.request);
    }
    if (command.operands == zelk::Operands::kKeys) {
      sub->add_option("KEY", p.request.keys, "keys to look up")->required();
    } else if (command.operands == zelk::Operands::kOptionalPrefix) {
      sub->add_option("PREFIX", p.request.keys, "only keys that begin with it")->expected(0, 1);
    }
  }
}

// "info, list, ... or serve".
std::string command_names() {
  std::string names;
  size_t n = std::size(zelk::kCommands);
  for (size_t i = 0; i < n; ++i) {
    names += i == 0 ? "" : i + 1 == n ? " or " : ", ";
    names += zelk::kCommands[i].name;
  }
  return names;
}

int dump_main(int argc, char** argv) {
  zelk::Arguments args = zelk::sort_arguments(argc, argv);
  if (!args.error.empty()) {
    std::fprintf(stderr, "zelkdump: %s (see 'zelkdump --help')\n", args.error.c_str());
    return zelk::kStatusTrouble;
  }
  CLI::App app{
      "Reads a dictionary database made by zelkpack: info, chunk list, lookups, keys, "
      "extraction to text, verification.",
      "zelkdump"};
  app.set_version_flag("--version", std::string("zelkdump ") + zelk::kVersion);
  app.require_subcommand(0, 1);
  Parsed p;
  add_commands(app, p);
  try {
    std::vector<const char*> words = args.argv();
    app.parse(static_cast<int>(words.size()), words.data());
  } catch (const CLI::Success& e) {
    app.exit(e);
    return zelk::kStatusOk;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return zelk::kStatusTrouble;
  }
  if (args.help_for != nullptr) {
    std::cout << (*args.help_for ? app.get_subcommand(args.help_for)->help() : app.help());
    return zelk::kStatusOk;
  }
  if (app.get_subcommands().empty()) {
    std::fprintf(stderr, "zelkdump: a command is required: %s (see 'zelkdump --help')\n",
                 command_names().c_str());
    return zelk::kStatusTrouble;
  }
  p.request.command = app.get_subcommands().front()->get_name();
  return run(p.file, p.request) ? zelk::kStatusOk : zelk::kStatusFailed;
}

}  // namespace

int main(int argc, char** argv) {
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  return finish(
      zelk::run_main({"zelkdump", "out of memory", zelk::kStatusTrouble}, dump_main, argc, argv));
}
