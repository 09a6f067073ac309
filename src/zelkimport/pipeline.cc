#include "zelkimport/pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <optional>

#include "convert/entry.h"
#include "format/format.h"
#include "toolkit/file.h"
#include "toolkit/output.h"
#include "zelkimport/advice.h"
#include "zelkimport/check.h"
#include "zelkimport/forms.h"
#include "zelkimport/layout.h"
#include "zelkimport/pdb_output.h"

namespace zelk::import {

namespace {

// The text to standard output, or to the output file, which it replaces.
void write_output(Output* out, std::string_view text) {
  if (!out) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      die("cannot write standard output: %s", std::strerror(errno));
    }
    return;
  }
  int fd = dup(out->fd);
  File file(fd >= 0 ? fdopen(fd, "wb") : nullptr, out->name);
  if (!file.f) cannot_write(out->name, errno);
  file.say_reason = true;
  write_bytes(file, text.data(), text.size());
  close_file(file);
  zelk::commit_output(*out);
}

// Where a name of which only the first used bytes fit is best cut: at the
// last blank before them unless the cut falls between words already, with
// no blank left at its end.
size_t name_end(std::string_view name, size_t used) {
  size_t end = used;
  if (name[used] != ' ') {
    size_t blank = name.rfind(' ', used);
    if (blank != std::string_view::npos && blank > 0) end = blank;
  }
  while (end > 0 && name[end - 1] == ' ') --end;
  return end;
}

// The name the database gets: -n, else the source's title, else its stem.
std::string chosen_name(const std::string& given, const std::string& title,
                        const std::string& source) {
  std::string flat;
  sources::flatten_blanks(title, flat);
  return !given.empty() ? given : !flat.empty() ? flat : sources::stem(source);
}

// That name in the output's character set, at most 31 bytes, cut at a word
// boundary when it has one there, else between characters. cut: whether it was.
std::string database_name(Sink& sink, const std::string& name, bool* cut) {
  std::string out;
  auto fits = [&](std::string_view utf8) {
    try {
      return fit_output(sink, utf8, zelk::kNameSize - 1, out);
    } catch (const Fatal&) {  // a name the output's set cannot write stays UTF-8
      out = utf8.substr(0, zelk::kNameSize - 1);
      while (out.size() < utf8.size() &&
             (static_cast<unsigned char>(utf8[out.size()]) & 0xC0) == 0x80) {
        out.pop_back();
      }
      return out.size();
    }
  };
  size_t used = fits(name);
  *cut = used < name.size();
  if (*cut) fits(std::string_view(name).substr(0, name_end(name, used)));
  return out;
}

}  // namespace

std::FILE* progress_stream() { return isatty(STDERR_FILENO) ? stderr : nullptr; }

