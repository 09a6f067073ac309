#include "zelkimport/pdb_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/entry.h"
#include "convert/split.h"
#include "format/format.h"
#include "reader/chunks.h"
#include "reader/database.h"
#include "reader/find.h"
#include "reader/verify.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "toolkit/output.h"
#include "writer/from_memory.h"

namespace zelk::import {

namespace {

// The checks zelkdump verify makes, on the written file; fails with what
// they found.
void check(const Output& output) {
  struct stat st;
  if (fstat(output.fd, &st) != 0) cannot_write(output.name, errno);
  Database db;
  db.path = output.name;
  Problem p;
  Verdict v;
  try {
    bool opened =
        read_header(output.fd, static_cast<uint64_t>(st.st_size), db, p) && open_database(db, p);
    if (opened) load_list(db);
    v = verify(db, opened ? nullptr : &p);
  } catch (Fatal& fatal) {
    fatal.status = 1;  // the import's own file: a failed import
    throw;
  }
  if (v.problems != 0) {
    std::string text = verify_report(output.name, v);
    die("the database failed its check, and was not written:\n%s", text.c_str());
  }
}

// The keys of the text, each once, in the converter's order, NUL after
// each; form_only says of each whether all its lines are forms' (from line
// first_form_line on).
struct Keys {
  std::string names;
  std::vector<bool> form_only;
};

Keys distinct_keys(std::string_view text, const Layout& layout, long first_form_line) {
  Keys keys;
  std::string_view last;
  const auto& starts = layout.table.starts;
  for (uint32_t line : layout.sorted) {
    std::string_view l = text.substr(starts[line], starts[line + 1] - starts[line]);
    std::string_view key = l.substr(0, l.find('\t'));
    bool form = first_form_line >= 0 && static_cast<long>(line) >= first_form_line;
    if (!keys.form_only.empty() && key == last) {
      if (!form) keys.form_only.back() = false;
      continue;
    }
    keys.names.append(key).push_back('\0');
    keys.form_only.push_back(form);
    last = key;
  }
  return keys;
}

// Looks every key up in the written database the way a reader does (the
// index record, then the chunk); fails naming those it cannot find.
void check_reachable(const Output& output, const Keys& keys, Packed& p) {
  struct stat st;
  if (fstat(output.fd, &st) != 0) cannot_write(output.name, errno);
  Database db;
  db.path = output.name;
  Problem problem;
  if (!read_header(output.fd, static_cast<uint64_t>(st.st_size), db, problem) ||
      !open_database(db, problem)) {
    die("%s: cannot be read back: %s", output.name.c_str(), problem.text.c_str());
  }
  ChunkReader reader(db, Charset());
  std::vector<std::string> missing;
  size_t missed = 0, i = 0;
  for (size_t at = 0; at < keys.names.size(); ++i) {
    size_t end = keys.names.find('\0', at);
    std::string key = keys.names.substr(at, end - at);
    at = end + 1;
    (keys.form_only[i] ? p.forms : p.headwords) += 1;
    if (!search(reader, key, Strategy::kExact, 0, 1).entries.empty()) continue;
    if (missing.size() < 20) missing.push_back(quote(key));
    ++missed;
  }
  if (missed == 0) {
    p.looked_up = true;
    return;
  }
  std::string named;
  for (const std::string& m : missing) named += (named.empty() ? "" : ", ") + m;
  die("%zu keys of the database cannot be found the way a reader looks them up (%s%s); it was "
      "not written",
      missed, named.c_str(), missed > missing.size() ? ", ..." : "");
}

}  // namespace

bool is_database_name(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& ch : end) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return end == ".pdb";
}

Packed write_database(Output& output, Bytes& text, Layout& layout, const Settings& settings,
                      long first_form_line, std::FILE* progress) {
  Packed p;
  ChunkIndex index;
  index.text.reserve(text.size());
  try {
    split_lines(text.data(), layout.table.starts, layout.sorted, settings, p.stats, index);
    Keys keys = distinct_keys(view(text), layout, first_form_line);
    text = Bytes();
    layout = Layout();
    check_chunk_count(index);
    p.chunks = index.suffix;
    p.index_size = index_record_size(index.entries);
    int fd = dup(output.fd);  // the stream closes its own; the check reads the output's
    File out(fd >= 0 ? fdopen(fd, "wb") : nullptr, output.name);
    if (!out.f) cannot_write(output.name, errno);
    out.say_reason = true;
    set_buffer(out, 1 << 20);
    write_from_memory(out, settings, index, progress);
    index = ChunkIndex();
    if (!output.temporary.empty()) {  // a device or a pipe cannot be read back
      show_progress(progress, "checking");
      check(output);
      check_reachable(output, keys, p);
      show_progress(progress, "");
    }
  } catch (const Fatal& fatal) {
    std::string message = fatal.message;
    while (!message.empty() && message.back() == '\n') message.pop_back();
    die("%s", message.c_str());
  }
  return p;
}

}  // namespace zelk::import
