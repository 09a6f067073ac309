#include "zelkpack/pool.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/companion.h"
#include "codec/steps.h"
#include "convert/settings.h"

namespace zelk {

namespace {

constexpr int kWindowPerThread = 16;

// One chunk read and compressed.
struct Slot {
  int chunk = -1;  // the chunk it holds, once ready
  bool ready = false;
  FileRead read;
  bool no_memory = false;
  std::vector<unsigned char> record;
};

// Reads chunk i's file and compresses it into slot, as zelkpress would.
void read_and_compress(Compressor& compressor, int i, std::vector<unsigned char>& text,
                       Slot& slot) {
  slot.no_memory = false;
  slot.read = FileRead();
  try {
    slot.read = read_file(chunk_path(i, "txt").c_str(), text);
    if (slot.read.ok) compress_chunk(compressor, text.data(), text.size(), slot.record);
  } catch (const std::bad_alloc&) {
    slot.no_memory = true;
  } catch (const std::length_error&) {
    slot.no_memory = true;
  }
}

}  // namespace

// Chunks are claimed in order by the threads and by the writing thread
// itself, whenever the chunk it waits for is not ready yet; chunk i lives in
// slots[i % window] until the writing thread takes it.
struct PressPool {
  int chunks = 0;
  int window = 0;
  std::mutex m;
  std::condition_variable wake_workers, wake_writer;
  int next = 0;   // the next chunk to claim
  int taken = 0;  // chunks the writing thread has taken
  bool stop = false;
  int idle_workers = 0;
  bool writer_waiting = false;
  std::vector<Slot> slots;
  std::vector<std::thread> workers;
  // The writing thread's own.
  Compressor compressor;
  std::vector<unsigned char> text;
  Slot current, helped;

  ~PressPool() { stop_workers(); }

  void stop_workers() {
    {
      std::lock_guard<std::mutex> lock(m);
      stop = true;
    }
    wake_workers.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
  }

  // Under the lock: the next chunk to read and compress, or -1 when all are
  // claimed or the window is full.
  int claim() {
    if (next >= chunks || next >= taken + window) return -1;
    return next++;
  }

  // Under the lock: files chunk i's outcome (s takes the slot's old buffers).
  void store(int i, Slot& s) {
    Slot& slot = slots[static_cast<size_t>(i % window)];
    std::swap(slot, s);
    slot.chunk = i;
    slot.ready = true;
  }
};

namespace {

void work(PressPool& pool, Compressor compressor) {
  std::vector<unsigned char> text;
  Slot mine;
  for (;;) {
    int i;
    {
      std::unique_lock<std::mutex> lock(pool.m);
      while (!pool.stop && (i = pool.claim()) < 0) {
        if (pool.next >= pool.chunks) return;
        ++pool.idle_workers;
        pool.wake_workers.wait(lock);
        --pool.idle_workers;
      }
      if (pool.stop) return;
    }
    read_and_compress(compressor, i, text, mine);
    bool wake;
    {
      std::lock_guard<std::mutex> lock(pool.m);
      pool.store(i, mine);
      wake = pool.writer_waiting;
    }
    if (wake) pool.wake_writer.notify_one();
  }
}

// Compressing threads in all, the writing thread included.
std::unique_ptr<PressPool> start_pool(int chunks) {
  auto pool = std::make_unique<PressPool>();
  pool->compressor = make_compressor();
  int threads = std::min(compress_threads(), chunks);
  pool->chunks = chunks;
  pool->window = kWindowPerThread * threads;
  pool->slots.resize(static_cast<size_t>(pool->window));
  for (int t = 1; t < threads; ++t) {
    try {
      pool->workers.emplace_back(work, std::ref(*pool), make_compressor());
    } catch (const std::bad_alloc&) {
      break;  // fewer threads do the same work
    } catch (const std::system_error&) {
      break;
    }
  }
  return pool;
}

// Waits for chunk i, compressing others meanwhile, and moves it to out.
void take(PressPool& pool, int i, Slot& out) {
  std::unique_lock<std::mutex> lock(pool.m);
  Slot& slot = pool.slots[static_cast<size_t>(i % pool.window)];
  while (!(slot.ready && slot.chunk == i)) {
    int j = pool.claim();
    if (j >= 0) {
      lock.unlock();
      read_and_compress(pool.compressor, j, pool.text, pool.helped);
      lock.lock();
      pool.store(j, pool.helped);
      continue;
    }
    pool.writer_waiting = true;
    pool.wake_writer.wait(lock);
    pool.writer_waiting = false;
  }
  std::swap(slot, out);
  slot.ready = false;
  pool.taken = i + 1;
  bool wake = pool.idle_workers > 0;
  lock.unlock();
  if (wake) pool.wake_workers.notify_one();
}

void press_built_in(PressPool& pool, int i) {
  std::string txt = chunk_path(i, "txt"), txz = chunk_path(i, "txz");
  OutputState output = prepare_output(txt.c_str(), txz.c_str(), stderr);
  if (output == OutputState::kIsInput) return;
  if (output == OutputState::kWriteThrough) {
    // The record goes through a link or to a device and may land in a chunk
    // file already read. From here on each chunk is read when its turn
    // comes, as the program would read it.
    pool.stop_workers();
    for (Slot& s : pool.slots) s.ready = false;
    pool.next = i;
    pool.window = 1;
  }
  take(pool, i, pool.current);
  const Slot& result = pool.current;
  if (result.no_memory) throw std::bad_alloc();
  if (!result.read.ok) {
    say_read_failure(result.read, txt.c_str(), stderr);
    return;
  }
  write_output(txz.c_str(), result.record, stderr);
}

}  // namespace

Press::Press() = default;
Press::Press(Press&&) noexcept = default;
Press& Press::operator=(Press&&) noexcept = default;
Press::~Press() = default;

Press start_press(int chunks) {
  Press press;
  const char* spawn = std::getenv("ZELKPACK_SPAWN");
  if (spawn && std::strcmp(spawn, "1") == 0) return press;
  struct stat st;
  bool nothing = lstat(kCompressorPath, &st) != 0 && errno == ENOENT;
  if (!nothing && !is_companion(kCompressorPath)) return press;
  press.built_in = true;
  press.pool = start_pool(chunks);
  return press;
}

void press_chunk(Press& press, int i) {
  std::fflush(stdout);  // the program shares standard output
  if (press.built_in) {
    press_built_in(*press.pool, i);
    return;
  }
  std::string command =
      std::string(kCompressorPath) + " " + chunk_path(i, "txt") + " " + chunk_path(i, "txz");
  int status = std::system(command.c_str());
  (void)status;  // only the file it leaves behind counts
}

}  // namespace zelk
