// zelkpress CHUNK OUTPUT: writes the compressed record of a chunk file.
//
// zelkpack stores whatever OUTPUT holds afterwards, so a regular file at
// OUTPUT is removed first and again on any failure: a failed run leaves no
// file behind. A link or a device at OUTPUT is written through, never
// removed; OUTPUT that is CHUNK itself is refused. It prints nothing on
// success (it shares standard output with zelkpack).
#include "toolkit/main.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codec/codec.h"
#include "codec/identity.h"
#include "codec/steps.h"
#include "toolkit/version.h"

// zelkpack finds this text in ./zelkpress and then compresses built in,
// knowing the bytes would be the same. It names the build: the sources and
// the library that decide the bytes.
[[gnu::used]] const char kCompanionTag[] = "zelkpress companion of build " ZELK_PRESS_BUILD;

namespace {

const char kUsage[] = "usage: zelkpress CHUNK OUTPUT\n";

// The status after printing --help or --version: 2 when it could not be
// written.
int printed() {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fprintf(stderr, "zelkpress: cannot write standard output: %s\n",
               std::strerror(errno ? errno : EIO));
  return 2;
}

int press_main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "%s"
        "Compresses the chunk file CHUNK into OUTPUT: one zlib stream, made with\n"
        "libdeflate at level %d. Used by zelkpack; see zelkpress(1).\n",
        kUsage, zelk::kCompressionLevel);
    return printed();
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("zelkpress %s (libdeflate %s)\n", zelk::kVersion, zelk::codec_version());
    return printed();
  }
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return zelk::press_file(argv[1], argv[2], stderr) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return zelk::run_main({"zelkpress", "out of memory", 1}, press_main, argc, argv);
}
