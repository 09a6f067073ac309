// Runs the whole conversion (-l, compressed by the built-in compressor or
// plain with -p) on arbitrary input with a fuzzed chunk budget in a scratch
// directory, and checks what it leaves: the sorted copy is exactly the plain
// Shell sort's, and a successful run's database verifies, holds the chunk
// files' entries in order, no chunk exceeds the budget, and the warnings at
// its end count what was cut.
//
// Input: two bytes choose K (mostly small, to reach capping and chunking
// limits) and compression, the rest is the dictionary.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "helpers.h"
#include "oracle.h"
#include "toolkit/file.h"
#include "zelkdump/commands.h"
#include "zelkpack/run.h"

namespace {

void require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

// Runs zelkpack with standard output and error going to files.
int run_quietly(const std::vector<const char*>& argv) {
  std::fflush(stdout);
  std::fflush(stderr);
  int saved_out = dup(1), saved_err = dup(2);
  int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, 1);
  dup2(err, 2);
  int status = zelk::zelkpack_main(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(out);
  close(err);
  close(saved_out);
  close(saved_err);
  return status;
}

// The verify report of a database zelkpack wrote: sound, or with keys out of
// order only where a key holds a line feed. A line without separator keeps
// its line feed in its chunk key but not in its sort key (the last line of an
// input without a final line feed sorts by "b" and is stored as "b\n"), so
// such keys need not be in order.
bool verified(const std::string& report) {
  if (report.find(": sound: ") != std::string::npos) return true;
  size_t pos = 0;
  while (pos < report.size()) {
    size_t end = report.find('\n', pos);
    std::string line = report.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("warning: ", 0) == 0 || line.rfind("zelk.pdb: damaged: ", 0) == 0) continue;
    if (line.find(" is out of order after ") == std::string::npos ||
        line.find("\\n") == std::string::npos) {
      return false;
    }
  }
  return true;
}

// The warnings a successful run ends with: lines of the sorted copy (read in
// pieces of at most 65535 bytes) over K - 2 bytes before their line feed,
// input lines over 65535 bytes, a byte order mark.
std::string expected_warnings(const std::string& input, const std::string& copy, int k) {
  long cut = 0, longest = 0;
  for (size_t pos = 0; pos < copy.size();) {
    size_t end = std::min(copy.find('\n', pos), copy.size() - 1) + 1;
    end = std::min(end, pos + 65535);
    long before_lf = static_cast<long>(end - pos) - (copy[end - 1] == '\n');
    if (before_lf > k - 2) {
      ++cut;
      longest = std::max(longest, before_lf);
    }
    pos = end;
  }
  long long_lines = 0;
  for (size_t pos = 0; pos < input.size();) {
    size_t lf = std::min(input.find('\n', pos), input.size());
    long_lines += lf - pos > 65535;
    pos = lf + 1;
  }
  std::string w;
  char line[160];
  if (cut) {
    std::snprintf(line, sizeof line,
                  "Warning: %ld line%s cut to %d bytes; the longest was %ld bytes.\n", cut,
                  cut == 1 ? "" : "s", k - 2, longest);
    w += line;
  }
  if (long_lines) {
    std::snprintf(line, sizeof line, "Warning: %ld input line%s over 65535 bytes read in pieces.\n",
                  long_lines, long_lines == 1 ? "" : "s");
    w += line;
  }
  if (input.rfind("\xEF\xBB\xBF", 0) == 0) {
    w += "Warning: Input file starts with a byte order mark, kept in the first line's key.\n";
  }
  return w;
}

// A scratch directory of its own, removed at exit.
const char* scratch_directory() {
  static char dir[256];  // no destructor: still there for the exit handler
  std::string d = (std::filesystem::temp_directory_path() / "zelkpack-fuzz-XXXXXX").string();
  if (d.size() >= sizeof dir || !mkdtemp(d.data())) std::abort();
  d.copy(dir, d.size());
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  return dir;
}

// The scratch directory is the working directory while an input runs, and
// only then: the fuzzer reads and writes its corpus relative to where it
// was started.
struct InScratch {
  int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  InScratch() {
    static const char* dir = scratch_directory();
    if (home < 0 || chdir(dir) != 0) std::abort();
  }
  ~InScratch() {
    if (fchdir(home) != 0) std::abort();
    close(home);
  }
};

