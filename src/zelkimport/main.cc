// zelkimport: from dictd, StarDict, tab and CSV dictionaries to zelkpack's
// input; and --check, what zelkpack will make of a text dictionary.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <new>

#include "common/version.h"
#include "zelkimport/check.h"
#include "zelkimport/import.h"

using namespace zelk::import;

namespace {

constexpr char kUsage[] =
    "Usage: zelkimport [--format dictd|stardict|tab|csv] SOURCE [-o OUTPUT] [OPTIONS]\n"
    "       zelkimport --check FILE [-k K]";

std::string guess_format(const std::string& source) {
  if (source.ends_with(".index")) return "dictd";
  if (source.ends_with(".ifo")) return "stardict";
  if (source.ends_with(".csv") || source.ends_with(".CSV")) return "csv";
  return "tab";
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void write_output(const std::string& path, std::string_view text) {
  if (path.empty() || path == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      fail("cannot write standard output: %s", std::strerror(errno));
    }
    return;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) fail("cannot create '%s': %s", path.c_str(), std::strerror(errno));
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int error = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    // A partial file goes; a device or anything else written through stays.
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
    fail("cannot write '%s': %s", path.c_str(), std::strerror(error));
  }
}

int run(int argc, char** argv) {
  CLI::App app{std::string("Turns dictd, StarDict, tab and CSV dictionaries into zelkpack's "
                           "input.\n") +
                   kUsage,
               "zelkimport"};
  Options o;
  std::string source, output, check_file, bad_keys = "repair", delimiter = ",";
  app.add_option("SOURCE", source, "The dictionary to import");
  app.add_option("-o,--output", output, "Write here instead of standard output");
  app.add_option("-f,--format", o.format,
                 "dictd, stardict, tab or csv (default: from SOURCE's name)")
      ->check(CLI::IsMember({"dictd", "stardict", "tab", "csv"}));
  app.add_option("--check", check_file, "Say what zelkpack will make of a text dictionary");
  app.add_option("-k,--chunk-size", o.chunksize, "The chunk size zelkpack will be given")
      ->default_val(4096);
  app.add_option("--separator", o.separator, "What a line break inside a definition becomes")
      ->default_val(" ");
  app.add_option("--bad-keys", bad_keys,
                 "Keys with a tab, line break, NUL or \" /// \": repair or skip")
      ->check(CLI::IsMember({"repair", "skip"}));
  app.add_option("--from", o.from, "The source's character set (default UTF-8)");
  app.add_option("--to", o.to, "The output's character set (default UTF-8)");
  app.add_flag("--translit", o.translit, "Transliterate what --to has no place for, else '?'");
  app.add_option("--replace", o.replace, "Write CHAR for what --to has no place for");
  app.add_flag("--metadata", o.metadata, "dictd: keep the 00-database-* entries");
  app.add_flag("--keep-headword", o.keep_headword,
               "dictd: keep a definition's first line when it is the headword");
  app.add_option("--key-column", o.key_column, "CSV: the key's column, from 1")
      ->check(CLI::Range(1, 1 << 20));
  app.add_option("--value-column", o.value_column, "CSV: the definition's column, from 1")
      ->check(CLI::Range(1, 1 << 20));
  app.add_flag("--header", o.header, "CSV: the first row names the columns");
  app.add_option("--delimiter", delimiter, "CSV: the field delimiter (default ',')");
  app.set_version_flag("--version", std::string("zelkimport ") + zelk::kVersion);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int status = app.exit(e);  // prints the help, the version or the complaint
    if (status == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
      fail("cannot write standard output");
    }
    return status == 0 ? 0 : 2;
  }
  if (delimiter.size() != 1 || delimiter == "\"" || delimiter == "\n" || delimiter == "\r") {
    fail("--delimiter takes one character other than a quote or a line break");
  }
  o.delimiter = delimiter[0];
  o.bad_keys = bad_keys == "skip" ? BadKeys::kSkip : BadKeys::kRepair;
  if (o.translit && !o.replace.empty()) fail("--translit and --replace exclude each other");
  if ((o.translit || !o.replace.empty()) && o.to.empty())
    fail("--translit and --replace need --to");

  if (!check_file.empty()) {
    if (!source.empty()) fail("--check takes one file and no SOURCE");
    Bytes text = read_whole(check_file);
    TextSummary s = check_text(text.data(), text.size(), o.chunksize);
    bool whole = print_summary(stdout, check_file, s, o.chunksize, nullptr);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail("cannot write standard output");
    return whole ? 0 : 1;
  }
  if (source.empty()) {
    std::fprintf(stderr, "%s\nRun with --help for more information.\n", kUsage);
    return 2;
  }
  if (o.format.empty()) o.format = guess_format(source);
  if (!output.empty() && output != "-" && same_file(source, output)) {
    fail("output '%s' is the source", output.c_str());
  }
  Sink sink(o);
  if (o.format == "dictd") {
    import_dictd(source, sink);
  } else if (o.format == "stardict") {
    import_stardict(source, sink);
  } else if (o.format == "csv") {
    import_csv(source, sink);
  } else {
    import_tab(source, sink);
  }
  // The summary is worked out while the output is written.
  std::future<TextSummary> summary =
      std::async(std::launch::async, check_text, sink.out.data(), sink.out.size(), o.chunksize);
  write_output(output, view(sink.out));
  TextSummary s = summary.get();
  print_summary(stderr, output.empty() || output == "-" ? "standard output" : output, s,
                o.chunksize, &sink);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const ImportError& e) {
    std::fprintf(stderr, "zelkimport: %s\n", e.message.c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zelkimport: out of memory\n");
  }
  return 1;
}
