// Feeds arbitrary bytes to one of the source readers (chosen at build time
// by IMPORT_READER: a format's name, or markup), as the files of a source.
// Nothing may crash, and whatever an import writes must be zelkpack's input,
// whole: one "key<TAB>value" line per entry written, keys that are not empty
// and hold no tab, line break, NUL or " /// ", and (in UTF-8) valid UTF-8.
// No text may be lost: each word of a UTF-8 source stands in the output, or
// the import counted its part as skipped (no_text_lost.h). The dictd and tab
// readers' imports are also packed as a database at a small K, which must
// pass verify and hold the text output's entries in its order.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "imports.h"
#include "sources/markup.h"
#include "text/utf8.h"
#include "toolkit/file.h"
#include "toolkit/output.h"
#include "zelkdump/commands.h"
#include "zelkimport/check.h"
#include "zelkimport/layout.h"
#include "zelkimport/pdb_output.h"

using namespace zelk::import;

namespace {

void require(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s %s\n", what, detail.c_str());
    std::abort();
  }
}

// The parts of an input, cut at each "\n@@\n".
std::vector<std::string> parts(std::string_view data, size_t count) {
  std::vector<std::string> out;
  while (out.size() + 1 < count) {
    size_t at = data.find("\n@@\n");
    if (at == std::string_view::npos) break;
    out.emplace_back(data.substr(0, at));
    data.remove_prefix(at + 4);
  }
  out.emplace_back(data);
  out.resize(count);
  return out;
}

void check_output(const zelk_test::Imported& r, const Options& o) {
  std::string_view out = r.out;
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
    require(key.find(" /// ") == std::string_view::npos, "no separator in a key");
    require(line.find_first_of(std::string_view("\r\0", 2)) == std::string_view::npos,
            "no CR or NUL in a line");
  }
  require(lines == r.written, "one line per entry written");
  if (o.to.empty()) require(zelk::is_utf8(out), "valid UTF-8");
  TextSummary s = check_text(out.data(), out.size(), 4096);
  require(s.entries == r.written && s.no_separator == 0 && s.nul_lines == 0,
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
void check_database(const zelk_test::Imported& r, int chunksize) {
  if (r.written == 0) return;
  static const std::string path = [] {
    char dir[] = "/tmp/import-fuzz.XXXXXX";
    require(mkdtemp(dir) != nullptr, "a scratch folder");
    return std::string(dir) + "/d.pdb";
  }();
  Bytes text(r.out.begin(), r.out.end());
  Layout layout = lay_out(view(text), chunksize);
  std::string expected;  // the lines in the order the converter takes them
  for (uint32_t line : layout.sorted) {
    size_t begin = layout.table.starts[line], end = layout.table.starts[line + 1];
    expected.append(text.data() + begin, end - begin);
  }
  zelk::Settings settings;
  settings.chunksize = chunksize;
  settings.allow_large_index = true;
  zelk::Output output = zelk::open_output(path);
  write_database(output, text, layout, settings, r.first_form_line, nullptr);
  zelk::commit_output(output);
  int status;
  dump("verify", path, &status);
  require(status == 0, "the database passes verify");
  require(dump("extract", path, &status) == expected && status == 0,
          "the database holds the text's entries in the converter's order");
}

// The files of a source of the format, made of the input.
zelk_test::Source source_of(std::string_view format, std::string_view data, unsigned flags) {
  zelk_test::Source s{std::string(format)};
  if (format == "dictd") {
    auto p = parts(data, 2);
    s.files = {{"a.index", p[0]}, {"a.dict", p[1]}};
    if (flags & 8) s.options["metadata"] = "1";
    if (flags & 16) s.options["keep-headword"] = "1";
  } else if (format == "stardict") {
    auto p = parts(data, 4);
    s.files = {{"a.ifo", p[0]}, {"a.idx", p[1]}, {"a.dict", p[2]}, {"a.syn", p[3]}};
  } else if (format == "dsl") {
    auto p = parts(data, 2);  // a dictionary and its abbreviations
    s.files = {{"a.dsl", p[0]}, {"a_abrv.dsl", p[1]}};
  } else {
    s.files = {{std::string("a.") + std::string(format), std::string(data)}};
    if (format == "csv" && (flags & 4)) s.options["header"] = "1";
    if (format == "csv" && (flags & 64)) s.options["delimiter"] = ";";
    if (format == "wiktionary" && (flags & 4)) s.options["bad-lines"] = "skip";
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  const unsigned flags = bytes[0];
  const std::string_view reader = IMPORT_READER;
  if (reader == "markup") {
    std::string text = zelk::sources::markup_to_text(data);
    if (zelk::is_utf8(data)) require(zelk::is_utf8(text), "markup of UTF-8 gives UTF-8");
    return 0;
  }
  Options o;
  o.bad_keys = flags & 1 ? BadKeys::kSkip : BadKeys::kRepair;
  if (flags & 2) {
    o.to = "ISO-8859-1";
    o.replace = "?";
  }
  o.separator = flags & 32 ? " | " : " ";
  o.chunksize = kMinImportChunkSize + static_cast<int>(size % 200);
  zelk_test::Source source = source_of(reader, data, flags);
  zelk_test::Imported r = zelk_test::import_source(source, o);
  if (!r.error.empty()) return 0;
  check_output(r, o);
  // Words are checked where this test reads the text as the reader does:
  // UTF-8 without NUL bytes, kept whole in lines (a large K), in UTF-8.
  bool plain = zelk::is_utf8(data) && data.find('\0') == std::string_view::npos;
  if (plain && o.to.empty() && o.bad_keys == BadKeys::kRepair) {
    Options whole = o;
    whole.chunksize = 65535;
    zelk_test::Imported w = zelk_test::import_source(source, whole);
    std::vector<std::string> missing = zelk_test::lost(source, w);
    require(missing.empty(), "no word lost:", missing.empty() ? "" : missing[0]);
  }
  if (reader == "dictd" || reader == "tab") check_database(r, o.chunksize);
  return 0;
}
