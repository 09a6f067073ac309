#include "helpers.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zelk_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelk-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore write permission so directories made read-only by a test go too.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path, ec)) {
    if (entry.is_directory(ec)) chmod(entry.path().c_str(), 0755);
  }
  std::filesystem::remove_all(path, ec);
}

static std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

RunResult run_in(const std::string& dir, const std::string& program,
                 const std::vector<std::string>& args, const std::string& prefix) {
  std::string out = dir + "/.stdout", err = dir + "/.stderr";
  std::string launch = prefix.empty() || prefix.back() == ';' ? prefix + " exec " : prefix + " ";
  std::string command = "cd " + quote(dir) + " && " + launch + quote(program);
  for (const std::string& arg : args) command += " " + quote(arg);
  command += " </dev/null >" + quote(out) + " 2>" + quote(err);
  int raw = std::system(command.c_str());
  RunResult result;
  if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) result.status = 128 + WTERMSIG(raw);
  result.out = read_file(out);
  result.err = read_file(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return result;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::map<std::string, std::string> read_tree(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto& entry : std::filesystem::recursive_directory_iterator(dir, ec)) {
    if (entry.is_regular_file(ec)) {
      files[std::filesystem::relative(entry.path(), dir).string()] =
          read_file(entry.path().string());
    }
  }
  return files;
}

int memory_file(const std::string& bytes) {
  int fd = memfd_create("zelk-test", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("cannot write a memory file");
    done += static_cast<size_t>(n);
  }
  return fd;
}

void write_script(const std::string& path, const std::string& body) {
  write_file(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

void install_copy(const std::string& from, const std::string& to, unsigned mode) {
  write_file(to, read_file(from));
  chmod(to.c_str(), mode);
}

std::string chunk_files(const std::string& dir) {
  std::string chunks;
  char name[32];
  for (int i = 0; std::snprintf(name, sizeof name, "/out/dic%04d.txt", i), file_exists(dir + name);
       ++i) {
    chunks += read_file(dir + name);
  }
  return chunks;
}

std::string be32(unsigned long v) {
  return {static_cast<char>(v >> 24 & 0xFF), static_cast<char>(v >> 16 & 0xFF),
          static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)};
}

}  // namespace zelk_test
