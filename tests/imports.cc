#include "imports.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "helpers.h"
#include "sources/formats.h"
#include "toolkit/file.h"
#include "zelkimport/forms.h"

namespace zelk_test {

using namespace zelk::import;

Imported import_source(const Source& s, const Options& options) {
  TempDir dir;
  for (const auto& [name, bytes] : s.files) {
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
      mkdir((dir / name.substr(0, slash)).c_str(), 0755);
    }
    write_file(dir / name, bytes);
  }
  char here[4096];
  if (!getcwd(here, sizeof here) || chdir(dir.path.c_str()) != 0) throw std::runtime_error("cd");
  Imported r;
  zelk::Captured messages;
  std::vector<std::pair<std::string, long>> skipped_at;
  std::vector<Form> dropped;
  try {
    zelk::sources::Source source;
    source.path = s.files[0].first;
    source.format = s.format.empty() ? nullptr : zelk::sources::find_format(s.format);
    zelk::sources::Resolved found = zelk::sources::resolve(source.path, source.format);
    source.format = found.format;
    source.options = s.options;
    source.reading.from = s.from;
    r.format = source.format->name;
    Sink sink(options);
    sink.messages = messages.f;
    sink.skipped_at = &skipped_at;
    sink.dropped = &dropped;
    source.reading.stray = sink.stray;
    zelk::sources::Emit emit;
    emit.take = [&sink](zelk::sources::Batch& b) { take_batch(sink, b); };
    try {
      source.format->read(source, emit);
      zelk::sources::flush(emit);
      r.title = emit.title;
      finish_reading(sink, emit, source.path);
      write_forms(sink);
    } catch (...) {
      r.out = view(sink.out);
      r.skipped = sink.skipped;
      throw;
    }
    r.out = view(sink.out);
    r.skipped = sink.skipped;
    r.counted = sink.counted;
    r.invalid = sink.invalid;
    r.forms_unknown = sink.forms_unknown;
    r.written = sink.written;
    r.first_form_line = sink.first_form_line;
  } catch (const zelk::Fatal& e) {
    r.error = e.message;
  }
  if (chdir(here) != 0) throw std::runtime_error("cd back");
  r.messages = messages.text();
  for (const auto& unit : skipped_at) r.accounted.skipped.insert(unit);
  for (const Form& f : dropped) r.accounted.dropped += f.form + " " + f.headword + "\n";
  return r;
}

Imported import_tab(const std::string& text, const Options& options) {
  return import_source(Source{"tab", {{"t.tab", text}}}, options);
}

std::vector<std::string> lost(const Source& source, const Imported& imported) {
  Accounted accounted = imported.accounted;
  // A DSL or XDXF part skipped excuses every word: this file's rules do not
  // tell which part a word is in as the readers do.
  if ((imported.format == "xdxf" || imported.format == "dsl") && !accounted.skipped.empty()) {
    accounted.all = true;
  }
  return lost_words(source_words(imported.format, source.files, source.options, source.from),
                    imported.out, accounted);
}

}  // namespace zelk_test