// A zelkdump command's output on the database just written.
std::string dump(const char* command, const std::string& db) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  zelk::Captured out;
  int fd = open("zelk.pdb", O_RDONLY | O_CLOEXEC);
  zelk::Request request;
  request.command = command;
  int status =
      zelk::run_dump({"zelk.pdb", out.f, sink, false, zelk::Charset()}, request, fd, db.size()) ? 0
                                                                                                : 1;
  close(fd);
  require(status == 0 || std::string(command) == "verify", "extract works");
  return out.text();
}

// The chunk files out/dic0000.txt, ... one after the other.
std::string chunk_files(int k) {
  std::string chunks;
  char name[32];
  for (int i = 0;
       std::snprintf(name, sizeof name, "out/dic%04d.txt", i), std::filesystem::exists(name); ++i) {
    std::string chunk = zelk_test::read_file(name);
    require(!chunk.empty() && chunk.size() <= static_cast<size_t>(k), "chunk within the budget");
    chunks += chunk;
  }
  return chunks;
}

// The statistics a run prints for these chunks.
std::string statistics(const std::string& chunks) {
  std::vector<zelk::Entry> entries;
  size_t bad_at;
  require(zelk::split_entries(chunks, entries, bad_at), "chunks hold key<TAB>value<LF> lines");
  size_t max_key = 0, max_val = 0;
  for (const zelk::Entry& e : entries) {
    max_key = std::max(max_key, e.key.size());
    max_val = std::max(max_val, e.value.size());
  }
  return "\nMAX Key Length = " + std::to_string(max_key) +
         "\nMAX Val Length = " + std::to_string(max_val) +
         "\nTotal words    = " + std::to_string(entries.size()) + "\n";
}

// What a successful run leaves: its closing warnings, chunk files within the
// budget, a database that verifies and holds exactly the chunks, statistics.
void check_success(const std::string& input, const std::string& copy, const std::string& err,
                   int k) {
  size_t size_line = err.find('\n', err.find("Index record (Record 0) size = "));
  std::string tail = err.substr(size_line + 1);
  const std::string vfs =
      "Warning: This dictionary MUST be put on Palm's SD-card or MemoryStick (ie. VFS)\n";
  if (tail.rfind(vfs, 0) == 0) tail = tail.substr(vfs.size());
  require(tail == expected_warnings(input, copy, k), "warnings count what was cut");
  std::string chunks = chunk_files(k);
  std::string db = zelk_test::read_file("zelk.pdb");
  require(verified(dump("verify", db)), "database verifies");
  require(dump("extract", db) == chunks, "database holds the chunk files' entries");
  require(zelk_test::read_file("stdout.txt") == statistics(chunks), "statistics match the entries");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  InScratch scratch;
  std::filesystem::remove_all("out");
  std::filesystem::remove("zelk.pdb");

  int k = data[0] & 0x80 ? 2 + (((data[0] & 0x3F) << 8) | data[1]) % 65534 : 2 + data[1] % 160;
  bool compress = data[0] & 0x40;
  std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
  zelk_test::write_file("in.txt", input);
  std::string budget = std::to_string(k);
  int status =
      run_quietly({"zelkpack", compress ? "-l" : "-p", "-l", "-k", budget.c_str(), "in.txt"});
  std::string err = zelk_test::read_file("stderr.txt");

  zelk_test::Sorted want = zelk_test::oracle_sort(input, k);
  if (want.nul_line) {
    require(status == 1 && !std::filesystem::exists("out/zelksort.dic"), "NUL byte refused");
    return 0;
  }
  require(zelk_test::read_file("out/zelksort.dic") == want.copy,
          "sorted copy equals the plain Shell sort");
  require(err.rfind("Sorting...\n" + want.warnings + "Done!\n", 0) == 0,
          "warnings as the plain sort");
  if (status == 0) {
    check_success(input, want.copy, err, k);
    return 0;
  }
  require(status == 1, "exit status 1");
  require(err.find("Error: No entries in input file.\n") != std::string::npos ||
              err.find("Error: Too Long (") != std::string::npos ||
              (compress && err.find(" too big (") != std::string::npos),
          "a failure is an empty dictionary, a line too long or an incompressible chunk");
  return 0;
}
