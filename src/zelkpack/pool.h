// Making out/dic####.txz for each chunk when records are compressed: by
// running "./zelkpress out/dic####.txt out/dic####.txz" through the shell, or
// with the same compressor built in. Built in is used when nothing at all is
// at ./zelkpress, or when ./zelkpress is the companion of this build; the
// environment variable ZELKPACK_SPAWN=1 always runs the program.
//
// Built in, chunk files are read and compressed ahead on a pool of threads
// (one a core, at most ZELKPACK_THREADS), a window of chunks at a time, while
// the writing thread takes zelkpress's file steps for each chunk in chunk
// order, exactly when the program would have run: the same files appear in
// the same order, with the same messages.
#pragma once

#include <memory>

namespace zelk {

inline constexpr const char kCompressorPath[] = "./zelkpress";

struct PressPool;

struct Press {
  bool built_in = false;
  std::unique_ptr<PressPool> pool;  // built in: the threads and their chunks
  Press();
  Press(Press&&) noexcept;
  Press& operator=(Press&&) noexcept;
  ~Press();  // stops the pool's threads
};

// Decides, once per run, how the chunks are compressed, and starts the pool
// when built in.
Press start_press(int chunks);

// Leaves out/dic####.txz for chunk i (chunks in order, from 0) as ./zelkpress
// would. Standard output is flushed first: it is shared with the program.
void press_chunk(Press& press, int i);

}  // namespace zelk
