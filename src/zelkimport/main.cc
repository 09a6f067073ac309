// zelkimport: from the dictionaries people have (the formats of the source
// readers' table) to zelkpack's input or straight to a database; and
// --check, what zelkpack will make of a text dictionary.
#include "toolkit/main.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include "sources/formats.h"
#include "text/charset.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "toolkit/version.h"
#include "zelkimport/pipeline.h"

using namespace zelk::import;
namespace sources = zelk::sources;
using zelk::die;
using zelk::exit_status;
using zelk::Fatal;

namespace {

constexpr char kForms[] =
    "  zelkimport SOURCE [-o OUTPUT.txt | -o NAME.pdb] [OPTIONS]\n"
    "  zelkimport --check FILE [-k K]";

// A usage mistake: said as the parser says its own, with status 2.
[[noreturn]] void usage_error(const std::string& mistake) {
  throw Fatal{mistake + "\n" + kForms + "\nRun with --help for more information.", 2};
}

// The words of the options that are read into Options afterwards.
struct Words {
  std::string bad_keys = "repair", long_mode = "split", form_entries = "pointer", format;
  std::map<std::string, std::string> values;  // each format option's value, by name
  std::map<std::string, bool> flags;          // each format flag, by name
};

// The options of every import.
void add_options(CLI::App& app, Command& c, Words& w) {
  Options& o = c.o;
  std::vector<std::string> names;
  for (const sources::Format* f : sources::formats()) names.push_back(f->name);
  app.add_option("SOURCE", c.source.path, "The dictionary to import");
  app.add_option("-o,--output", c.output,
                 "Write here instead of standard output; a name ending in .pdb gets the database");
  app.add_option("-f,--format", w.format, "The source's format (default: from its name or bytes)")
      ->check(CLI::IsMember(names));
  app.add_option("-n,--name", c.name,
                 "The database's name (default: the source's title, else its file name)");
  app.add_option("--check", c.check_file, "Say what zelkpack will make of a text dictionary");
  app.add_option("-k,--chunk-size", o.chunksize, "The chunk size zelkpack will be given")
      ->default_val(4096)
      ->check(CLI::Range(2, 65535));
  app.add_option("--long", w.long_mode,
                 "A definition too long for one entry: split (goes on in further entries), cut, "
                 "or whole (-k chosen to hold it)")
      ->check(CLI::IsMember({"split", "cut", "whole"}));
  app.add_option("--separator", o.separator,
                 "What a line break inside a definition becomes (default: one space)");
  app.add_option("--bad-keys", w.bad_keys,
                 "Keys with a tab, line break, NUL or \" /// \": repair or skip")
      ->check(CLI::IsMember({"repair", "skip"}));
  app.add_option("--from", c.source.reading.from,
                 "The source's character set (default: its byte order mark, else UTF-8, else "
                 "what it declares)");
  app.add_option("--to", o.to, "The output's character set (default UTF-8)");
  app.add_flag("--translit", o.translit, "Transliterate what --to has no place for, else '?'");
  app.add_option("--replace", o.replace,
                 "Write CHAR for what --to has no place for, and for stray bytes of the source");
  app.add_option("--forms", o.forms,
                 "Forms to add: a file of form<TAB>headword lines, a UniMorph table (lemma<TAB>"
                 "form<TAB>features), a Wiktionary extract (.jsonl, .jsonl.gz; with --lang-code), "
                 "or hunspell:LANG (a Hunspell dictionary such as de_DE); may be given more than "
                 "once");
  app.add_option("--form-text", o.form_text,
                 "A form's entry, %s for its headwords (default '\u2192 %s')");
  app.add_option("--form-entries", w.form_entries,
                 "pointer (a form points at its headwords) or copy (repeats their definitions)")
      ->check(CLI::IsMember({"pointer", "copy"}));
}

// The options of each format, from the table of formats: each once, its
// help naming the formats that take it.
void add_format_options(CLI::App& app, Words& w) {
  std::map<std::string, std::string> owners;
  for (const sources::Format* f : sources::formats()) {
    for (const sources::FormatOption& row : f->options) {
      std::string& o = owners[row.name];
      o += (o.empty() ? "" : ", ") + std::string(f->name);
    }
  }
  std::set<std::string> added;
  for (const sources::Format* f : sources::formats()) {
    for (const sources::FormatOption& row : f->options) {
      if (!added.insert(row.name).second) continue;
      std::string name = std::string("--") + row.name;
      std::string help = owners[row.name] + ": " + row.help;
      if (!row.value) {
        app.add_flag(name, w.flags[row.name], help);
        continue;
      }
      CLI::Option* option = app.add_option(name, w.values[row.name], help);
      option->type_name(row.value);
      if (!row.choices.empty()) {
        option->check(
            CLI::IsMember(std::vector<std::string>(row.choices.begin(), row.choices.end())));
      }
      if (row.most > row.least) option->check(CLI::Range(row.least, row.most));
      if (row.check) {
        auto check = row.check;
        option->check(CLI::Validator(
            [check](std::string& value) {
              const char* wrong = check(value);
              return wrong ? std::string(wrong) : std::string();
            },
            ""));
      }
    }
  }
}

// The formats, for --help: each with its files and what it is.
std::string formats_help() {
  std::string text = "Formats (--format; else from the source's name or first bytes):\n";
  for (const sources::Format* f : sources::formats()) {
    std::string endings;
    for (const char* e : f->endings) endings += (endings.empty() ? "" : " ") + std::string(e);
    text += "  " + std::string(f->name) + std::string(12 - std::strlen(f->name), ' ') +
            f->description + (endings.empty() ? "" : " (" + endings + ")") + "\n";
  }
  return text;
}

// Refuses, as a usage mistake, a character set iconv does not know, and an
// output set that is not a byte superset of ASCII (each ASCII character
// written as its own byte where the set has it): zelkpack reads tabs, line
// feeds and " /// " as those bytes.
void check_charsets(const std::string& source_set, const Options& o) {
  zelk::Converter from, to;
  if (!source_set.empty() && !zelk::try_open(from, source_set, "UTF-8")) {
    usage_error("--from: unknown character set '" + source_set + "'");
  }
  if (o.to.empty()) return;
  if (!zelk::try_open(to, "UTF-8", o.to)) {
    usage_error("--to: unknown character set '" + o.to + "'");
  }
  for (char ch = 1; ch > 0; ++ch) {
    std::string out;
    bool ok = zelk::convert(to, std::string_view(&ch, 1), out, nullptr).ok;
    bool structural = ch == '\t' || ch == '\n' || ch == ' ' || ch == '/';
    if ((ok || structural) && out != std::string_view(&ch, 1)) {
      usage_error("--to " + o.to +
                  " does not write ASCII as ASCII bytes, as zelkpack's input must be; use "
                  "UTF-8 or a set such as CP1252, ISO-8859-15 or SHIFT_JIS");
    }
  }
}

// The option words into the command, refusing the combinations that make no sense.
void read_words(const CLI::App& app, const Words& w, Command& c) {
  Options& o = c.o;
  o.bad_keys = w.bad_keys == "skip" ? BadKeys::kSkip : BadKeys::kRepair;
  o.long_definitions = w.long_mode == "cut"     ? Long::kCut
                       : w.long_mode == "whole" ? Long::kWhole
                                                : Long::kSplit;
  o.copy_forms = w.form_entries == "copy";
  if (o.translit && !o.replace.empty()) usage_error("--translit and --replace exclude each other");
  if (o.translit && o.to.empty()) usage_error("--translit needs --to");
  check_charsets(c.source.reading.from, o);
  c.source.format = w.format.empty() ? nullptr : sources::find_format(w.format);
  for (const auto& [name, value] : w.values) {
    if (app.count("--" + name)) c.source.options[name] = value;
  }
  for (const auto& [name, value] : w.flags) {
    if (value) c.source.options[name] = "1";
  }
}

int run(int argc, char** argv) {
  CLI::App app{std::string("Turns the dictionaries people have into zelkpack's input or a "
                           "database:\n") +
                   kForms,
               "zelkimport"};
  Command c;
  Words words;
  add_options(app, c, words);
  add_format_options(app, words);
  app.footer(formats_help());
  app.set_version_flag("--version", std::string("zelkimport ") + zelk::kVersion);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int status = app.exit(e);  // prints the help, the version or the complaint
    if (status == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
      die("cannot write standard output: %s", std::strerror(errno ? errno : EIO));
    }
    return status == 0 ? 0 : 2;
  }
  read_words(app, words, c);

  if (!c.check_file.empty()) {
    if (!c.source.path.empty()) usage_error("--check takes one file and no SOURCE");
    return check_file(c.check_file, c.o.chunksize) ? 0 : 1;
  }
  if (c.source.path.empty()) usage_error("a SOURCE is required");
  if (c.o.chunksize < kMinImportChunkSize) {
    usage_error("-k " + std::to_string(c.o.chunksize) +
                " leaves no room for entries: an import takes -k " +
                std::to_string(kMinImportChunkSize) + " to 65535");
  }
  import(c);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return zelk::run_main({"zelkimport", "out of memory", 1}, run, argc, argv);
}
