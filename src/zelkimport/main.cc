// zelkimport: from dictd, StarDict, tab, CSV, Wiktionary, DSL and XDXF
// dictionaries to zelkpack's input or straight to a database; and --check,
// what zelkpack will make of a text dictionary.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "text/charset.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "toolkit/version.h"
#include "zelkimport/pipeline.h"

using namespace zelk::import;
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
  std::string bad_keys = "repair", delimiter = ",", long_mode = "split", markup,
              form_entries = "pointer";
};

// The options of every import.
void add_options(CLI::App& app, Command& c, Words& w) {
  Options& o = c.o;
  app.add_option("SOURCE", c.source, "The dictionary to import");
  app.add_option("-o,--output", c.output,
                 "Write here instead of standard output; a name ending in .pdb gets the database");
  app.add_option("-f,--format", o.format,
                 "dictd, stardict, tab, csv, wiktionary, dsl or xdxf (default: from SOURCE's "
                 "name)")
      ->check(CLI::IsMember({"dictd", "stardict", "tab", "csv", "wiktionary", "dsl", "xdxf"}));
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
  app.add_option("--from", o.from, "The source's character set (default UTF-8)");
  app.add_option("--to", o.to, "The output's character set (default UTF-8)");
  app.add_flag("--translit", o.translit, "Transliterate what --to has no place for, else '?'");
  app.add_option("--replace", o.replace,
                 "Write CHAR for what --to has no place for, and for stray bytes of the source");
  app.add_option("--markup", w.markup,
                 "html: markup becomes text (StarDict's markup fields; tab files holding <br />), "
                 "none: markup is kept as it is")
      ->check(CLI::IsMember({"html", "none"}));
}

// The options of one source format or another, and of forms.
void add_source_options(CLI::App& app, Options& o, Words& w) {
  app.add_flag("--metadata", o.metadata, "dictd: keep the 00-database-* entries");
  app.add_flag("--keep-headword", o.keep_headword,
               "dictd: keep a definition's first line when it is the headword");
  app.add_option("--key-column", o.key_column, "CSV: the key's column, from 1")
      ->check(CLI::Range(1, 1 << 20));
  app.add_option("--value-column", o.value_column, "CSV: the definition's column, from 1")
      ->check(CLI::Range(1, 1 << 20));
  app.add_flag("--header", o.header, "CSV: the first row names the columns");
  app.add_option("--delimiter", w.delimiter, "CSV: the field delimiter (default ',')");
  app.add_option("--forms", o.forms,
                 "Forms to add: a file of form<TAB>headword lines, or hunspell:LANG (a Hunspell "
                 "dictionary such as de_DE); may be given more than once");
  app.add_option("--form-text", o.form_text,
                 "A form's entry, %s for its headwords (default '\u2192 %s')");
  app.add_option("--form-entries", w.form_entries,
                 "pointer (a form points at its headwords) or copy (repeats their definitions)")
      ->check(CLI::IsMember({"pointer", "copy"}));
  app.add_option("--lang-code", o.lang_code,
                 "Wiktionary: only the words of this language (its code, such as en)");
  app.add_flag("--examples", o.examples, "Wiktionary: each sense's examples too");
  app.add_flag("--pronunciation", o.pronunciation, "Wiktionary: each word's first IPA too");
  app.add_option("--forms-column", o.forms_column,
                 "CSV: the column of a row's forms, separated by |, from 1")
      ->check(CLI::Range(1, 1 << 20));
}

// Refuses, as a usage mistake, a character set iconv does not know, and an
// output set that is not a byte superset of ASCII (each ASCII character
// written as its own byte where the set has it): zelkpack reads tabs, line
// feeds and " /// " as those bytes.
void check_charsets(const Options& o) {
  zelk::Converter from, to;
  if (!o.from.empty() && !zelk::try_open(from, o.from, "UTF-8")) {
    usage_error("--from: unknown character set '" + o.from + "'");
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

// The option words into Options, refusing the combinations that make no sense.
void read_words(const Words& w, Options& o) {
  const std::string& delimiter = w.delimiter;
  if (delimiter.size() != 1 || delimiter == "\"" || delimiter == "\n" || delimiter == "\r") {
    usage_error("--delimiter takes one character other than a quote or a line break");
  }
  o.delimiter = delimiter[0];
  o.bad_keys = w.bad_keys == "skip" ? BadKeys::kSkip : BadKeys::kRepair;
  o.long_definitions = w.long_mode == "cut"     ? Long::kCut
                       : w.long_mode == "whole" ? Long::kWhole
                                                : Long::kSplit;
  o.markup = w.markup == "html";
  o.markup_given = !w.markup.empty();
  o.copy_forms = w.form_entries == "copy";
  if (o.translit && !o.replace.empty()) usage_error("--translit and --replace exclude each other");
  if (o.translit && o.to.empty()) usage_error("--translit needs --to");
  check_charsets(o);
}

int run(int argc, char** argv) {
  CLI::App app{std::string("Turns dictd, StarDict, tab, CSV, Wiktionary, DSL and XDXF dictionaries "
                           "into zelkpack's "
                           "input or a database:\n") +
                   kForms,
               "zelkimport"};
  Command c;
  Options& o = c.o;
  Words words;
  add_options(app, c, words);
  add_source_options(app, o, words);
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
  read_words(words, o);

  if (!c.check_file.empty()) {
    if (!c.source.empty()) usage_error("--check takes one file and no SOURCE");
    return check_file(c.check_file, o.chunksize) ? 0 : 1;
  }
  if (c.source.empty()) usage_error("a SOURCE is required");
  if (o.chunksize < kMinImportChunkSize) {
    usage_error("-k " + std::to_string(o.chunksize) +
                " leaves no room for entries: an import takes -k " +
                std::to_string(kMinImportChunkSize) + " to 65535");
  }
  import(c);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const Fatal& fatal) {
    zelk::show_progress(progress_stream(), "");
    return exit_status(fatal, "zelkimport", stderr);
  } catch (const std::bad_alloc&) {
    zelk::show_progress(progress_stream(), "");
    return exit_status(Fatal{"out of memory"}, "zelkimport", stderr);
  }
}
