// Feeds arbitrary bytes to one of zelkimport's readers (chosen at build time
// by IMPORT_READER: dictd, stardict, tab, csv or markup). Nothing may crash,
// and whatever an import writes must be zelkpack's input, whole: one
// "key<TAB>value" line per entry written, keys that are not empty and hold
// no tab, line break, NUL or " /// ", and (in UTF-8) valid UTF-8. The dictd
// and tab readers' imports are also packed as a database at a small K, which
// must pass verify and hold the text output's entries in its order.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/file.h"
#include "zelkdump/commands.h"
#include "zelkimport/check.h"
#include "zelkimport/forms.h"
#include "zelkimport/import.h"
#include "zelkimport/layout.h"
#include "zelkimport/markup.h"
#include "zelkimport/pdb_output.h"

using namespace zelk::import;

namespace {

void require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

// The parts of an input, cut at each "\n@@\n".
std::vector<std::string_view> parts(std::string_view data, size_t count) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < count) {
    size_t at = data.find("\n@@\n");
    if (at == std::string_view::npos) break;
    out.push_back(data.substr(0, at));
    data.remove_prefix(at + 4);
  }
  out.push_back(data);
  out.resize(count);
  return out;
}

void check_output(const Sink& sink) {
  std::string_view out = view(sink.out);
  long lines = 0;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    require(end != std::string_view::npos, "output ends in a line feed");
    std::string_view line = out.substr(pos, end - pos);
    pos = end + 1;
    ++lines;
    size_t tab = line.find('\t');
    require(tab != std::string_view::npos && tab > 0, "a key, then a tab");
    std::string_view key = line.substr(0, tab);
    require(key.find_first_of(std::string_view("\r\0", 2)) == std::string_view::npos,
            "no CR or NUL in a key");
    require(key.find(" /// ") == std::string_view::npos, "no separator in a key");
    require(line.find_first_of(std::string_view("\r\0", 2)) == std::string_view::npos,
            "no CR or NUL in a line");
  }
  require(lines == sink.written, "one line per entry written");
  if (sink.options.to.empty()) require(zelk::utf8_valid_prefix(out) == out.size(), "valid UTF-8");
  TextSummary s = check_text(out.data(), out.size(), 4096);
  require(s.entries == sink.written && s.no_separator == 0 && s.nul_lines == 0,
          "the check sees the entries written");
}

// The output of the dump command on the database at path; its status too.
std::string dump(const char* command, const std::string& path, int* status) {
  zelk::Captured out;
  zelk::Request request;
  request.command = command;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  require(f != nullptr, "the database was written");
  std::fseek(f, 0, SEEK_END);
  zelk::DumpContext cx{path, out.f, out.f, false, zelk::Charset()};
  *status = zelk::run_dump(cx, request, fileno(f), static_cast<uint64_t>(std::ftell(f))) ? 0 : 1;
  std::fclose(f);
  return out.text();
}

// Packs the import's text at its K and reads the database back.
void check_database(Sink& sink) {
  if (sink.written == 0) return;
  static const std::string path = [] {
    char dir[] = "/tmp/import-fuzz.XXXXXX";
    require(mkdtemp(dir) != nullptr, "a scratch folder");
    return std::string(dir) + "/d.pdb";
  }();
  Layout layout = lay_out(view(sink.out), sink.options.chunksize);
  std::string expected;  // the lines in the order the converter takes them
  for (uint32_t line : layout.sorted) {
    size_t begin = layout.table.starts[line], end = layout.table.starts[line + 1];
    expected.append(sink.out.data() + begin, end - begin);
  }
  zelk::Settings settings;
  settings.chunksize = sink.options.chunksize;
  settings.allow_large_index = true;
  zelk::Output output = zelk::open_output(path);
  write_database(output, sink.out, layout, settings, sink.first_form_line, nullptr);
  zelk::commit_output(output);
  int status;
  dump("verify", path, &status);
  require(status == 0, "the database passes verify");
  require(dump("extract", path, &status) == expected && status == 0,
          "the database holds the text's entries in the converter's order");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  const unsigned flags = bytes[0];
  Options o;
  o.bad_keys = flags & 1 ? BadKeys::kSkip : BadKeys::kRepair;
  if (flags & 2) {
    o.to = "ISO-8859-1";
    o.replace = "?";
  }
  o.header = flags & 4;
  o.metadata = flags & 8;
  o.keep_headword = flags & 16;
  o.separator = flags & 32 ? " | " : " ";
  if (flags & 64) o.delimiter = ';';
  o.chunksize = kMinImportChunkSize + static_cast<int>(size % 200);
  static const std::string names[] = {"a.ifo", "a.idx", "a.dict", "a.syn"};
  try {
    Sink sink(o);
    sink.messages = quiet;
    const std::string_view reader = IMPORT_READER;
    if (reader == "markup") {
      std::string text = markup_to_text(data);
      if (zelk::utf8_valid_prefix(data) == data.size()) {
        require(zelk::utf8_valid_prefix(text) == text.size(), "markup of UTF-8 gives UTF-8");
      }
      return 0;
    }
    if (reader == "dictd") {
      auto p = parts(data, 2);
      Bytes expanded;
      if (flags & 128) {  // the data gzip-compressed, as in .dict.dz
        expanded = gunzip(names[2], p[1]);
        p[1] = view(expanded);
      }
      read_dictd(TextFile{names[1], p[0]}, TextFile{names[2], p[1]}, sink);
    } else if (reader == "stardict") {
      auto p = parts(data, 4);
      read_stardict(TextFile{names[0], p[0]}, TextFile{names[1], p[1]}, TextFile{names[2], p[2]},
                    TextFile{names[3], p[3]}, sink);
    } else if (reader == "tab") {
      read_tab_text(TextFile{names[2], data}, sink);
    } else if (reader == "wiktionary") {
      read_wiktionary_text(TextFile{names[2], data}, sink);
    } else if (reader == "dsl") {
      read_dsl_text(TextFile{names[2], data}, sink);
    } else if (reader == "xdxf") {
      read_xdxf_text(TextFile{names[2], data}, sink);
    } else {
      read_csv_text(TextFile{names[2], data}, sink);
    }
    write_forms(sink);
    check_output(sink);
    if (reader == "dictd" || reader == "tab") check_database(sink);
  } catch (const zelk::Fatal& e) {
    require(!e.message.empty(), "an error says what");
  }
  return 0;
}
