// dictd databases: NAME.index lists each headword with the offset and length
// of its definition in NAME.dict (or NAME.dict.dz), as base64 digits.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <future>
#include <thread>

#include "text/keys.h"
#include "toolkit/file.h"
#include "zelkimport/import.h"

namespace zelk::import {

bool decode_dictd_number(std::string_view digits, unsigned long long* value) {
  if (digits.empty() || digits.size() > 10) return false;  // 60 bits at most
  unsigned long long v = 0;
  for (char ch : digits) {
    int d;
    if (ch >= 'A' && ch <= 'Z') {
      d = ch - 'A';
    } else if (ch >= 'a' && ch <= 'z') {
      d = ch - 'a' + 26;
    } else if (ch >= '0' && ch <= '9') {
      d = ch - '0' + 52;
    } else if (ch == '+') {
      d = 62;
    } else if (ch == '/') {
      d = 63;
    } else {
      return false;
    }
    v = v * 64 + static_cast<unsigned>(d);
  }
  *value = v;
  return true;
}

namespace {

bool is_metadata(std::string_view headword) {
  return headword.starts_with("00-database-") || headword.starts_with("00database");
}

// dictd definitions usually repeat the headword on their first line, often
// in another case ("AMS" for ams) or spaced otherwise.
std::string_view drop_headword_line(std::string_view definition, std::string_view headword) {
  size_t start = definition.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return definition;
  size_t end = definition.find('\n', start);
  if (end == std::string_view::npos) return definition;
  std::string_view first = definition.substr(start, end - start);
  if (first.size() > 4 * headword.size() + 16) return definition;  // not the headword alone
  if (!same_but_for_case_and_blanks(first, headword)) return definition;
  return definition.substr(end + 1);
}

// Reads the index lines in text, the first of them line first_line + 1.
void read_index_lines(std::string_view text, long first_line, const TextFile& index,
                      const TextFile& data, Sink& sink) {
  LineWalk walk{text, 0, first_line};
  std::string_view line;
  while (next_line(walk, &line)) {
    long line_no = walk.number;
    if (line.empty()) continue;
    Where where{&index.name, line_no, true};
    size_t tab1 = line.find('\t');
    size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) {
      die("%s: not an index line (headword, offset and length separated by tabs): %s",
          describe(where).c_str(), quote(line).c_str());
    }
    size_t tab3 = line.find('\t', tab2 + 1);
    std::string_view headword = line.substr(0, tab1);
    std::string_view off_digits = line.substr(tab1 + 1, tab2 - tab1 - 1);
    std::string_view len_digits =
        line.substr(tab2 + 1, tab3 == std::string_view::npos ? tab3 : tab3 - tab2 - 1);
    unsigned long long offset, length;
    if (!decode_dictd_number(off_digits, &offset)) {
      die("%s: bad offset %s (base64 digits expected)", describe(where).c_str(),
          quote(off_digits).c_str());
    }
    if (!decode_dictd_number(len_digits, &length)) {
      die("%s: bad length %s (base64 digits expected)", describe(where).c_str(),
          quote(len_digits).c_str());
    }
    if (offset > data.data.size() || length > data.data.size() - offset) {
      die("%s: bytes %llu to %llu are past the end of %s (%zu bytes)",
          describe(where, headword).c_str(), offset, offset + length, data.name.c_str(),
          data.data.size());
    }
    if (headword == "00-database-short" || headword == "00databaseshort") {
      // Its first line names the entry (00-database-short, as some write it).
      std::string_view title = data.data.substr(offset, length);
      size_t start = title.find_first_not_of(" \t\r\n");
      if (start != std::string_view::npos && title.substr(start).starts_with("00")) {
        size_t line_end = title.find('\n', start);
        title =
            line_end == std::string_view::npos ? std::string_view() : title.substr(line_end + 1);
      }
      flatten(title, " ", sink.title);
    }
    if (!sink.options.metadata && is_metadata(headword)) {
      ++sink.skipped["dictd metadata (00-database-*)"];
      continue;
    }
    std::string_view definition = data.data.substr(offset, length);
    if (!sink.options.keep_headword) definition = drop_headword_line(definition, headword);
    add_entry(sink, headword, definition, where);
  }
}

}  // namespace

void read_dictd(const TextFile& index, const TextFile& data, Sink& sink, Bytes* release) {
  // The two halves of the index go on two threads: entries are cleaned each
  // on its own, and the second half's lines and messages are put after the
  // first's, as if it had been read in one go.
  std::string_view text = index.data;
  size_t cut = text.find('\n', text.size() / 2);
  if (cut == std::string_view::npos || cut + 1 == text.size() ||
      std::thread::hardware_concurrency() < 2) {
    return read_index_lines(text, 0, index, data, sink);
  }
  ++cut;
  auto first_lines = static_cast<long>(std::count(text.begin(), text.begin() + cut, '\n'));
  Sink second(sink.options);
  second.out.reserve(
      sink.out.capacity() > sink.out.size() ? (sink.out.capacity() - sink.out.size()) / 2 : 0);
  Captured said;  // the second half's messages, until the first half is done
  second.messages = said.f;
  std::future<void> later =
      std::async(std::launch::async, read_index_lines, text.substr(cut), first_lines,
                 std::cref(index), std::cref(data), std::ref(second));
  try {
    read_index_lines(text.substr(0, cut), 0, index, data, sink);
  } catch (...) {
    later.wait();  // what the second half found comes after the first failure: dropped
    throw;
  }
  std::exception_ptr failed;
  try {
    later.get();
  } catch (...) {
    failed = std::current_exception();
  }
  std::string messages = said.text();
  if (!messages.empty()) note(sink.messages, "%s", messages.c_str());
  if (release) *release = Bytes();  // before the halves are put together: less at the peak
  take_entries(sink, second);
  if (failed) std::rethrow_exception(failed);
}

void import_dictd(const std::string& index_path, Sink& sink) {
  std::string base = index_path;
  if (base.ends_with(".index")) base.resize(base.size() - 6);
  std::string data_path = base + ".dict.dz";
  if (!file_exists(data_path)) data_path = base + ".dict";
  if (!file_exists(data_path)) {
    die("%s: no definitions beside it (%s.dict.dz or %s.dict)", index_path.c_str(), base.c_str(),
        base.c_str());
  }
  Bytes index = read_whole(index_path);
  Bytes data = read_maybe_gzip(data_path);
  sink.out.reserve(sink.out.size() + index.size() + data.size());  // about what is written
  read_dictd(TextFile{index_path, view(index)}, TextFile{data_path, view(data)}, sink, &data);
}

}  // namespace zelk::import
