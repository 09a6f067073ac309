// How serve meets its clients, so that slow or idle ones cannot hold it:
// each connection is answered on a thread of its own (threads are started
// as connections come, up to kMaxConnections at once, and kept for the next
// ones), and each request must arrive whole within kRequestSeconds of its
// first byte, else the connection is closed. cpp-httplib reads requests
// with a timeout per read only, on a fixed pool of threads: a client that
// sends a byte every few seconds would hold a thread for hours, and a few
// dozen such clients every thread. Its two extension points are classes to
// derive from, hence the two below.
#pragma once

#include <httplib.h>

namespace zelk {

inline constexpr int kRequestSeconds = 4;        // for a request's line and headers
inline constexpr size_t kMaxConnections = 1024;  // answered at once; more wait their turn

// A server whose connections are read with a deadline for each request.
class GuardedServer : public httplib::Server {
 private:
  bool process_and_close_socket(socket_t sock) override;
};

// The threads that answer connections, for Server::new_task_queue.
httplib::TaskQueue* new_connection_threads();

}  // namespace zelk
