#include "toolkit/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk {

namespace {

// The temporary file being written, for the signal handler to remove.
char g_temporary[PATH_MAX + 1];
volatile std::sig_atomic_t g_have_temporary = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGABRT};
struct sigaction g_saved[std::size(kEndingSignals)];
struct sigaction g_saved_xfsz;

extern "C" void remove_temporary(int sig) {
  if (g_have_temporary) unlink(g_temporary);
  g_have_temporary = 0;
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void take_signals() {
  struct sigaction sa {};
  sa.sa_handler = remove_temporary;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &sa, &g_saved[i]);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &g_saved_xfsz);
}

void give_back_signals() {
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &g_saved[i], nullptr);
  }
  sigaction(SIGXFSZ, &g_saved_xfsz, nullptr);
}

std::string base_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the links that name leads to end; name itself when it is no link.
std::string link_target(const std::string& name) {
  std::string path = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) cannot_write(name, errno ? errno : ELOOP);
    std::string next(buf, static_cast<size_t>(n));
    path = next[0] == '/' || path.find('/') == std::string::npos
               ? next
               : path.substr(0, path.rfind('/') + 1) + next;
  }
  cannot_write(name, ELOOP);
}

// The hidden name beside target: ".NAME.XXXXXX", the name shortened when
// that would be longer than the folder allows.
std::string temporary_name(const std::string& name, const std::string& target) {
  std::string folder = folder_of(target), base = base_of(target);
  long most = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (most < 0) cannot_write(name, errno);
  if (base.empty() || base.size() > static_cast<size_t>(most)) cannot_write(name, ENAMETOOLONG);
  constexpr size_t kAdded = 8;  // "." before, ".XXXXXX" after
  std::string kept = base.substr(0, std::min(base.size(), static_cast<size_t>(most) - kAdded));
  std::string path = target.find('/') == std::string::npos ? "" : folder + "/";
  path += "." + kept + ".XXXXXX";
  if (path.size() > PATH_MAX) cannot_write(name, ENAMETOOLONG);
  return path;
}

// Creates the temporary file with the signals blocked, so that the handler
// knows its name before it exists.
int create_temporary(const std::string& name, std::string& path) {
  std::memcpy(g_temporary, path.c_str(), path.size() + 1);
  sigset_t block, saved;
  sigemptyset(&block);
  for (int sig : kEndingSignals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &saved);
  int fd = mkostemp(g_temporary, O_CLOEXEC);
  int error = errno;
  if (fd >= 0) {
    path = g_temporary;
    g_have_temporary = 1;
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  if (fd < 0) cannot_write(name, error);
  return fd;
}

}  // namespace

void cannot_write(const std::string& name, int error) {
  die("cannot write '%s': %s", name.c_str(), std::strerror(error));
}

Output::Output(Output&& other) noexcept
    : name(std::move(other.name)),
      target(std::move(other.target)),
      temporary(std::move(other.temporary)),
      fd(std::exchange(other.fd, -1)),
      committed(std::exchange(other.committed, true)) {}

Output::~Output() {
  if (fd >= 0) close(fd);
  if (committed) return;
  if (!temporary.empty()) {
    unlink(temporary.c_str());
    g_have_temporary = 0;
  }
  give_back_signals();
}

Output open_output(const std::string& name) {
  Output out;
  out.name = name;
  out.target = link_target(name);
  struct stat st;
  bool exists = stat(out.target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) cannot_write(name, EISDIR);
  take_signals();
  out.committed = false;
  if (exists && !S_ISREG(st.st_mode)) {  // a device or a pipe: written in place
    out.fd = open(out.target.c_str(), O_WRONLY | O_CLOEXEC);
    if (out.fd < 0) {
      int error = errno;
      give_back_signals();
      cannot_write(name, error);
    }
    return out;
  }
  try {
    out.temporary = temporary_name(name, out.target);
    out.fd = create_temporary(name, out.temporary);
  } catch (...) {
    out.temporary.clear();
    give_back_signals();
    out.committed = true;  // nothing to remove
    throw;
  }
  if (exists) {
    // The replacement keeps the owner (where allowed) and permission bits.
    if (fchown(out.fd, st.st_uid, st.st_gid) != 0) {
      // Only root may give a file away; the bits below still apply.
    }
    fchmod(out.fd, st.st_mode & 07777);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(out.fd, 0666 & ~mask);
  }
  return out;
}

void commit_output(Output& out) {
  if (out.temporary.empty()) {
    out.committed = true;
    give_back_signals();
    return;
  }
  if (fsync(out.fd) != 0) cannot_write(out.name, errno);
  if (rename(out.temporary.c_str(), out.target.c_str()) != 0) cannot_write(out.name, errno);
  g_have_temporary = 0;
  out.committed = true;
  give_back_signals();
  // The rename is on the disk once the folder is.
  int folder = open(folder_of(out.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
}

}  // namespace zelk