namespace {

void say(const char* what) { zelk::show_progress(progress_stream(), what); }

void done_saying() { say(""); }

// The summary of a database written: the text's counts as packed.
TextSummary packed_summary(const Sink& sink, long repeated, const Packed& packed, int chunksize,
                           int advised) {
  TextSummary s;
  s.entries = sink.written;
  s.repeated_keys = repeated;
  s.long_keys = sink.long_keys;
  s.chunks = packed.chunks;
  s.index_size = packed.index_size;
  s.small_index_k = advised;
  s.whole_k = chunksize;
  return s;
}

// Refuses an output that is a file of the source.
void check_output(const Command& c, const sources::Source& source) {
  if (c.output.empty() || c.output == "-") return;
  for (const std::string& file : sources::files_of(*source.format, source.path)) {
    if (same_file(file, c.output)) {
      if (file == c.source.path) die("output '%s' is the source", c.output.c_str());
      std::string which = file == c.output ? "" : " (it is '" + file + "')";
      die("output '%s' is part of the source%s", c.output.c_str(), which.c_str());
    }
  }
}

// Refuses, as a usage mistake, an option of another format than the
// source's; --lang-code goes to a list of forms too.
void check_format_options(const sources::Source& source, Options& o) {
  bool lists = std::any_of(o.forms.begin(), o.forms.end(),
                           [](const std::string& f) { return !f.starts_with("hunspell:"); });
  for (const auto& [name, value] : source.options) {
    std::string owners;
    bool owned = name == "lang-code" && lists;
    if (owned) o.lang_code = value;
    for (const sources::Format* f : sources::formats()) {
      for (const sources::FormatOption& row : f->options) {
        if (name != row.name) continue;
        owners += (owners.empty() ? "" : " and ") + std::string(f->name);
        owned |= f == source.format;
      }
    }
    if (!owned) {
      die_with(2, "--%s is an option of %s sources; '%s' is read as %s (see --format)",
               name.c_str(), owners.c_str(), source.path.c_str(), source.format->name);
    }
  }
}

// Reads the source into sink, a batch at a time.
sources::Emit read_source(const sources::Source& source, Sink& sink) {
  sources::Emit emit;
  emit.take = [&sink, &emit](sources::Batch& batch) {
    if (sink.out.capacity() < emit.expected)
      sink.out.reserve(emit.expected);  // about what is written
    take_batch(sink, batch);
  };
  source.format->read(source, emit);
  sources::flush(emit);
  return emit;
}

void write_pdb(const Command& c, const std::string& title, Sink& sink, Layout& layout, int k,
               int advised, Output& out) {
  zelk::Settings settings;
  bool cut;
  std::string name = chosen_name(c.name, title, c.source.path);
  settings.storyName = database_name(sink, name, &cut);
  if (cut) {
    zelk::note(stderr, "zelkimport: the name '%s' is cut to fit in 31 bytes: '%s'\n", name.c_str(),
               settings.storyName.c_str());
  }
  settings.chunksize = k;
  settings.allow_large_index = true;
  long repeated = layout.repeated;
  Packed packed =
      write_database(out, sink.out, layout, settings, sink.first_form_line, progress_stream());
  zelk::commit_output(out);
  done_saying();
  TextSummary s = packed_summary(sink, repeated, packed, k, advised);
  s.index_without_forms = sink.index_without_forms;
  s.found = packed.looked_up
                ? std::to_string(packed.headwords) + " headword" +
                      (packed.headwords == 1 ? "" : "s") + " and " + std::to_string(packed.forms) +
                      " form" + (packed.forms == 1 ? "" : "s") + ", all found"
                : "none (a device or a pipe cannot be read back)";
  std::string what = c.output + " (" + std::to_string(packed.chunks) + " chunk" +
                     (packed.chunks == 1 ? "" : "s") + ", '" + settings.storyName + "')";
  print_summary(stderr, c.output, s, k, &sink, what);
}

void write_text(const Command& c, const std::string& title, Sink& sink, Layout& layout, int k,
                int advised, Output* out) {
  bool cut;
  std::string name = database_name(sink, chosen_name(c.name, title, c.source.path), &cut);
  zelk::LineTable arranged;
  Bytes text = layout.moved ? arranged_text(view(sink.out), layout, arranged) : std::move(sink.out);
  sink.out = Bytes();
  Sorted sorted{layout.moved ? &arranged : &layout.table, &layout.order};
  done_saying();
  // The summary is worked out while the output is written.
  std::future<TextSummary> summary =
      std::async(std::launch::async, check_text, text.data(), text.size(), k, &sorted);
  write_output(out, view(text));
  TextSummary s = summary.get();
  if (s.index_size > zelk::kMaxRecordSize && advised >= 0) s.small_index_k = advised;
  s.index_without_forms = sink.index_without_forms;
  s.name = name;
  print_summary(stderr, c.output.empty() || c.output == "-" ? "standard output" : c.output, s, k,
                &sink);
}

}  // namespace

void import(Command& c) {
  Options& o = c.o;
  struct stat st;
  if (stat(c.source.path.c_str(), &st) != 0) {
    die("cannot open '%s': %s", c.source.path.c_str(), std::strerror(errno));
  }
  sources::Resolved resolved = sources::resolve(c.source.path, c.source.format);
  if (!resolved.note.empty()) zelk::note(stderr, "zelkimport: %s\n", resolved.note.c_str());
  sources::Source source = c.source;
  source.path = resolved.path;
  source.format = resolved.format;
  check_format_options(source, o);
  check_output(c, source);
  // The output is opened before any work: one that cannot be written stops
  // the run at once.
  std::optional<Output> out;
  if (!c.output.empty() && c.output != "-") out.emplace(zelk::open_output(c.output));
  say("reading");
  Sink sink(o);
  source.reading.stray = sink.stray;
  sources::Emit emit = read_source(source, sink);
  done_saying();
  finish_reading(sink, emit, source.path);
  write_forms(sink);
  int k = o.chunksize;
  if (o.long_definitions == Long::kWhole) {
    k = static_cast<int>(
        std::clamp<long>(zelk::chunksize_keeping(sink.longest_line), k, zelk::kMaxChunkSize));
  }
  say("sorting");
  Layout layout = lay_out(view(sink.out), k);
  // The advice on -k; for a text in which nothing was laid out at this K
  // alone, the text's own (which its check works out) is the same.
  int advised = is_database_name(c.output) || !sink.reflowed.empty()
                    ? advised_chunksize(sink, view(sink.out), layout, k)
                    : -1;
  if (sink.first_form_line >= 0) {
    sink.index_without_forms = index_size_without_forms(sink, view(sink.out), layout, k);
  }
  if (is_database_name(c.output)) {
    write_pdb(c, emit.title, sink, layout, k, advised, *out);
  } else {
    write_text(c, emit.title, sink, layout, k, advised, out ? &*out : nullptr);
  }
}

bool check_file(const std::string& file, int chunksize) {
  Bytes text = read_whole(file);
  TextSummary s = check_text(text.data(), text.size(), chunksize);
  s.name = sources::stem(file);
  bool whole = print_summary(stdout, file, s, chunksize, nullptr);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    die("cannot write standard output: %s", std::strerror(errno ? errno : EIO));
  }
  return whole;
}

}  // namespace zelk::import
