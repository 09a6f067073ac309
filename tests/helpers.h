// Helpers for tests that run the real programs in a scratch directory.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zelk_test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs program with args in dir, with an empty standard input. prefix is
// either shell statements ending in ';' run first ("ulimit -f 8;") or a
// command that runs the program ("setpriv --reuid=65534 ...").
RunResult run_in(const std::string& dir, const std::string& program,
                 const std::vector<std::string>& args, const std::string& prefix = "");

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
// Every regular file below dir (names relative to it) with its bytes.
std::map<std::string, std::string> read_tree(const std::string& dir);
// A file in memory holding bytes, open for reading and writing (a memfd).
int memory_file(const std::string& bytes);
// Writes an executable shell script.
void write_script(const std::string& path, const std::string& body);
// Copies a program (as ./zelkpress into a scratch directory, say).
void install_copy(const std::string& from, const std::string& to, unsigned mode = 0755);
// The chunk files out/dic0000.txt, out/dic0001.txt, ... below dir, one after
// the other.
std::string chunk_files(const std::string& dir);
// The four big-endian bytes of a value, for expected file contents.
std::string be32(unsigned long v);

}  // namespace zelk_test

#ifdef ZELKPACK
#include <gtest/gtest.h>

namespace zelk_test {

// zelkpack run in a scratch directory of its own.
class ZelkpackRun : public ::testing::Test {
 protected:
  TempDir dir;
  RunResult run(const std::vector<std::string>& args, const std::string& prefix = "") {
    return run_in(dir.path, ZELKPACK, args, prefix);
  }
  std::string file(const std::string& name) { return read_file(dir / name); }
  void input(const std::string& bytes) { write_file(dir / "d.txt", bytes); }
};

}  // namespace zelk_test
#endif
