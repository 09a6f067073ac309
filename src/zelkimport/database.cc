#include "zelkimport/database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "format/format.h"
#include "text/split.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "writer/from_memory.h"
#include "zelkdump/commands.h"

namespace zelk::import {

namespace {

// The temporary file being written, for the signal handler to remove.
char g_temporary[PATH_MAX + 1];
volatile std::sig_atomic_t g_have_temporary = 0;

extern "C" void remove_temporary(int sig) {
  if (g_have_temporary) unlink(g_temporary);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// The temporary file: removed when the run fails or is interrupted, renamed
// over the output when it succeeds.
struct Temporary {
  std::string path;
  int fd = -1;
  struct sigaction old_int {
  }, old_term{};

  explicit Temporary(const std::string& output) {
    size_t slash = output.rfind('/');
    std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
    path = dir + "." + base + ".XXXXXX";
    if (path.size() > PATH_MAX) die("cannot create '%s': name too long", output.c_str());
    std::memcpy(g_temporary, path.c_str(), path.size() + 1);
    struct sigaction sa {};
    sa.sa_handler = remove_temporary;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int);
    sigaction(SIGTERM, &sa, &old_term);
    // The name is chosen and the handler knows it before the file exists.
    sigset_t block, saved;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &saved);
    fd = mkstemp(g_temporary);
    int error = errno;
    if (fd >= 0) {
      path = g_temporary;
      g_have_temporary = 1;
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (fd < 0) {
      restore();
      die("cannot create a file beside '%s': %s", output.c_str(), std::strerror(error));
    }
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (fd >= 0) close(fd);
    if (g_have_temporary) unlink(path.c_str());
    g_have_temporary = 0;
    restore();
  }
  void restore() {
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
  }
};

// zelkdump verify's checks on the written file; fails with what they found.
void check(const Temporary& t, const std::string& output) {
  struct stat st;
  if (fstat(t.fd, &st) != 0) die("cannot read '%s': %s", t.path.c_str(), std::strerror(errno));
  Captured said;
  DumpContext cx{output, said.f, said.f, false, Charset()};
  Request request;
  request.command = "verify";
  int status;
  try {
    status = run_dump(cx, request, t.fd, static_cast<uint64_t>(st.st_size));
  } catch (Fatal& fatal) {
    fatal.status = 1;  // the import's own file: a failed import
    throw;
  }
  if (status != kStatusOk) {
    std::string text = said.text();
    die("the database failed its check, and was not written:\n%s", text.c_str());
  }
}

}  // namespace

bool is_database_name(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& ch : end) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return end == ".pdb";
}

size_t index_size_at(std::string_view text, const UninitVector<uint64_t>& starts,
                     const SortedLines& order, int chunksize) {
  Stats stats;
  ChunkIndex index;
  try {
    plan_chunks(text, starts, order, chunksize, stats, index);
  } catch (const Fatal&) {
    return SIZE_MAX;  // a line the converter refuses at this K
  }
  return index_record_size(index.entries);
}

int chunksize_for_small_index(std::string_view text, const UninitVector<uint64_t>& starts,
                              const SortedLines& order, int chunksize) {
  // The entries' lengths, measured once where no line is cut, give the index
  // record's size at every K that cuts no line; at a K that does, the lines
  // are chunked again.
  Stats stats;
  ChunkIndex measured;
  measured.measure = true;
  try {
    plan_chunks(text, starts, order, kMaxChunkSize, stats, measured);
  } catch (const Fatal&) {
    return 0;  // a line the converter refuses at any K
  }
  uint64_t longest = 0;  // bytes of the longest line, its line feed included
  for (size_t i = 0; i + 1 < starts.size(); ++i)
    longest = std::max(longest, starts[i + 1] - starts[i]);
  auto size_at = [&](int k) {
    if (static_cast<uint64_t>(k) - 2 < longest) return index_size_at(text, starts, order, k);
    size_t chunks;
    return zelk::index_size_at(measured, k, &chunks);
  };
  if (size_at(chunksize) <= kMaxRecordSize) return chunksize;
  if (size_at(kMaxChunkSize) > kMaxRecordSize) return 0;
  int low = chunksize, high = kMaxChunkSize;  // too large at low, small enough at high
  while (high - low > 1) {
    int mid = low + (high - low) / 2;
    (size_at(mid) > kMaxRecordSize ? low : high) = mid;
  }
  return high;
}

Packed write_database(const std::string& path, Bytes& text, Layout& layout,
                      const Settings& settings, std::FILE* progress) {
  Packed p;
  ChunkIndex index;
  index.text.reserve(text.size());
  try {
    split_lines(text.data(), layout.table.starts, layout.sorted, settings, p.stats, index);
    if (index_record_size(index.entries) > kMaxRecordSize) {
      p.small_index_k = chunksize_for_small_index(view(text), layout.table.starts, layout.sorted,
                                                  settings.chunksize);
    }
    text = Bytes();
    layout = Layout();
    check_chunk_count(index);
    p.chunks = index.suffix;
    p.index_size = index_record_size(index.entries);
    Temporary t(path);
    File out(fdopen(t.fd, "wb"), t.path);
    if (!out.f) throw std::bad_alloc();
    int fd = dup(t.fd);  // the stream closes its own; verify reads the copy
    t.fd = fd;
    set_buffer(out, 1 << 20);
    write_from_memory(out, settings, index, progress);
    index = ChunkIndex();
    show_progress(progress, "checking");
    check(t, path);
    show_progress(progress, "");
    if (rename(t.path.c_str(), path.c_str()) != 0) {
      die("cannot write '%s': %s", path.c_str(), std::strerror(errno));
    }
    g_have_temporary = 0;
  } catch (const Fatal& fatal) {
    std::string message = fatal.message;
    while (!message.empty() && message.back() == '\n') message.pop_back();
    die("%s", message.c_str());
  }
  return p;
}

}  // namespace zelk::import
