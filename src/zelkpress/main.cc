// zelkpress CHUNK OUTPUT: writes the compressed record of a chunk file.
//
// zelkpack runs it once per chunk and reads whatever OUTPUT holds afterwards,
// so OUTPUT is removed first and again on any failure: a failed run leaves
// no file behind. It prints nothing on success (it shares standard output
// with zelkpack).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/codec.h"

namespace {

const char kUsage[] = "usage: zelkpress CHUNK OUTPUT\n";

// Removes output when it is a regular file (or a link), never a device such
// as /dev/null; a directory stays and is reported by the open that follows.
void remove_output(const char* output) {
  struct stat st;
  if (lstat(output, &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) unlink(output);
}

int fail(const char* output, const char* what, const char* file) {
  int saved = errno;
  if (output) remove_output(output);
  std::fprintf(stderr, "zelkpress: %s '%s': %s\n", what, file, std::strerror(saved));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "%s"
        "Compresses the chunk file CHUNK into OUTPUT: one zlib stream, made with\n"
        "libdeflate at level %d. Used by zelkpack; see zelkpress(1).\n",
        kUsage, zelk::kCompressionLevel);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("zelkpress 1.2 (libdeflate %s)\n", zelk::codec_version());
    return 0;
  }
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* chunk = argv[1];
  const char* output = argv[2];
  remove_output(output);

  std::vector<unsigned char> text;
  std::FILE* in = std::fopen(chunk, "rb");
  if (!in) return fail(nullptr, "cannot open", chunk);
  unsigned char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) text.insert(text.end(), buf, buf + n);
  bool read_failed = std::ferror(in) != 0;
  std::fclose(in);
  if (read_failed) return fail(nullptr, "cannot read", chunk);

  std::vector<unsigned char> record = zelk::compress_chunk(text.data(), text.size());
  std::FILE* out = std::fopen(output, "wb");
  if (!out) return fail(output, "cannot create", output);
  bool ok = std::fwrite(record.data(), 1, record.size(), out) == record.size();
  if (std::fclose(out) != 0) ok = false;
  if (!ok) return fail(output, "cannot write", output);
  return 0;
}
