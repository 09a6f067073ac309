// zelkdump: reads a dictionary database back (info, chunk list, lookup,
// extraction, verification).
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/file.h"
#include "zelkdump/commands.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Reads a dictionary database made by zelkpack: info, chunk list, key lookup, "
      "extraction to text, verification.",
      "zelkdump"};
  app.set_version_flag("--version", "zelkdump 1.2");
  app.require_subcommand(1);
  std::string file;
  std::vector<std::string> keys;
  const char* commands[][2] = {
      {"info", "Name, type, dates, sizes, ratio, longest key and value, entry count"},
      {"list",
       "One line per chunk: record, offset, stored size, text size, entries, first and last key"},
      {"lookup", "Every entry whose key is KEY, as key<TAB>value lines"},
      {"extract", "All entries in stored order, as the chunks' key<TAB>value lines"},
      {"verify", "Check everything a reader relies on; one line per problem"},
  };
  for (auto& [name, help] : commands) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->add_option("FILE", file, "the database")->required();
    if (std::strcmp(name, "lookup") == 0)
      sub->add_option("KEY", keys, "keys to look up")->required();
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  std::string command = app.get_subcommands().front()->get_name();

  std::FILE* f = std::fopen(file.c_str(), "rb");
  zelk::InputBytes bytes;
  if (!f || !zelk::is_readable_stream(f) || !zelk::load_input(f, bytes)) {
    int saved = f && !zelk::is_readable_stream(f) ? EISDIR : errno;
    std::fprintf(stderr, "zelkdump: cannot read '%s': %s\n", file.c_str(), std::strerror(saved));
    if (f) std::fclose(f);
    return 2;
  }
  std::fclose(f);
  zelk::DumpContext cx{file, stdout, stderr};
  int status = zelk::run_dump(cx, command, keys, reinterpret_cast<const unsigned char*>(bytes.data),
                              bytes.size);
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "zelkdump: cannot write standard output: %s\n", std::strerror(errno));
    return 2;
  }
  return status;
}
