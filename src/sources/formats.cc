#include "sources/formats.h"

#include <cstring>

#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk::sources {

// Each format's row stands in its reader's file.
extern const Format kDictd, kStardict, kTab, kCsv, kWiktionary, kDsl, kXdxf;

namespace {

const Format* const kFormats[] = {&kDictd, &kStardict, &kTab, &kCsv, &kWiktionary, &kDsl, &kXdxf};

const FormatOption* option_of(const Format& format, const char* name) {
  for (const FormatOption& row : format.options) {
    if (std::strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

// The ending of path that names a file of format, the longest; empty: none.
std::string_view ending_of(std::string_view path, const std::vector<const char*>& endings) {
  std::string_view best;
  for (std::string_view e : endings) {
    if (path.size() > e.size() && path.ends_with(e) && e.size() > best.size()) best = e;
  }
  return best;
}

// The first bytes of the file, expanded when it is gzip data; empty when
// it cannot be read (reading it later says why).
std::string head_of(const std::string& path) {
  std::string head(4096, '\0');
  try {
    Input in = open_input(path);
    head.resize(read_input(in, head.data(), head.size()));
  } catch (const Fatal&) {
    head.clear();
  }
  return head;
}

}  // namespace

std::string option(const Source& source, const char* name) {
  auto given = source.options.find(name);
  if (given != source.options.end()) return given->second;
  const FormatOption* row = source.format ? option_of(*source.format, name) : nullptr;
  return row ? row->fallback : "";
}

long number_option(const Source& source, const char* name) {
  return std::strtol(option(source, name).c_str(), nullptr, 10);
}

bool flag_option(const Source& source, const char* name) { return !option(source, name).empty(); }

std::span<const Format* const> formats() { return kFormats; }

const Format* find_format(std::string_view name) {
  for (const Format* f : kFormats) {
    if (name == f->name) return f;
  }
  return nullptr;
}

Resolved resolve(const std::string& named, const Format* given) {
  Resolved r{named, given, ""};
  if (!given) {  // a format's own ending decides first
    size_t longest = 0;
    for (const Format* f : kFormats) {
      std::string_view e = ending_of(named, f->endings);
      if (e.size() > longest) {
        longest = e.size();
        r.format = f;
      }
    }
    if (r.format) return r;
  } else if (!ending_of(named, given->endings).empty()) {
    return r;
  }
  // A part of a dictionary of several files: its main file beside it.
  const char* part_of = nullptr;
  for (const Format* f : kFormats) {
    if (given && f != given) continue;
    std::string_view part = ending_of(named, f->parts);
    if (part.empty()) continue;
    part_of = f->main_ending;
    std::string main = named.substr(0, named.size() - part.size()) + f->main_ending;
    if (!file_exists(main)) continue;
    r.note = "'" + named + "' is part of a " + f->name + " dictionary: reading '" + main + "'";
    r.path = main;
    r.format = f;
    return r;
  }
  if (part_of && file_exists(named)) {
    die("'%s' looks like part of a dictionary of several files, but no %s stands beside it; "
        "name its main file",
        named.c_str(), part_of);
  }
  if (r.format) return r;
  std::string head = head_of(named);
  for (const Format* f : kFormats) {
    if (f->sniff && f->sniff(head)) {
      r.format = f;
      return r;
    }
  }
  r.format = find_format("tab");
  return r;
}

std::vector<std::string> files_of(const Format& format, const std::string& path) {
  std::vector<std::string> files{path};
  std::string_view main = format.main_ending;
  if (main.empty() || !path.ends_with(main)) return files;
  std::string base = path.substr(0, path.size() - main.size());
  for (const char* part : format.parts) files.push_back(base + part);
  return files;
}

std::string stem(const std::string& path) {
  std::string s = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  std::string_view longest;
  for (const Format* f : kFormats) {
    std::string_view e = ending_of(s, f->endings);
    if (e.size() > longest.size()) longest = e;
  }
  s.resize(s.size() - longest.size());
  return s;
}

}  // namespace zelk::sources
